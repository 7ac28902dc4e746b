// Win32 backend of the serial link (overlapped I/O). Every wait is a WaitForMultipleObjects on the
// operation's event and an abort event, so an interrupt ends a read window or a write stalled on the line at
// once. A read never waits: the window waits for a byte to arrive (WaitCommEvent) and then reads what the
// driver holds, so the only operation ever cancelled at a window's end is that wait, which moves no data;
// a cancelled read's count, which some drivers report as 0, never decides what a reply was.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "serial/port_backend.h"
#include "serial/wide_text.h"

struct PlatformPort {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE wakeEvent = nullptr;  // manual reset: signalled while an interrupt is pending
    HANDLE ioEvent = nullptr;    // manual reset: the overlapped operation in flight
    HANDLE claim = nullptr;      // under Wine only: see claimPort
};

namespace {

using Clock = std::chrono::steady_clock;

// Reads ask only for bytes the driver holds already, so they complete at once; the interval only bounds a
// read a driver would hold anyway. (MAXDWORD intervals, "return at once", never complete under Wine.)
constexpr DWORD kReadIntervalMs = 20;

OpenError classifyOpenError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return OpenError::Missing;
        case ERROR_ACCESS_DENIED:  // what Windows says for a COM port another program holds
        case ERROR_SHARING_VIOLATION:
            return OpenError::Busy;
        default:
            return OpenError::Other;
    }
}

// "COM12" needs the device namespace prefix to open; COM1..COM9 work either way.
std::string devicePath(const std::string& path) {
    const bool bareComName = path.size() > 3 && (path[0] | 0x20) == 'c' && (path[1] | 0x20) == 'o' &&
                             (path[2] | 0x20) == 'm' && path.find_first_of("\\/:") == std::string::npos;
    return bareComName ? "\\\\.\\" + path : path;
}

// The one record every open applies; only the speed differs.
DCB lineSettings(std::uint32_t speed) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = speed;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = TRUE;  // never acts without parity checking
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 256;
    dcb.XoffLim = 256;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0;
    return dcb;
}

// Windows refuses a second open of a COM port that one program holds without sharing; Wine grants it. Under
// Wine, then, an open also takes a named one-count semaphore per device, so that at least the updater's own
// programs find a held port "busy" as they would on Windows. A semaphore (not a mutex) because the port may
// be closed by another thread than the one that opened it.
bool runningUnderWine() {
    static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

bool claimPort(PlatformPort& port, const std::string& device) {
    if (!runningUnderWine()) return true;
    std::string name = "phone-updater serial port ";
    for (char c : device) name += c == '\\' ? '/' : static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    port.claim = CreateSemaphoreA(nullptr, 1, 1, name.c_str());
    if (port.claim != nullptr && WaitForSingleObject(port.claim, 0) == WAIT_OBJECT_0) return true;
    if (port.claim != nullptr) CloseHandle(port.claim);
    port.claim = nullptr;
    return false;
}

void releasePort(PlatformPort& port) {
    if (port.claim == nullptr) return;
    ReleaseSemaphore(port.claim, 1, nullptr);
    CloseHandle(port.claim);
    port.claim = nullptr;
}

DWORD millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

enum class Wait { Done, Woken, TimedOut, Failed };

Wait waitForIo(PlatformPort& port, DWORD timeoutMs) {
    const HANDLE events[2] = {port.ioEvent, port.wakeEvent};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0:
            return Wait::Done;
        case WAIT_OBJECT_0 + 1:
            return Wait::Woken;
        case WAIT_TIMEOUT:
            return Wait::TimedOut;
        default:
            return Wait::Failed;
    }
}

// Cancels the operation in flight and waits until it is over, so that neither `overlapped` nor the buffer
// is left to an operation still running; returns the bytes it moved before that.
DWORD cancelAndCount(PlatformPort& port, OVERLAPPED& overlapped) {
    CancelIo(port.handle);
    DWORD moved = 0;
    // A cancelled operation fails with ERROR_OPERATION_ABORTED yet still reports what it moved.
    GetOverlappedResult(port.handle, &overlapped, &moved, TRUE);
    return moved;
}

// Starts an overlapped operation and waits for it until `timeoutMs` or an interrupt; whatever ends the
// wait, the operation is over when this returns. `start` returns the call's result and sets `moved` when
// it completed at once.
template <typename Start>
Wait runIo(PlatformPort& port, DWORD timeoutMs, DWORD& moved, Start start) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = port.ioEvent;
    ResetEvent(port.ioEvent);
    moved = 0;
    if (start(overlapped)) return Wait::Done;
    if (GetLastError() != ERROR_IO_PENDING) return Wait::Failed;
    const Wait how = waitForIo(port, timeoutMs);
    if (how != Wait::Done) {
        moved = cancelAndCount(port, overlapped);
        return how;
    }
    return GetOverlappedResult(port.handle, &overlapped, &moved, FALSE) ? Wait::Done : Wait::Failed;
}

}  // namespace

void PlatformPortDeleter::operator()(PlatformPort* port) const {
    if (port == nullptr) return;
    serial_port::close(*port, false);
    if (port->wakeEvent != nullptr) CloseHandle(port->wakeEvent);
    if (port->ioEvent != nullptr) CloseHandle(port->ioEvent);
    delete port;
}

std::string defaultPortPath(char portDigit) {
    if (portDigit < '1' || portDigit > '9') return {};
    return std::string("\\\\.\\COM") + portDigit;
}

namespace serial_port {

PlatformPortPtr create() {
    PlatformPortPtr port(new PlatformPort);
    port->wakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    port->ioEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return port;
}

bool supportedSpeed(std::uint32_t speed) {
    return speed == kSlowSpeed || speed == kFastSpeed;
}

PortOpenResult open(PlatformPort& port, const std::string& path, std::uint32_t speed, bool) {
    // Overlapped I/O needs its events: without them no operation may start.
    if (port.ioEvent == nullptr || port.wakeEvent == nullptr)
        return {OpenError::Other, ERROR_NOT_ENOUGH_MEMORY};
    // No sharing: a port another program holds cannot be opened, and none can open ours while we hold it.
    const std::string device = devicePath(path);
    const HANDLE handle = CreateFileW(utf16(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return {classifyOpenError(error), static_cast<int>(error)};
    }
    if (!claimPort(port, device)) {
        CloseHandle(handle);
        return {OpenError::Busy, ERROR_SHARING_VIOLATION};
    }
    DCB dcb = lineSettings(speed);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    // Writes have no time-out: a stalled write is ended by the abort event.
    if (!SetCommState(handle, &dcb) || !SetCommTimeouts(handle, &timeouts) ||
        !SetCommMask(handle, EV_RXCHAR)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        releasePort(port);
        return {OpenError::Settings, static_cast<int>(error)};
    }
    // Stale input only. A fresh handle has no operation of its own to abort, and clearing (or, under Wine,
    // aborting) the transmit side would drop what the previous open wrote and the far end has not taken
    // yet: the "C27" just before the speed change, on a pseudo-terminal. A real port's close has drained
    // its output already.
    PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR);
    port.handle = handle;
    return {};
}

void drain(PlatformPort& port) {
    FlushFileBuffers(port.handle);  // returns once the transmit queue is empty
}

void close(PlatformPort& port, bool discardOutput) {
    if (port.handle == INVALID_HANDLE_VALUE) return;
    // An aborted session sends nothing more, not even the tail of its last block.
    if (discardOutput) PurgeComm(port.handle, PURGE_TXABORT | PURGE_TXCLEAR);
    CloseHandle(port.handle);
    port.handle = INVALID_HANDLE_VALUE;
    releasePort(port);
}

bool isOpen(const PlatformPort& port) {
    return port.handle != INVALID_HANDLE_VALUE;
}

void clearErrors(PlatformPort& port) {
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(port.handle, &errors, &status);
}

bool write(PlatformPort& port, const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(count - sent);
        const Wait how = runIo(port, INFINITE, written, [&](OVERLAPPED& overlapped) {
            return WriteFile(port.handle, bytes + sent, chunk, &written, &overlapped) != 0;
        });
        if (how != Wait::Done || written == 0)
            return false;  // a device that takes nothing would have us spin
        sent += written;
    }
    return true;
}

WindowResult readWindow(PlatformPort& port, std::uint8_t* buffer, std::size_t capacity, int windowMs,
                        std::size_t& received) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(windowMs);
    received = 0;
    const auto gone = [&] {
        idleWindow(port, static_cast<int>(millisecondsUntil(deadline)));
        return WindowResult::Failed;
    };
    while (received < capacity) {
        if (WaitForSingleObject(port.wakeEvent, 0) == WAIT_OBJECT_0) return WindowResult::Interrupted;
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port.handle, &errors, &status)) return gone();
        if (status.cbInQue > 0) {
            // What the driver holds: the read completes at once, and only an interrupt would cut it short.
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, capacity - received));
            DWORD got = 0;
            const Wait how = runIo(port, INFINITE, got, [&](OVERLAPPED& overlapped) {
                return ReadFile(port.handle, buffer + received, want, &got, &overlapped) != 0;
            });
            received += got;
            if (how == Wait::Woken) return WindowResult::Interrupted;
            if (how != Wait::Done) return gone();
            continue;
        }
        const DWORD left = millisecondsUntil(deadline);
        if (left == 0) break;
        // Nothing there yet: wait for a byte, the window's end or an interrupt. Where the driver cannot wait
        // for a byte (the wait fails or ends with no event: Wine on a pseudo-terminal, some USB drivers),
        // look again after a moment instead; a device that is gone shows in ClearCommError.
        DWORD events = 0, ignored = 0;
        const Wait how = runIo(port, left, ignored, [&](OVERLAPPED& overlapped) {
            return WaitCommEvent(port.handle, &events, &overlapped) != 0;
        });
        if (how == Wait::Woken) return WindowResult::Interrupted;
        if ((how == Wait::Done && events == 0) || how == Wait::Failed)
            idleWindow(port, static_cast<int>(std::min(kReadIntervalMs, left)));
    }
    return WindowResult::Ok;
}

void purgeInput(PlatformPort& port) {
    if (port.handle != INVALID_HANDLE_VALUE) PurgeComm(port.handle, PURGE_RXABORT | PURGE_RXCLEAR);
}

void idleWindow(PlatformPort& port, int windowMs) {
    if (windowMs > 0) WaitForSingleObject(port.wakeEvent, static_cast<DWORD>(windowMs));
}

void wake(PlatformPort& port) {
    SetEvent(port.wakeEvent);
}

void clearWake(PlatformPort& port) {
    ResetEvent(port.wakeEvent);
}

}  // namespace serial_port
