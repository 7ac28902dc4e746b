// Text for one output (a terminal, a pipe) handed to a thread of its own that writes it, so that whoever
// produces it (a session's worker, under a lock that Abort needs) never waits for the reader; and the record
// of a standard output that could not be written.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// Once a write to standard output or standard error has failed (the reader went away), nothing more is
// written to it, and the program says so at its end.
void noteOutputLost(int fd);
bool outputLost(int fd);

class OutputQueue {
  public:
    // What to write in place of `count` pieces dropped because `maxQueued` were already waiting.
    using DroppedNote = std::function<std::string(std::size_t count)>;

    OutputQueue(int fd, std::size_t maxQueued, DroppedNote note = {});
    ~OutputQueue();  // finish(kGrace) unless done
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Never blocks on the output.
    void push(std::string text);
    // False once a write failed; later text is dropped.
    bool ok() const;
    // Waits while the reader keeps taking text; once it has taken nothing for `grace` (a stopped terminal, a
    // reader that stopped reading), drops what is still queued. Returns how many pieces were dropped so.
    std::size_t finish(std::chrono::milliseconds grace = kGrace);

    static constexpr std::chrono::milliseconds kGrace{2000};

  private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the writer, which may outlive us when abandoned
    std::thread thread_;
    bool finished_ = false;
};
