// The updater's one channel to the phone. Platform-neutral interface; the backend lives in its own file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

inline constexpr std::uint32_t kSlowSpeed = 9600;
inline constexpr std::uint32_t kFastSpeed = 115200;
inline constexpr std::size_t kReplyCapacity = 1024;
inline constexpr int kReadAttempts = 200;
inline constexpr int kReadWindowMs = 200;

struct ReplyBuffer {
    std::array<std::uint8_t, kReplyCapacity> bytes{};
    std::size_t count = 0;
};

// How long readReply waits: `attempts` windows of `windowMs` each. Tests shorten it; programs keep the
// default.
struct ReadRule {
    int attempts = kReadAttempts;
    int windowMs = kReadWindowMs;
};

// Why the last open failed, so a front end can say more than "Port is busy".
// Console: the system's console, which is never opened.
enum class OpenError { None, Missing, Busy, Permission, Settings, Other, Console };
const char* openErrorText(OpenError error);

// COM1..COM4 on this system: /dev/ttyUSB<n-1>, else /dev/ttyACM<n-1>, else /dev/ttyS<n-1>.
std::string defaultPortPath(char portDigit);

class SerialLink {
  public:
    using PortResolver = std::function<std::string(char portDigit)>;

    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Maps a port digit to a device path (default: defaultPortPath). Lets tests and the CLI name a device.
    void setPortResolver(PortResolver resolver);
    void setReadRule(ReadRule rule);
    ReadRule readRule() const;

    // Fails (with lastOpenError) for a missing, held, forbidden or unconfigurable device, a speed other than
    // 9600/115200, and while interrupted.
    bool open(char portDigit, std::uint32_t speed);
    bool reopen(std::uint32_t speed);  // always true; a failed open shows up as a missing reply
    // Idempotent. After interrupt() it also discards output still queued for the line.
    void close();
    bool isOpen() const;
    void clearErrors();
    // Waits for room on the line until the whole block is out; false when interrupted or the device fails.
    bool write(const std::uint8_t* bytes, std::size_t count);
    // Zeroes the reply, then up to `attempts` windows; the first window that gets data is the reply (at most
    // kReplyCapacity bytes), and pending input is purged after every window. On a closed or vanished line it
    // fails after one window.
    bool readReply();

    // True once a read found the open device gone (hung up, at its end, failing): an unplugged adapter.
    // lastOpenError() then says Missing. The next open clears it.
    bool lineLost() const;

    const ReplyBuffer& reply() const;
    // Bytes of every successful write since the link was made. Thread-safe.
    std::uint64_t bytesWritten() const;
    OpenError lastOpenError() const;
    int lastOpenErrno() const;
    std::string lastOpenPath() const;

    // Thread-safe: wakes any read window or stalled write at once and makes every later open, write and read
    // fail without touching the line (an open does not even resolve its device), until clearInterrupt().
    // When it returns, no write or open that could still reach the line is under way.
    void interrupt();
    void clearInterrupt();  // call when no other thread uses the link
    bool interrupted() const;

    struct Backend;  // platform part, one file per platform

  private:
    bool openPort(char portDigit, std::uint32_t speed, bool reopen);

    std::unique_ptr<Backend> backend_;
};
