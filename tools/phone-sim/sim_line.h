// The simulated phone's end of the cable: the master side of a pseudo-terminal, read no faster than the line
// rate so that a writer meets real back-pressure once the kernel's buffer is full.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class SimLine {
  public:
    using Clock = std::chrono::steady_clock;
    enum class Status { Ok, Timeout, Closed, Stopped };

    SimLine() = default;
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Creates the pseudo-terminal (raw) and, if linkPath is not empty, a symlink to its slave there.
    bool create(const std::string& linkPath, std::string& error);
    const std::string& slavePath() const { return slavePath_; }

    // Bytes per second the phone takes in; 0 reads as fast as bytes come.
    void setRate(double bytesPerSecond);
    // How long the far end may stay closed before the session counts as over (a reopen is far quicker).
    void setHangupGrace(std::chrono::milliseconds grace) { hangupGrace_ = grace; }

    // Marks the line "not in use" by a speed nobody asks for; waitForOpen() returns once the updater has
    // opened the slave and set the speed it opens at. Another speed is not the updater's: an emulated serial
    // adapter holds the slave open for the whole run and sets a default of its own when it takes it.
    void markIdle();
    bool farEndClosed();  // nobody has the slave open right now
    Status waitForOpen(std::uint32_t openingSpeed);
    // The speed the updater has set on its end, in baud (0 when unknown).
    std::uint32_t updaterSpeed() const;

    // At least one byte (at most `max`) as the rate allows; Timeout at `deadline`.
    Status readSome(std::uint8_t* buffer, std::size_t max, Clock::time_point deadline, std::size_t& got);
    Status readExact(std::uint8_t* buffer, std::size_t count, Clock::time_point deadline, std::size_t& got);
    // Waits without reading (a stalled phone) until the far end closes or stop().
    Status waitWithoutReading();
    bool send(const std::uint8_t* bytes, std::size_t count);
    bool send(const std::string& bytes) {
        return send(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    // Sleeps, but stop() ends it early; false when stopped.
    bool pause(std::chrono::microseconds duration);

    // The phone disappears: the pseudo-terminal and its symlink go away.
    void vanish();
    void stop();  // thread-safe; ends every wait

    static Clock::time_point never() { return Clock::time_point::max(); }

  private:
    enum class Poll { Readable, Hangup, Timeout, Stopped };
    Poll pollMaster(int timeoutMs);
    void refill();

    int master_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::string slavePath_;
    std::string linkPath_;
    double rate_ = 0;
    double tokens_ = 0;
    double burst_ = 0;
    Clock::time_point lastRefill_ = Clock::now();
    std::chrono::milliseconds hangupGrace_{1000};
};
