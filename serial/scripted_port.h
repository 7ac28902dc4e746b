// A serial line that plays a script instead of a device, for tests and fuzz targets: link
// updater_serial_scripted in place of updater_serial. Every wait returns at once with what the script says,
// so a whole session takes microseconds; every open, completed write and drain is recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace scripted_port {

// What happens during one read window.
struct Window {
    enum class Kind { Silence, Data, Gone } kind = Kind::Silence;
    // Data: what arrives during the window, any length: a reader takes up to its capacity, the rest waits
    // in the line's input until it is purged.
    std::vector<std::uint8_t> bytes;
    // What arrives as the window closes, too late for its reader: left in the line's input.
    std::vector<std::uint8_t> late;
};

struct Script {
    // Called once per read window, and once per window waited out on a closed line (whose content is
    // lost). Gone: the device vanishes; every later read and write fails until the next successful open.
    std::function<Window()> nextWindow;
    std::function<bool()> openSucceeds;   // once per open; unset: every open succeeds
    std::function<bool()> writeSucceeds;  // once per write that reaches the device; false: it vanishes now
};

struct Record {
    std::vector<std::string> opens;      // "path@speed", every successful open in order
    std::vector<std::uint8_t> bytes;     // every completed write, back to back
    std::vector<std::size_t> blockEnds;  // where each write ended in `bytes`
    std::vector<std::size_t> drains;     // how much of `bytes` was written when each drain was asked for
};

// A script written as bytes, compact enough for a fuzzer to write:
//   0x00 n          silence for n + 1 windows
//   0x01..0xEF      that many bytes follow and arrive in one window
//   0xF0 n          1000 + n bytes arrive in one window (around a 1024-byte reader)
//   0xF1            the line vanishes
//   0xF2            the next open fails (read as one silent window)
//   0xF3 n, 0xF4 n  the line vanishes / Abort is pressed during the (n + 1)th write from here
//   0xF5..0xFF      one silent window
// Once the script has run out, Abort is pressed at the next write or wait. Two readers of the same bytes
// see the same events, so a model can follow the line alongside the port.
class ByteScript {
  public:
    enum Tag : std::uint8_t {
        kSilence,
        kLongest = 0xEF,
        kLong,
        kGone,
        kOpenFails,
        kGoneAtWrite,
        kAbortAtWrite
    };
    enum class Fate { Done, Vanish, Abort };

    ByteScript(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
    std::optional<Window> window();  // nothing once the script has run out
    bool openFails();
    Fate write();  // what becomes of the write now reaching the device
    // Plays these bytes; `pressAbort` must interrupt the link. The ByteScript must outlive the play.
    Script script(std::function<void()> pressAbort);

  private:
    std::uint8_t next() { return at_ == end_ ? 0 : *at_++; }
    const std::uint8_t* at_;
    const std::uint8_t* end_;
    int silent_ = 0, goneIn_ = -1, abortIn_ = -1;
};

// The one scripted line of the process: every port plays `script` from now on. Clears the record. A
// script callback may interrupt the link (press Abort): the wait or write in progress then ends
// interrupted, and nothing of that write is recorded.
void play(Script script);
const Record& record();

}  // namespace scripted_port
