// `flash` over one or more ports at once: one session per port, each with its own link and worker, all
// sending the one image; with `repeat`, every port goes back to waiting for the next phone after each
// session. Records every session (--log) and state change (--events).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/session_record.h"
#include "image/flash_image.h"

class LineQueue;
class StationDisplay;
class StationPort;
class TerminalPanel;

struct StationOptions {
    std::vector<std::string> ports;  // as given: a device path or COM1..COM4
    bool repeat = false;
    bool events = false;  // records of every state change on stdout
    int logFd = -1;       // open for appending, or -1
};

class Station {
  public:
    // With `classic` (one port only), the port's session prints through it exactly as a lone `flash` does.
    Station(const FlashImage& image, RecordImage recordImage, StationOptions options, TerminalPanel* classic);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Runs every port until each is done: after one session each, or with `repeat` until stop().
    void run();
    // Any thread, at any time (also before run()): no session starts after it and the running ones are
    // aborted, all ports at once; returns when every port has stopped.
    void stop(int signal);
    // 128 + the signal after stop(); else 0 when every session succeeded, else the first failure's code.
    int exitCode() const;
    // False when a record could not be written (the log or the events).
    bool recordsWritten() const;

    // For the ports.
    const FlashImage& image() const { return image_; }
    bool repeat() const { return options_.repeat; }
    std::size_t portCount() const { return options_.ports.size(); }
    StationDisplay* display() const { return display_.get(); }
    void event(const SessionRecord& record);
    void finished(std::size_t port, const SessionRecord& record);

  private:
    const FlashImage& image_;
    const RecordImage recordImage_;
    const StationOptions options_;
    std::vector<std::unique_ptr<StationPort>> ports_;
    std::unique_ptr<StationDisplay> display_;
    std::unique_ptr<LineQueue> events_;

    std::atomic<int> signal_{0};
    mutable std::mutex mutex_;
    int firstFailure_ = 0;  // guarded by mutex_
    bool logFailed_ = false;
};
