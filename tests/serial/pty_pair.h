// A real pseudo-terminal for the serial tests: the test holds the master, the link opens the slave path.
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
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        slavePath_ = ::ptsname(master_);
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    void send(const std::string& bytes) const { send(bytes.data(), bytes.size()); }
    void send(const void* bytes, std::size_t count) const {
        const auto* p = static_cast<const char*>(bytes);
        while (count > 0) {
            const ssize_t n = ::write(master_, p, count);
            if (n > 0) {
                p += n;
                count -= static_cast<std::size_t>(n);
            } else {
                pollfd wait{master_, POLLOUT, 0};
                ::poll(&wait, 1, 100);
            }
        }
    }

    // Everything the link wrote that arrives within `ms`.
    std::vector<std::uint8_t> drain(int ms = 50) const {
        std::vector<std::uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            std::uint8_t chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n > 0) {
                out.insert(out.end(), chunk, chunk + n);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return out;
    }

    termios lineSettings() const {
        termios settings{};
        ::tcgetattr(master_, &settings);  // a master reports its slave's settings
        return settings;
    }

    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};
