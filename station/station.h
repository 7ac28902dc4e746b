// `flash` over one or more ports at once: one session per port, each with its own link and worker, all
// sending the one image; with `repeat`, every port goes back to waiting for the next phone after each
// session. Records every session (--log) and state change (--events), shows the ports (a display) and, when
// asked, traces every byte on the wire (--trace). Nothing here knows the command line that drives it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "station/port_view.h"
#include "station/session_record.h"
#include "station/station_io.h"
#include "station/station_port.h"

class LineQueue;
class StationDisplay;
class WireTrace;

struct StationOptions {
    std::vector<std::string> ports;  // as given: a device path or COM1..COM4
    bool repeat = false;
    bool events = false;  // records of every state change, on eventsFd
    int logFd = -1;       // open for appending, or -1
    int traceFd = -1;     // the wire trace, or -1
    int eventsFd = kStdoutFd;
    int displayFd = kStderrFd;  // a terminal gets the redrawn lines, anything else plain ones
    std::chrono::milliseconds stallAfter{30'000};
};

class Station final : private PortEvents {
  public:
    // With `lone` (one port only), the port's session prints through it exactly as a lone `flash` does.
    Station(const FlashImage& image, RecordImage recordImage, StationOptions options, LonePanel* lone);
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Runs every port until each is done: after one session each, or with `repeat` until stop().
    void run();
    // Any thread, at any time (also before run()): no session starts after it and the running ones are
    // aborted, all ports at once; returns when every port has stopped.
    void stop(int signal);
    // 128 + the signal after stop(); else 0 when every session succeeded, else the first failure's code.
    int exitCode() const;
    // False when a record could not be written (the log, the events or the trace).
    bool recordsWritten() const;
    StationTotals totals() const;
    // The display's terminal changed its size: it is repainted at once.
    void terminalResized();

  private:
    void stateChanged(std::size_t port, const SessionRecord& record) override;
    void sessionEnded(std::size_t port, const SessionRecord& record) override;
    void portLine(std::size_t port, const std::string& text, bool progress) override;

    const RecordImage recordImage_;
    const StationOptions options_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::unique_ptr<WireTrace> trace_;  // before the ports, whose links report to it
    std::unique_ptr<LineQueue> events_;
    std::vector<std::unique_ptr<StationPort>> ports_;
    std::unique_ptr<StationDisplay> display_;

    std::atomic<int> signal_{0};
    mutable std::mutex mutex_;
    int firstFailure_ = 0;  // guarded by mutex_, with the fields below
    bool logFailed_ = false;
    StationTotals totals_;
};
