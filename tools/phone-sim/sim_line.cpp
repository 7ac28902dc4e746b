#include "sim_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

// A speed no updater asks for: while the slave shows it, nobody has configured the line.
constexpr speed_t kIdleSpeed = B1200;

void makeNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

SimLine::~SimLine() {
    vanish();
    if (stopRead_ >= 0) ::close(stopRead_);
    if (stopWrite_ >= 0) ::close(stopWrite_);
}

bool SimLine::create(const std::string& linkPath, std::string& error) {
    int ends[2];
    if (::pipe(ends) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    makeNonBlocking(ends[0]);
    makeNonBlocking(ends[1]);
    stopRead_ = ends[0];
    stopWrite_ = ends[1];

    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = ::ptsname(master_);
    termios raw{};
    ::tcgetattr(master_, &raw);
    ::cfmakeraw(&raw);  // no echo or line editing before the updater sets its own settings
    ::tcsetattr(master_, TCSANOW, &raw);
    markIdle();

    if (!linkPath.empty()) {
        struct stat info {};
        if (::lstat(linkPath.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                error = linkPath + " exists and is not a symlink";
                return false;
            }
            ::unlink(linkPath.c_str());
        }
        if (::symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
            error = "symlink " + linkPath + ": " + std::strerror(errno);
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

void SimLine::setRate(double bytesPerSecond) {
    refill();
    rate_ = bytesPerSecond;
    // Up to 20 ms of line time may pile up while the phone is idle, never less than a short command.
    burst_ = std::max(16.0, rate_ * 0.02);
    tokens_ = std::min(tokens_, burst_);
}

void SimLine::refill() {
    const Clock::time_point now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - lastRefill_).count();
    lastRefill_ = now;
    if (rate_ > 0) tokens_ = std::min(burst_, tokens_ + elapsed * rate_);
}

void SimLine::markIdle() {
    termios settings{};
    if (master_ < 0 || ::tcgetattr(master_, &settings) != 0) return;
    ::cfsetispeed(&settings, kIdleSpeed);
    ::cfsetospeed(&settings, kIdleSpeed);
    ::tcsetattr(master_, TCSANOW, &settings);
}

bool SimLine::farEndClosed() {
    return pollMaster(0) == Poll::Hangup;
}

std::uint32_t SimLine::updaterSpeed() const {
    termios settings{};
    if (master_ < 0 || ::tcgetattr(master_, &settings) != 0) return 0;  // a master reports its slave's
    switch (::cfgetospeed(&settings)) {
        case B1200:
            return 1200;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

SimLine::Poll SimLine::pollMaster(int timeoutMs) {
    if (master_ < 0) return Poll::Hangup;
    pollfd waits[2] = {{master_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
    const int ready = ::poll(waits, 2, timeoutMs);
    if (ready < 0) return errno == EINTR ? Poll::Timeout : Poll::Hangup;
    if (waits[1].revents & POLLIN) return Poll::Stopped;
    if (waits[0].revents & POLLIN) return Poll::Readable;
    if (waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return Poll::Hangup;
    return Poll::Timeout;
}

SimLine::Status SimLine::waitForOpen(std::uint32_t openingSpeed) {
    for (;;) {
        const Poll state = pollMaster(0);
        if (state == Poll::Stopped) return Status::Stopped;
        if (master_ < 0) return Status::Closed;
        const std::uint32_t speed = updaterSpeed();
        if (state != Poll::Hangup && speed == openingSpeed) return Status::Ok;
        if (!pause(std::chrono::milliseconds(5))) return Status::Stopped;
    }
}

namespace {
// Tells a reopen (the far end back within the grace) from the end of the session (gone for longer).
struct HangupWatch {
    bool hungUp = false;
    SimLine::Clock::time_point since{};

    // Called on each sign that the far end is closed; true once it has stayed closed past `grace`.
    bool goneFor(std::chrono::milliseconds grace) {
        if (!hungUp) {
            hungUp = true;
            since = SimLine::Clock::now();
            return false;
        }
        return SimLine::Clock::now() - since > grace;
    }
    void reset() { hungUp = false; }
};
}  // namespace

SimLine::Status SimLine::readSome(std::uint8_t* buffer, std::size_t max, Clock::time_point deadline,
                                  std::size_t& got) {
    got = 0;
    HangupWatch hangup;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return Status::Timeout;
        std::size_t allowed = max;
        if (rate_ > 0) {
            refill();
            if (tokens_ < 1) {
                // Wait for a couple of milliseconds' worth of line time rather than for every single byte.
                const double wanted = std::min(static_cast<double>(max), std::max(1.0, rate_ * 0.002));
                const auto wait = std::chrono::duration<double>((wanted - tokens_) / rate_);
                if (!pause(std::chrono::duration_cast<std::chrono::microseconds>(wait) +
                           std::chrono::microseconds(1))) {
                    return Status::Stopped;
                }
                continue;
            }
            allowed = std::min(max, static_cast<std::size_t>(tokens_));
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        const int timeout = static_cast<int>(std::min<long long>(left, 50));
        switch (pollMaster(timeout)) {
            case Poll::Stopped:
                return Status::Stopped;
            case Poll::Timeout:
                hangup.reset();
                continue;
            case Poll::Hangup:
                break;
            case Poll::Readable: {
                const ssize_t n = ::read(master_, buffer, allowed);
                if (n > 0) {
                    got = static_cast<std::size_t>(n);
                    if (rate_ > 0) tokens_ -= static_cast<double>(n);
                    return Status::Ok;
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                break;  // EIO: nobody has the slave open right now
            }
        }
        // The updater closed its end. A reopen at another speed comes back within milliseconds; a longer
        // silence of the far end means the session is over.
        if (hangup.goneFor(hangupGrace_)) return Status::Closed;
        if (!pause(std::chrono::milliseconds(5))) return Status::Stopped;
    }
}

SimLine::Status SimLine::readExact(std::uint8_t* buffer, std::size_t count, Clock::time_point deadline,
                                   std::size_t& got) {
    got = 0;
    while (got < count) {
        std::size_t n = 0;
        const Status status = readSome(buffer + got, count - got, deadline, n);
        got += n;
        if (status != Status::Ok) return status;
    }
    return Status::Ok;
}

SimLine::Status SimLine::waitWithoutReading() {
    HangupWatch hangup;
    for (;;) {
        if (master_ < 0) return Status::Closed;
        pollfd waits[2] = {{master_, 0, 0}, {stopRead_, POLLIN, 0}};
        ::poll(waits, 2, 20);
        if (waits[1].revents & POLLIN) return Status::Stopped;
        if (waits[0].revents & POLLHUP) {
            if (hangup.goneFor(hangupGrace_)) return Status::Closed;
            if (!pause(std::chrono::milliseconds(5))) return Status::Stopped;
        } else {
            hangup.reset();
        }
    }
}

bool SimLine::send(const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    int stalls = 0;
    while (sent < count && master_ >= 0) {
        const ssize_t n = ::write(master_, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        // The updater is not reading (not open yet, or its buffer is full): give it a moment, then drop.
        if (++stalls > 20 || !pause(std::chrono::milliseconds(5))) return false;
    }
    return sent == count;
}

bool SimLine::pause(std::chrono::microseconds duration) {
    const Clock::time_point until = Clock::now() + duration;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count();
        pollfd wait{stopRead_, POLLIN, 0};
        const timespec timeout{static_cast<time_t>(std::max<long long>(left, 0) / 1000000000),
                               static_cast<long>(std::max<long long>(left, 0) % 1000000000)};
        const int ready = ::ppoll(&wait, 1, &timeout, nullptr);
        if (ready > 0) return false;
        if (ready == 0 || errno != EINTR) return true;
    }
}

void SimLine::vanish() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
    if (!linkPath_.empty()) ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

void SimLine::stop() {
    const char signal = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stopWrite_, &signal, 1);
}
