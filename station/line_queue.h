// JSON lines handed to a thread of their own that writes them out, so that whoever produces them (a session's
// worker) never waits for a slow reader.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class LineQueue {
  public:
    explicit LineQueue(int fd);
    ~LineQueue();  // writes what is queued, then ends
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // `line` without its line end. Never blocks on the output.
    void push(std::string line);
    // False once a write failed (the reader went away); later lines are dropped.
    bool ok() const;

  private:
    void run();

    const int fd_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> lines_;  // guarded by mutex_, with the fields below
    std::size_t dropped_ = 0;
    bool failed_ = false;
    bool closing_ = false;
    std::thread thread_;
};
