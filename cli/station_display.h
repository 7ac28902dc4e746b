// The terminal side of a multi-port run. On a terminal: one line per port, redrawn in place a few times a
// second, with messages scrolling above them. Elsewhere: plain lines, each prefixed by its port, no carriage
// returns. Its own thread does all the writing, so no session's worker ever waits for the terminal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One port's line, as its panel last left it.
struct PortView {
    std::string status;
    std::string model;  // "T1x" / "A1018s"
    std::string imei;   // as shown: 490154-20-323751-8
    std::uint32_t range = 0;
    std::uint32_t position = 0;
    std::chrono::seconds elapsed{-1};  // since the phone was detected; negative: no phone this session
    std::string last;                  // how the port's last session ended
};

class StationDisplay {
  public:
    using ViewSource = std::function<PortView()>;

    // `labels` and `views` by port, in the order given on the command line.
    StationDisplay(int fd, bool terminal, std::vector<std::string> labels, std::vector<ViewSource> views);
    ~StationDisplay();  // the last state drawn, then ends
    StationDisplay(const StationDisplay&) = delete;
    StationDisplay& operator=(const StationDisplay&) = delete;

    bool terminal() const { return terminal_; }
    // A line of its own for port `index`; several lines when `text` holds line breaks. Never blocks.
    void line(std::size_t index, const std::string& text);

  private:
    void run();
    std::string block(int columns) const;

    const int fd_;
    const bool terminal_;
    std::vector<std::string> labels_;  // padded to one width
    std::vector<ViewSource> views_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::string> pending_;  // guarded by mutex_, with the fields below
    std::size_t dropped_ = 0;
    bool closing_ = false;
    std::thread thread_;
};

// The line a terminal shows for a port, before it is fitted to the width.
std::string portLine(const std::string& label, const PortView& view);
