#include "cli/output_queue.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include "cli/station_io.h"

namespace {
std::atomic<bool> lost[3];
constexpr std::size_t kPiece = 4096;
}  // namespace

void noteOutputLost(int fd) {
    if (fd >= 0 && fd < 3) lost[fd] = true;
}

bool outputLost(int fd) {
    return fd >= 0 && fd < 3 && lost[fd];
}

struct OutputQueue::State {
    State(int f, std::size_t max, DroppedNote n) : fd(f), maxQueued(max), note(std::move(n)) {}
    void run();

    const int fd;
    const std::size_t maxQueued;
    const DroppedNote note;
    std::mutex mutex;
    std::condition_variable wake;      // for the writer
    std::condition_variable progress;  // for finish()
    std::deque<std::string> queued;    // guarded by mutex, with the fields below
    std::size_t dropped = 0;
    std::uint64_t writes = 0;
    bool writing = false;
    std::size_t writingPieces = 0;  // of the write under way
    bool failed = false;
    bool closing = false;
    bool abandoned = false;
};

void OutputQueue::State::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return closing || abandoned || !queued.empty() || dropped > 0; });
        if (abandoned || (queued.empty() && dropped == 0)) return;
        std::string text;
        for (const std::string& piece : queued) text += piece;
        writingPieces = queued.size() + dropped;
        queued.clear();
        if (dropped > 0 && note) text += note(dropped);
        dropped = 0;
        writing = true;
        // In pieces, each one progress: a slow reader that keeps reading is not taken for one that stopped.
        bool written = true;
        for (std::size_t at = 0; written && at < text.size(); at += kPiece) {
            lock.unlock();
            written = !outputLost(fd) && writeAll(fd, text.substr(at, kPiece));
            if (!written) noteOutputLost(fd);
            lock.lock();
            if (abandoned) return;
            ++writes;
            progress.notify_all();
        }
        writing = false;
        if (!written) {
            failed = true;
            queued.clear();
        }
        progress.notify_all();
    }
}

OutputQueue::OutputQueue(int fd, std::size_t maxQueued, DroppedNote note)
    : state_(std::make_shared<State>(fd, maxQueued, std::move(note))),
      thread_([state = state_] { state->run(); }) {}

OutputQueue::~OutputQueue() {
    finish();
}

void OutputQueue::push(std::string text) {
    State& s = *state_;
    {
        std::lock_guard lock(s.mutex);
        if (s.failed || s.closing) return;
        if (s.queued.size() >= s.maxQueued) {
            ++s.dropped;
            return;
        }
        s.queued.push_back(std::move(text));
    }
    s.wake.notify_one();
}

bool OutputQueue::ok() const {
    std::lock_guard lock(state_->mutex);
    return !state_->failed;
}

std::size_t OutputQueue::finish(std::chrono::milliseconds grace) {
    if (std::exchange(finished_, true)) return 0;
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.closing = true;
    s.wake.notify_all();
    const auto drained = [&s] { return s.queued.empty() && s.dropped == 0 && !s.writing; };
    while (!drained()) {
        const std::uint64_t seen = s.writes;
        if (s.progress.wait_for(lock, grace, [&] { return s.writes != seen || drained(); })) continue;
        // The reader has taken nothing for the whole grace: it is not going to. The writer may stay blocked
        // in its write until the process ends; it holds its own share of the state.
        const std::size_t count = s.queued.size() + s.dropped + (s.writing ? s.writingPieces : 0);
        s.queued.clear();
        s.dropped = 0;
        s.abandoned = true;
        lock.unlock();
        s.wake.notify_all();
        thread_.detach();
        return count;
    }
    lock.unlock();
    thread_.join();
    return 0;
}
