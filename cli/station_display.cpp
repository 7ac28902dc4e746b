#include "cli/station_display.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cli/output_queue.h"
#include "cli/station_io.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kRedrawEvery = 200ms;
constexpr int kBarWidth = 20;
constexpr std::size_t kMaxPending = 10'000;

std::string clockText(std::chrono::seconds elapsed) {
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(elapsed.count() / 60),
                  static_cast<long long>(elapsed.count() % 60));
    return text;
}

// Cuts `text` to `columns` characters (UTF-8 continuation bytes take no column).
std::string fitted(const std::string& text, int columns) {
    int used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (used++ == columns) return text.substr(0, i);
    }
    return text;
}

}  // namespace

std::string portLine(const std::string& label, const PortView& view) {
    std::string line = label + "  " + view.status;
    if (!view.model.empty()) line += "  " + view.model;
    if (!view.imei.empty()) line += "  " + view.imei;
    if (view.range > 0) {
        const auto filled = static_cast<std::size_t>(std::uint64_t{view.position} * kBarWidth / view.range);
        std::string bar(filled, '#');
        bar.resize(kBarWidth, '.');
        line += "  " + std::to_string(view.position) + "/" + std::to_string(view.range) + " [" + bar + "]";
    }
    if (view.elapsed.count() >= 0) line += "  " + clockText(view.elapsed);
    if (!view.last.empty()) line += "  (last: " + view.last + ")";
    // Some messages hold line breaks; a port keeps to its one line.
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

StationDisplay::StationDisplay(int fd, bool terminal, std::vector<std::string> labels,
                               std::vector<ViewSource> views)
    : fd_(fd), terminal_(terminal), labels_(std::move(labels)), views_(std::move(views)) {
    std::size_t width = 0;
    for (const std::string& label : labels_) width = std::max(width, label.size());
    // Plain lines read "PORT: text"; the terminal's lines line up in columns.
    for (std::string& label : labels_)
        label = terminal_ ? label + std::string(width - label.size(), ' ') : label + ":";
    thread_ = std::thread([this] { run(); });
}

StationDisplay::~StationDisplay() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
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

std::string StationDisplay::block(int columns) const {
    std::string out;
    for (std::size_t i = 0; i < views_.size(); ++i)
        out += "\r\033[K" + fitted(portLine(labels_[i], views_[i]()), columns - 1) + "\n";
    return out;
}

void StationDisplay::run() {
    std::string shown;  // the block as last drawn
    std::unique_lock lock(mutex_);
    for (bool last = false; !last;) {
        if (terminal_) {
            wake_.wait_for(lock, kRedrawEvery, [this] { return closing_; });
        } else {
            wake_.wait(lock, [this] { return closing_ || !pending_.empty(); });
        }
        last = closing_;
        std::vector<std::string> lines;
        lines.swap(pending_);
        const std::size_t dropped = std::exchange(dropped_, 0);
        lock.unlock();

        std::string out;
        if (terminal_) {
            const std::string now = block(terminalColumns(fd_));
            // Back to the top of the block, the new lines over it, then the block again below them.
            if (!shown.empty() && (!lines.empty() || dropped > 0 || now != shown))
                out += "\033[" + std::to_string(views_.size()) + "A";
            for (const std::string& text : lines) out += "\r\033[K" + text + "\n";
            if (dropped > 0) out += "\r\033[K(" + std::to_string(dropped) + " lines dropped)\n";
            if (shown.empty() || !out.empty() || now != shown) out += now;
            shown = now;
        } else {
            for (const std::string& text : lines) out += text + "\n";
            if (dropped > 0) out += "(" + std::to_string(dropped) + " lines dropped)\n";
        }
        // A reader that went away takes nothing more; the program says so at its end.
        if (!out.empty() && !outputLost(fd_) && !writeAll(fd_, out)) noteOutputLost(fd_);
        lock.lock();
    }
}
