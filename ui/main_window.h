// The program's one window: fixed size, caption and close box only, the control panel filling it, the held
// image and the session control that the panel's buttons drive.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "session/session_control.h"
#include "ui/control_panel.h"
#include "ui/load_software.h"

inline constexpr const char* kProductTitle = "Phone Flash Updater";

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    MainWindow();
    ~MainWindow() override;

    ControlPanel& panel() { return *panel_; }
    SessionControl& session() { return *session_; }
    const HeldImage& heldImage() const { return held_; }

    // Seams: the open-file dialog, and which device each port digit names (the link and the tooltips).
    void setOpenFileFunction(OpenFileFunction function) { openFile_ = std::move(function); }
    void setPortResolver(const std::function<std::string(char)>& resolver);

    // Loads `path` as Load SW does when the dialog returns it.
    void loadImageFile(const std::string& path);

    // Places the window centred on a screen of the given size.
    void centreOnScreen(int screenWidth, int screenHeight);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void onUpdatePressed();
    void onLoadSoftwarePressed();

    ControlPanel* panel_;  // child of this window
    HeldImage held_;       // declared before the session, which reads it: destroyed after it
    std::unique_ptr<SessionControl> session_;
    OpenFileFunction openFile_;
};
