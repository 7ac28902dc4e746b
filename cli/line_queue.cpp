#include "cli/line_queue.h"

#include "cli/station_io.h"

namespace {
// A reader that stopped for good must not make the program hoard its lines for hours.
constexpr std::size_t kMaxQueued = 10'000;
}  // namespace

LineQueue::LineQueue(int fd)
    : queue_(fd, kMaxQueued, [](std::size_t count) {
          return "{\"event\": \"dropped\", \"count\": " + std::to_string(count) + "}\n";
      }) {}

LineQueue::~LineQueue() {
    finish();
}

void LineQueue::finish() {
    if (const std::size_t dropped = queue_.finish()) {
        abandoned_ = true;
        // Standard error may be held up too: the note gets the same bounded wait.
        OutputQueue(kStderrFd, 1)
            .push("phone-updater-cli: the reader of the events stopped reading: " + std::to_string(dropped) +
                  " lines dropped\n");
    }
}

void LineQueue::push(std::string line) {
    queue_.push(std::move(line) + '\n');
}

bool LineQueue::ok() const {
    return queue_.ok() && !abandoned_;
}
