// The queue of output lines and the thread that writes them.
#include "station/line_queue.h"

#include "station/station_io.h"

namespace {
// A reader that stopped for good must not make the program hoard its lines for hours.
constexpr std::size_t kMaxQueued = 10'000;
}  // namespace

LineQueue::LineQueue(int fd) : fd_(fd), thread_([this] { run(); }) {}

LineQueue::~LineQueue() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void LineQueue::push(std::string line) {
    {
        std::lock_guard lock(mutex_);
        if (failed_) return;
        if (lines_.size() >= kMaxQueued) {
            ++dropped_;
            return;
        }
        lines_.push_back(std::move(line));
    }
    wake_.notify_one();
}

bool LineQueue::ok() const {
    std::lock_guard lock(mutex_);
    return !failed_;
}

void LineQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !lines_.empty(); });
        if (lines_.empty()) return;  // closing, all written
        std::string text;
        while (!lines_.empty()) {
            text += lines_.front() + '\n';
            lines_.pop_front();
        }
        if (dropped_ > 0) {
            text += "{\"event\": \"dropped\", \"count\": " + std::to_string(dropped_) + "}\n";
            dropped_ = 0;
        }
        lock.unlock();
        const bool written = writeAll(fd_, text);
        lock.lock();
        if (!written) {
            failed_ = true;
            lines_.clear();
        }
    }
}
