// One port of a station: its own session control and link, the panel its sessions talk to, and the loop
// that starts session after session. The panel only keeps state and hands lines on; it never writes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "cli/session_record.h"
#include "cli/station_display.h"
#include "session/panel.h"
#include "session/session_control.h"

class Station;
class TerminalPanel;

inline constexpr const char* kSamePhoneText = "same phone again: switch it off and connect the next one";

// "PATH: why", with the fix for a permission problem.
std::string whyPortFailed(const SerialLink& link);

class StationPort final : public Panel {
  public:
    StationPort(Station& station, std::size_t index, std::string label, TerminalPanel* classic);
    ~StationPort() override;

    void start();
    void stop();  // no session starts after it; the running one is aborted
    void join();
    PortView view() const;

    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void clearImageFields() override {}
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    char selectedPortDigit() override { return digit_ ? digit_ : '1'; }
    void setControlEnabled(int, bool) override {}
    void setControlVisible(int, bool) override {}
    void redrawPanel() override {}

  private:
    using Steady = std::chrono::steady_clock;

    void run();
    void beginSession(bool quiet);
    void endSession(int result, bool record);
    SessionRecord snapshot();  // mutex_ held
    void say(const std::string& text);
    bool sameAsLastUpdated(std::string_view imei);

    Station& station_;
    const std::size_t index_;
    const std::string label_;
    const char digit_;  // '1'..'4' for COM1..COM4, else 0 (a device path)
    TerminalPanel* const classic_;

    std::mutex runMutex_;
    std::condition_variable runWake_;
    bool stopping_ = false;  // guarded by runMutex_
    std::thread thread_;

    mutable std::mutex mutex_;  // everything below
    bool quiet_ = false;        // a port still busy since the last try: say nothing until it opens
    std::string status_;
    std::string step_;  // the last status before the idle reset's "Ready": where the session ended
    std::map<int, std::string> shown_;
    std::string model_;
    std::string imeiText_;
    std::string imei_;
    std::string lastUpdated_;  // the IMEI of the phone this port updated last
    std::int64_t framesSent_ = 0;
    std::uint32_t range_ = 0;
    std::uint32_t position_ = 0;
    std::uint64_t bytesAtStart_ = 0;
    WallClock::time_point started_;
    std::optional<WallClock::time_point> detected_;
    Steady::time_point detectedSteady_;
    std::optional<Steady::time_point> clockStopped_;
    std::string last_;

    // Last: made after the state its sessions report into, and gone before it.
    SessionControl control_;
};
