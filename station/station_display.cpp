// The station's lines on a terminal (a header and one line per port, redrawn in place) or as plain lines.
#include "station/station_display.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "image/display_text.h"
#include "station/output_queue.h"
#include "station/station_io.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kRedrawEvery = 200ms;
constexpr int kBarWidth = 20;
constexpr std::size_t kMaxPending = 10'000;
// Text is handed to the writer only once it has taken the last: one drawing waits, at most, plus the last.
constexpr std::size_t kMaxQueued = 2;
constexpr std::size_t kRecentKept = 200;  // messages kept to repaint the screen with after a resize
constexpr std::size_t kNameWidth = 12;
constexpr std::size_t kStateWidth = 14;   // the longest step name, "service-loader"
constexpr std::size_t kImeiWidth = 15;
constexpr std::size_t kLastWidth = 10;    // "last:same" and a space

std::string clockText(std::chrono::seconds elapsed) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(elapsed.count() / 60),
                  static_cast<long long>(elapsed.count() % 60));
    return text;
}

// Columns a text takes: UTF-8 continuation bytes take none.
std::size_t widthOf(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Cuts `text` to `columns` characters.
std::string fitted(const std::string& text, std::size_t columns) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (used++ == columns) return text.substr(0, i);
    }
    return text;
}

std::string padded(std::string text, std::size_t width) {
    const std::size_t used = widthOf(text);
    if (used < width) text.append(width - used, ' ');
    return text;
}

std::string stateWord(const PortView& view) {
    switch (view.state) {
        case PortActivity::Waiting:
            return "waiting";
        case PortActivity::Updating:
            return view.step;
        case PortActivity::Stalled:
            return "STALLED";
        case PortActivity::Done:
            return "done";
        case PortActivity::Failed:
            return "FAILED";
        case PortActivity::SamePhone:
            return "same phone";
        case PortActivity::NoDevice:
            return "no device";
        case PortActivity::Stopped:
            break;
    }
    return "stopped";
}

std::string lastMark(Outcome outcome) {
    switch (outcome) {
        case Outcome::None:
            return "";
        case Outcome::Success:
            return "last:ok";
        case Outcome::Failure:
            return "last:FAIL";
        case Outcome::SamePhone:
            return "last:same";
        case Outcome::Aborted:
            break;
    }
    return "last:abrt";
}

// What a wider terminal adds to a port's line: how the port stands, then the last phone, then the bar.
std::vector<std::string> lineDetail(const PortView& view) {
    std::vector<std::string> parts;
    if (view.state == PortActivity::Failed || view.state == PortActivity::NoDevice) parts.push_back(view.detail);
    if (view.state == PortActivity::Stalled) parts.push_back("no byte either way for 30 s or more");
    if (view.state == PortActivity::Waiting) parts.push_back("for a phone");
    if (view.last.outcome != Outcome::None) {
        std::string last = "last phone";
        if (!view.last.imei.empty()) last += " " + view.last.imei;
        // The headline of its message: the rest ("Check if the battery ...") would crowd out the line.
        parts.push_back(last + ": " + view.last.text.substr(0, view.last.text.find('\n')));
    }
    if (!view.model.empty()) parts.push_back(view.model);
    if (view.range > 0) {
        const auto filled = static_cast<std::size_t>(std::uint64_t{view.position} * kBarWidth / view.range);
        std::string bar(filled, '#');
        bar.resize(kBarWidth, '.');
        parts.push_back("[" + bar + "] " + std::to_string(view.position) + "/" + std::to_string(view.range));
    }
    // Some messages hold line breaks; a port keeps to its one line.
    for (std::string& part : parts) std::replace(part.begin(), part.end(), '\n', ' ');
    return parts;
}

// The details that fit in `room` columns, whole: a word cut off ("for a pho") tells nothing. Only the first,
// how the port stands, may be shortened, and says so.
std::string fittingDetail(const std::vector<std::string>& parts, std::size_t room) {
    constexpr std::size_t kShortest = 12;
    std::string out;
    for (const std::string& part : parts) {
        const std::size_t need = (out.empty() ? 0 : 2) + widthOf(part);
        if (need <= room) {
            out += (out.empty() ? "" : "  ") + part;
            room -= need;
        } else {
            if (out.empty() && room >= kShortest) out = fitted(part, room - 3) + "...";
            break;
        }
    }
    return out;
}

}  // namespace

std::string shortPortName(const std::string& label) {
    std::string name = label.rfind("/dev/", 0) == 0 ? label.substr(5) : label;
    name = displayText(name, TextBytes::Utf8OrLatin1);
    if (widthOf(name) <= kNameWidth) return name;
    // The end tells ports apart ("...-port0"): keep it.
    std::size_t drop = widthOf(name) - (kNameWidth - 1);
    std::size_t at = 0;
    while (drop > 0) {
        ++at;
        while (at < name.size() && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) ++at;
        --drop;
    }
    return "~" + name.substr(at);
}

std::string portLine(const std::string& name, const PortView& view, int columns) {
    std::string line = name + "  " + padded(stateWord(view), kStateWidth) + "  " + padded(view.imei, kImeiWidth);
    std::string percent;
    if (view.range > 0) percent = std::to_string(std::uint64_t{view.position} * 100 / view.range) + "%";
    line += "  " + std::string(4 - std::min<std::size_t>(4, percent.size()), ' ') + percent;
    line += "  " + padded(view.elapsed.count() >= 0 ? clockText(view.elapsed) : "", 5);
    line += "  " + padded(lastMark(view.last.outcome), kLastWidth);
    const std::size_t width = static_cast<std::size_t>(std::max(columns, 0));
    line += fittingDetail(lineDetail(view), width > widthOf(line) ? width - widthOf(line) : 0);
    // No trailing blanks: a line that ends early leaves the rest of the row to the erase.
    line.erase(line.find_last_not_of(' ') + 1);
    return fitted(line, width);
}

std::string totalsLine(const StationTotals& totals, std::size_t ports, int columns) {
    const double hours = std::max<double>(static_cast<double>(totals.running.count()), 1) / 3600;
    char perHour[32];
    std::snprintf(perHour, sizeof perHour, "%.1f", totals.done / hours);
    const long long s = totals.running.count();
    char since[32];
    std::snprintf(since, sizeof since, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    const std::string line = "done " + std::to_string(totals.done) + "  failed " + std::to_string(totals.failed) +
                             "  same phone " + std::to_string(totals.samePhone) + "  " + perHour +
                             " phones/h  running " + since + "  " + std::to_string(ports) + " ports";
    return fitted(line, static_cast<std::size_t>(std::max(columns, 0)));
}

StationDisplay::StationDisplay(int fd, bool terminal, std::vector<std::string> labels,
                               std::vector<ViewSource> views, TotalsSource totals)
    : fd_(fd),
      terminal_(terminal),
      labels_(std::move(labels)),
      views_(std::move(views)),
      totals_(std::move(totals)),
      out_(fd, kMaxQueued) {
    if (terminal_) {
        // The terminal's lines line up in columns.
        std::size_t width = 0;
        for (std::string& label : labels_) width = std::max(width, widthOf(label = shortPortName(label)));
        for (std::string& label : labels_) label = padded(label, width);
    } else {
        // Plain lines read "PORT: text".
        for (std::string& label : labels_) label += ":";
    }
    thread_ = std::thread([this] { run(); });
}

StationDisplay::~StationDisplay() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (const std::size_t dropped = out_.finish()) {
        // Standard error may be that terminal: the note gets the same bounded wait.
        OutputQueue(kStderrFd, 1)
            .push("phone-updater-cli: the terminal stopped taking output: " + std::to_string(dropped) +
                  " pieces of the display dropped\n");
    }
}

void StationDisplay::resized() {
    {
        std::lock_guard lock(mutex_);
        resized_ = true;
    }
    wake_.notify_all();
}

void StationDisplay::line(std::size_t index, const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find('\n', start);
            if (pending_.size() >= kMaxPending) {
                ++dropped_;
            } else {
                pending_.push_back(labels_[index] + " " + text.substr(start, end - start));
            }
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    if (!terminal_) wake_.notify_one();  // a terminal picks lines up at its next redraw
}

std::vector<std::string> StationDisplay::block(int columns) const {
    // One column short of the width: a line that filled the row would leave the cursor waiting to wrap.
    const int usable = columns - 1;
    std::vector<std::string> lines{totalsLine(totals_(), views_.size(), usable)};
    for (std::size_t i = 0; i < views_.size(); ++i) lines.push_back(portLine(labels_[i], views_[i](), usable));
    return lines;
}

std::string StationDisplay::draw(const std::vector<std::string>& lines, std::size_t dropped, bool repaint) {
    std::vector<std::string> messages = lines;
    if (dropped > 0) messages.push_back("(" + std::to_string(dropped) + " lines dropped)");
    for (const std::string& text : messages) {
        recent_.push_back(text);
        if (recent_.size() > kRecentKept) recent_.pop_front();
    }
    const TerminalSize size = terminalSize(fd_);
    const std::vector<std::string> now = block(size.columns);
    std::string out;
    const auto putBlock = [&] {
        for (const std::string& text : now) out += "\r\033[K" + text + "\n";
    };
    if (shown_.empty()) {
        for (const std::string& text : messages) out += "\r\033[K" + text + "\n";
        putBlock();
    } else if (repaint || size.columns != shownColumns_ || size.rows != shownRows_) {
        // The terminal may have rewrapped what was drawn at the old width (also after a resize and back
        // between two redraws), so the block's old place is not known: repaint the whole screen, the latest
        // messages above the block.
        out += "\033[H\033[2J";
        const auto rowsOf = [&](const std::string& text) {
            return std::max<std::size_t>(1, (widthOf(text) + size.columns - 1) / static_cast<std::size_t>(size.columns));
        };
        std::size_t free = static_cast<std::size_t>(std::max(size.rows - 1, 0)) - std::min<std::size_t>(now.size(), static_cast<std::size_t>(std::max(size.rows - 1, 0)));
        auto first = recent_.end();
        while (first != recent_.begin() && rowsOf(*std::prev(first)) <= free) free -= rowsOf(*--first);
        for (auto it = first; it != recent_.end(); ++it) out += *it + "\r\n";
        putBlock();
    } else if (!messages.empty() || now != shown_) {
        // Back to the top of the block and everything from there down erased (a message wider than the
        // terminal takes two rows, and a row-wise erase would leave the old block in the second), then the
        // new lines, then the block again below them.
        out += "\033[" + std::to_string(shown_.size()) + "A\r\033[J";
        for (const std::string& text : messages) out += text + "\n";
        putBlock();
    }
    shown_ = now;
    shownColumns_ = size.columns;
    shownRows_ = size.rows;
    return out;
}

void StationDisplay::run() {
    std::unique_lock lock(mutex_);
    for (bool last = false, waiting = false; !last;) {
        if (terminal_ || waiting) {
            wake_.wait_for(lock, kRedrawEvery,
                           [this, waiting] { return closing_ || (resized_ && !waiting); });
        } else {
            wake_.wait(lock, [this] { return closing_ || !pending_.empty(); });
        }
        last = closing_;
        // While the writer has not taken the last text (a terminal stopped, a slow reader), the lines wait
        // here, up to kMaxPending; the last state is always handed over.
        waiting = !last && !out_.drained();
        if (waiting) continue;
        std::vector<std::string> lines;
        lines.swap(pending_);
        const std::size_t dropped = std::exchange(dropped_, 0);
        const bool repaint = std::exchange(resized_, false);
        lock.unlock();

        std::string out;
        if (terminal_) {
            out = draw(lines, dropped, repaint);
        } else {
            for (const std::string& text : lines) out += text + "\n";
            if (dropped > 0) out += "(" + std::to_string(dropped) + " lines dropped)\n";
        }
        // A reader that went away takes nothing more (the writer notes it); the program says so at its end.
        if (!out.empty()) out_.push(std::move(out));
        lock.lock();
    }
}
