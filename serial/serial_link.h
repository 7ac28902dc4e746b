// The updater's one channel to the phone. Platform-neutral interface; the backend lives in its own file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/activity_flags.h"

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

// The port a link opens: one of COM1..COM4 by its digit (the device comes from the link's resolver) or a
// device by its path.
struct PortTarget {
    char digit = 0;    // '1'..'4', or 0 for a device path
    std::string path;  // the device when there is no digit

    static PortTarget com(char portDigit) { return {portDigit, {}}; }
    static PortTarget device(std::string devicePath) { return {0, std::move(devicePath)}; }
    // "COM1".."COM4" in any case name the four ports; anything else is a device path.
    static PortTarget parse(const std::string& text);
};

// Sees every byte that crosses a link, on the thread that moves it, and what becomes of each open. Its calls
// sit in the session's hot path: they must return at once (queue the work, never write it out).
class LinkObserver {
  public:
    virtual ~LinkObserver() = default;
    virtual void opened(const std::string& path, std::uint32_t speed, OpenError error) = 0;
    virtual void closed() = 0;
    virtual void wrote(const std::uint8_t* bytes, std::size_t count, bool ok) = 0;
    // One read window's bytes; windows that got nothing are not reported.
    virtual void received(const std::uint8_t* bytes, std::size_t count) = 0;
};

class SerialLink {
  public:
    using PortResolver = std::function<std::string(char portDigit)>;

    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Maps a port digit to a device path (default: defaultPortPath). Lets tests and the window's tests name
    // a device for a COM digit.
    void setPortResolver(PortResolver resolver);
    // Null for none; set while no session uses the link. The observer must outlive its use.
    void setObserver(LinkObserver* observer);
    void setReadRule(ReadRule rule);
    ReadRule readRule() const;

    // Fails (with lastOpenError) for a missing, held, forbidden or unconfigurable device, a speed other than
    // 9600/115200, and while interrupted.
    bool open(char portDigit, std::uint32_t speed);
    bool open(const PortTarget& target, std::uint32_t speed);
    bool reopen(std::uint32_t speed);  // the same target again; always true: a failed open shows up later
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
    // Bytes of every successful write, and of every reply window, since the link was made. Thread-safe.
    std::uint64_t bytesWritten() const;
    std::uint64_t bytesRead() const;
    // This link's own lights: raised on every reply read and block written, lowered by whoever shows them.
    ActivityFlags& activity();
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
    bool openPort(const PortTarget& target, std::uint32_t speed, bool reopen);

    std::unique_ptr<Backend> backend_;
};
