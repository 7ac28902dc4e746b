// The platform half of SerialLink. Each system supplies one implementation file (serial_link_posix.cpp here);
// nothing outside serial/ includes this header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/serial_link.h"

struct PlatformPort;  // defined by the platform file
struct PlatformPortDeleter {
    void operator()(PlatformPort* port) const;
};
using PlatformPortPtr = std::unique_ptr<PlatformPort, PlatformPortDeleter>;

struct PortOpenResult {
    OpenError error = OpenError::None;
    int errorNumber = 0;
};

enum class WindowResult { Ok, Interrupted, Failed };

namespace serial_port {
// The port keeps one wake-up channel for its whole life, so interrupt() works whether or not a device is
// open.
PlatformPortPtr create();
bool supportedSpeed(std::uint32_t speed);
// `reopen`: the same device again, closed a moment ago by this link (the speed change of a session).
PortOpenResult open(PlatformPort& port, const std::string& path, std::uint32_t speed, bool reopen);
// Waits until what was written has gone out on the line: a USB adapter's driver reports a write done once
// the adapter has the bytes, and a close or speed change right after it could cut them off.
void drain(PlatformPort& port);
// discardOutput: drop bytes still queued for the line instead of letting the close drain them.
void close(PlatformPort& port, bool discardOutput);
bool isOpen(const PlatformPort& port);
void clearErrors(PlatformPort& port);
// Writes the whole block, waiting for room on the line; false when interrupted or the device fails.
bool write(PlatformPort& port, const std::uint8_t* bytes, std::size_t count);
// Collects whatever arrives during one window of windowMs into buffer, stopping early only at capacity.
// `received` holds what was collected even when the window ends Failed (line gone) or Interrupted.
WindowResult readWindow(PlatformPort& port, std::uint8_t* buffer, std::size_t capacity, int windowMs,
                        std::size_t& received);
void purgeInput(PlatformPort& port);
// Waits windowMs without touching any device; the interrupt cuts it short.
void idleWindow(PlatformPort& port, int windowMs);
void wake(PlatformPort& port);  // thread-safe
void clearWake(PlatformPort& port);
}  // namespace serial_port

struct SerialLink::Backend {
    PlatformPortPtr port = serial_port::create();
    PortResolver resolver = defaultPortPath;
    ReadRule rule;
    ReplyBuffer reply;
    PortTarget target = PortTarget::com('1');
    LinkObserver* observer = nullptr;
    ActivityFlags activity;
    std::atomic<bool> interrupted{false};
    bool lost = false;
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> read{0};
    // Held by open and write from their check of `interrupted` until the device call is done, and taken by
    // interrupt() to raise the flag: once interrupt() returns, nothing new reaches the line. Recursive: a
    // scripted line presses Abort from inside the write it is playing.
    std::recursive_mutex gate;
    OpenError lastError = OpenError::None;
    int lastErrno = 0;
    std::string lastPath;
};
