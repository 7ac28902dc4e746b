// The terminal side of a multi-port run. On a terminal: a header line with the station's totals and one line
// per port, redrawn in place a few times a second and fitted to the terminal's width, with messages scrolling
// above them; a change of the terminal's size repaints the screen whole. Elsewhere: plain lines, each
// prefixed by its port, no carriage returns. Its own thread draws and hands the text to a writer of its own,
// so no session's worker ever waits for the terminal, and a terminal that stops taking output (Ctrl-S) holds
// up the end only for a bounded wait.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/output_queue.h"
#include "station/port_view.h"

class StationDisplay {
  public:
    using ViewSource = std::function<PortView()>;
    using TotalsSource = std::function<StationTotals()>;

    // `labels` and `views` by port, in the order given on the command line.
    StationDisplay(int fd, bool terminal, std::vector<std::string> labels, std::vector<ViewSource> views,
                   TotalsSource totals);
    // The last state drawn; what a stopped terminal has not taken after OutputQueue's grace is dropped, and
    // standard error says so.
    ~StationDisplay();
    StationDisplay(const StationDisplay&) = delete;
    StationDisplay& operator=(const StationDisplay&) = delete;

    bool terminal() const { return terminal_; }
    // A line of its own for port `index`; several lines when `text` holds line breaks. Never blocks.
    void line(std::size_t index, const std::string& text);
    // The terminal's size changed (SIGWINCH): the screen is repainted whole at once. The size is also looked
    // at every redraw, for systems and callers without the signal.
    void resized();

  private:
    void run();
    std::vector<std::string> block(int columns) const;
    std::string draw(const std::vector<std::string>& lines, std::size_t dropped, bool repaint);

    const int fd_;
    const bool terminal_;
    std::vector<std::string> labels_;  // plain: "PORT:"; terminal: the short names, padded to one width
    std::vector<ViewSource> views_;
    TotalsSource totals_;

    // The drawing thread's own.
    std::vector<std::string> shown_;  // the block as last drawn
    int shownColumns_ = 0;
    int shownRows_ = 0;
    std::deque<std::string> recent_;  // the latest messages, to repaint the screen with

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::string> pending_;  // guarded by mutex_, with the fields below
    std::size_t dropped_ = 0;
    bool resized_ = false;
    bool closing_ = false;
    OutputQueue out_;
    std::thread thread_;
};

// The name a port's line starts with: its label without "/dev/", cut from the left to 12 characters.
std::string shortPortName(const std::string& label);
// A port's line at `columns`: the name (already padded), state, IMEI, percent, elapsed time and the last
// phone's outcome first, then as much more as fits. Never wider than `columns`.
std::string portLine(const std::string& name, const PortView& view, int columns);
// The station's totals: phones done, failed, same phone again, and phones per hour since the start.
std::string totalsLine(const StationTotals& totals, std::size_t ports, int columns);
