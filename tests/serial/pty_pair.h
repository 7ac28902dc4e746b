// A real pseudo-terminal (POSIX): the test holds the master, the link opens the slave path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class PtyPair {
  public:
    PtyPair() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        slavePath_ = ::ptsname(master_);
        termios raw = lineSettings();
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& slavePath() const { return slavePath_; }
    void send(const std::string& bytes) const {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(master_, bytes.data() + at, bytes.size() - at);
            if (n > 0) at += static_cast<std::size_t>(n);
            pollfd room{master_, POLLOUT, 0};
            if (n <= 0) ::poll(&room, 1, 100);
        }
    }
    // Everything the link wrote that arrives within `ms`.
    std::vector<std::uint8_t> drain(int ms = 50) const {
        std::vector<std::uint8_t> out;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
             std::chrono::steady_clock::now() < end;) {
            std::uint8_t chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n > 0) out.insert(out.end(), chunk, chunk + n);
            if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return out;
    }
    termios lineSettings() const {  // a master reports its slave's settings
        termios settings{};
        ::tcgetattr(master_, &settings);
        return settings;
    }
    speed_t speed() const {
        const termios settings = lineSettings();
        return cfgetospeed(&settings);
    }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_;
    std::string slavePath_;
};
