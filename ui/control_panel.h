// The one panel that fills the main window: its 37 controls, the panel operations the session and Load SW
// use, and the three timers (clock, activity lights, window icon). UI thread only: the session's worker
// reaches it through SessionControl's executor.
#pragma once

#include <QBasicTimer>
#include <QButtonGroup>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <string>

#include "serial/port_info.h"
#include "session/panel.h"
#include "ui/clock_counter.h"

inline constexpr int kClockIntervalMs = 1000;
inline constexpr int kLightsIntervalMs = 10;
inline constexpr int kIconIntervalMs = 100;
inline constexpr int kFirstIconId = 105;
inline constexpr int kIconCount = 6;

// Fixed pixels of the two activity lights at the right end of the bottom row.
inline constexpr int kLightSize = 7;
inline constexpr int kReceiveLightX = 328;
inline constexpr int kReceiveLightY = 180;
inline constexpr int kSendLightX = 328;
inline constexpr int kSendLightY = 189;

class QMessageBox;

// The box showMessage shows: caption, plain text, the detail (if any) as its informative text under it, the
// error icon or none, one OK button, application-modal.
void configureMessageBox(QMessageBox& box, const std::string& text, const std::string& detail,
                         const std::string& caption, MessageIcon icon);

class ControlPanel : public QWidget, public Panel {
    Q_OBJECT

  public:
    // Replaces running the modal message box (tests): receives the box as it would show.
    using MessageBoxFunction = std::function<void(QMessageBox& box)>;
    // Why the session's port would not open, for the "Port is busy" box: "PATH: why: fix".
    using PortFailureFunction = std::function<std::string()>;
    // Maps a port digit to the device its radio button's tooltip names (default: defaultPortPath).
    using PortPathFunction = std::function<std::string(char portDigit)>;

    explicit ControlPanel(QWidget* parent = nullptr);
    ~ControlPanel() override;

    // Panel operations.
    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void clearImageFields() override;
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    // "Port is busy" gets the port failure as its detail.
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void showDetailedMessage(const std::string& text, const std::string& detail, const std::string& caption,
                             MessageIcon icon) override;
    char selectedPortDigit() override;
    void setControlEnabled(int control, bool enabled) override;
    void setControlVisible(int control, bool visible) override;
    void redrawPanel() override;

    void toggleAbout();
    bool aboutShown() const { return aboutShown_; }

    // The flag the clock follows (the session's clockRunning); the clock stays stopped without one.
    void setClockSource(const std::atomic<bool>* clockRunning) { clockRunning_ = clockRunning; }
    // The flag that keeps the lights ticking (the session's sessionRunning). Only an open port raises the
    // activity flags, so between sessions the lights timer stops itself once both lights are off, and
    // startLights() wakes it when a session starts: an idle window does not wake 100 times a second.
    void setLightsSource(const std::atomic<bool>* sessionRunning) { sessionRunning_ = sessionRunning; }
    void startLights();
    bool lightsTimerActive() const { return lightsTimer_.isActive(); }

    // Timer handlers, public so tests can tick without waiting for the timers.
    void clockTick();
    void lightsTick();
    void iconTick();
    void stopTimers();

    void setMessageBoxFunction(MessageBoxFunction function) { messageBox_ = std::move(function); }
    void setPortFailureFunction(PortFailureFunction function) { portFailure_ = std::move(function); }
    void setPortPathFunction(PortPathFunction function);
    // Where the port tooltips look the devices up (default: the system's own tables).
    void setPortRoots(const SystemRoots& roots);
    const SystemRoots& portRoots() const { return portRoots_; }
    void refreshPortTooltips();

    QWidget* control(int id) const;
    QString text(int id) const;
    bool receiveLit() const { return receiveLit_; }
    bool sendLit() const { return sendLit_; }
    int iconFrame() const { return iconFrame_; }
    const QIcon& icon(int iconId) const { return icons_.at(static_cast<std::size_t>(iconId - kFirstIconId)); }
    const QFont& valueFont() const { return valueFont_; }

  signals:
    void updatePressed();
    void loadSoftwarePressed();
    // Emitted once, at the first paint of the panel.
    void firstPainted();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createControls();
    void initialise();
    QWidget* createControl(const struct ControlEntry& entry);
    void repaintLight(int x, int y);
    void refreshPortTooltip(int index);

    std::map<int, QWidget*> controls_;
    QButtonGroup ports_;
    QFont valueFont_;
    QPixmap ledStrip_;
    std::array<QIcon, kIconCount> icons_;
    QBasicTimer clockTimer_;
    QBasicTimer lightsTimer_;
    QBasicTimer iconTimer_;
    ClockCounter clock_;
    const std::atomic<bool>* clockRunning_ = nullptr;
    const std::atomic<bool>* sessionRunning_ = nullptr;
    std::uint32_t progressRange_ = 100;
    std::uint32_t progressPosition_ = 0;
    bool aboutShown_ = false;
    bool receiveLit_ = false;
    bool sendLit_ = false;
    bool painted_ = false;
    int iconFrame_ = 0;
    MessageBoxFunction messageBox_;
    PortFailureFunction portFailure_;
    PortPathFunction portPath_;
    SystemRoots portRoots_;
};
