// One port of a station: its own session control and link, the panel its sessions talk to, and the loop
// that starts session after session. It knows its station only through PortSetup (the image, the repeat
// flag, an event sink); it never writes anything itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "serial/serial_link.h"
#include "session/panel.h"
#include "session/session_control.h"
#include "station/port_view.h"
#include "station/session_record.h"

inline constexpr const char* kSamePhoneText = "same phone again: switch it off and connect the next one";
inline constexpr const char* kIdleText = "stopped while waiting for a phone";

// "PATH: why", with the fix for a permission problem.
std::string whyPortFailed(const SerialLink& link);

// A panel with no window behind it: no image fields, controls or redraws, and the session is given its
// port, so it never asks which one is selected.
class HeadlessPanel : public Panel {
  public:
    void clearImageFields() override {}
    char selectedPortDigit() override { return 0; }
    void setControlEnabled(int, bool) override {}
    void setControlVisible(int, bool) override {}
    void redrawPanel() override {}
};

// The front end of a lone port (`flash` with one port, once): every panel call of its session as it comes,
// and the lines the port adds of its own (why it would not open).
class LonePanel : public HeadlessPanel {
  public:
    virtual void note(const std::string& line) = 0;
};

// What a port tells its owner, from the port's own threads (its loop, its session's worker): an
// implementation queues and returns at once.
class PortEvents {
  public:
    virtual ~PortEvents() = default;
    // A state change, for --events.
    virtual void stateChanged(std::size_t port, const SessionRecord& record) = 0;
    // A finished session, for the log, --events and the totals.
    virtual void sessionEnded(std::size_t port, const SessionRecord& record) = 0;
    // A line for the display. `progress` lines (the status and the fields) are for plain output only: a
    // terminal shows them on the port's own line.
    virtual void portLine(std::size_t port, const std::string& text, bool progress) = 0;
};

struct PortSetup {
    std::size_t index = 0;
    std::string label;  // as given: a device path or COM1..COM4
    const FlashImage& image;
    bool repeat = false;
    // A session with a phone that moves no byte either way for this long is shown as stalled (it goes on).
    std::chrono::milliseconds stallAfter{30'000};
    PortEvents& events;
    LonePanel* lone = nullptr;         // for a lone port: its session's panel calls go there too
    LinkObserver* observer = nullptr;  // sees every byte of the port's link (the trace)
};

class StationPort final : public HeadlessPanel {
  public:
    explicit StationPort(PortSetup setup);
    ~StationPort() override;

    void start();
    void stop();  // no session starts after it; the running one is aborted
    void join();
    PortView view() const;

    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;

  private:
    using Steady = std::chrono::steady_clock;

    void run();
    int waitWatchingProgress();
    void beginSession(bool quiet);
    void endSession(int result, bool record);
    SessionRecord snapshot();  // mutex_ held
    bool sameAsLastUpdated(std::string_view imei);

    const PortSetup setup_;
    const PortTarget target_;

    std::mutex runMutex_;
    std::condition_variable runWake_;
    bool stopping_ = false;  // guarded by runMutex_
    std::thread thread_;

    mutable std::mutex mutex_;  // everything below
    bool quiet_ = false;        // a port still busy since the last try: say nothing until it opens
    PortActivity state_ = PortActivity::Waiting;
    std::string problem_;  // why the port cannot be opened, while it cannot
    std::string failure_;  // how the last session failed, while the port shows it
    std::string status_;
    std::string step_;  // the last status before the idle reset's "Ready": where the session ended
    std::map<int, std::string> shown_;
    std::string model_;
    std::string imei_;
    std::string lastUpdated_;  // the IMEI of the phone this port updated last
    std::uint32_t range_ = 0;
    std::uint32_t position_ = 0;
    std::uint64_t bytesAtStart_ = 0;
    WallClock::time_point started_;
    std::optional<WallClock::time_point> detected_;
    Steady::time_point detectedSteady_;
    std::optional<Steady::time_point> clockStopped_;
    bool stalled_ = false;
    std::uint64_t progress_ = 0;  // bytes both ways when it last changed
    Steady::time_point progressAt_;
    LastPhone last_;

    // Last: made after the state its sessions report into, and gone before it.
    SessionControl control_;
};
