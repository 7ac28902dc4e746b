// --trace FILE: every byte each port's link sends and receives, with its time, port and direction, in a form
// a person reads. The sessions only queue what they saw; a thread of its own formats and writes it, so a slow
// file never holds up a phone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/serial_link.h"

class WireTrace {
  public:
    // Writes to `fd` (left open); `ports` are the labels the lines name, by port index.
    WireTrace(int fd, std::vector<std::string> ports);
    ~WireTrace();  // writes what is queued, then ends
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    // What port `index`'s link reports to; lives as long as the trace.
    LinkObserver& tap(std::size_t index);
    // False once a write to the file failed; later lines are dropped.
    bool ok() const;

    using Clock = std::chrono::steady_clock;
    enum class Kind { Open, Close, Write, WriteFailed, Frame, Read };
    struct Entry {
        Clock::time_point time;
        std::size_t port = 0;
        Kind kind = Kind::Write;
        std::size_t count = 0;  // bytes moved
        std::string bytes;      // all of them; for a frame its first bytes and its last one
        std::string text;       // an open's device and result
        long frame = 0;         // the frame's number in an unbroken run of frames
    };
    // One line of the trace, without its line end.
    static std::string format(const Entry& entry, const std::string& port, Clock::time_point start);

  private:
    class Tap;
    friend class Tap;
    void push(Entry entry);
    void run();

    const int fd_;
    const std::vector<std::string> ports_;
    const Clock::time_point start_ = Clock::now();
    std::vector<std::unique_ptr<Tap>> taps_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> queued_;  // guarded by mutex_, with the fields below
    std::size_t dropped_ = 0;
    bool failed_ = false;
    bool closing_ = false;
    std::thread thread_;
};
