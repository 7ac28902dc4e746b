// JSON lines handed to a thread of their own that writes them out, so that whoever produces them (a session's
// worker) never waits for a slow reader, and a reader that stopped for good cannot keep the program from
// ending.
#pragma once

#include <string>

#include "cli/output_queue.h"

class LineQueue {
  public:
    explicit LineQueue(int fd);
    ~LineQueue();  // finish() unless done
    // Writes what is queued while the reader keeps reading; what a reader that stopped leaves is dropped,
    // and standard error says so. Nothing is written after it.
    void finish();
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // `line` without its line end. Never blocks on the output.
    void push(std::string line);
    // False once a write failed (the reader went away) or finish() dropped lines.
    bool ok() const;

  private:
    OutputQueue queue_;
    bool abandoned_ = false;
};
