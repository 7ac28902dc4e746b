// Win32 backend of the serial link (overlapped I/O). Every wait is a WaitForMultipleObjects on the
// operation's event and an abort event, so an interrupt ends a read window or a write stalled on the line at
// once: the pending operation is cancelled (CancelIo) and its partial count still taken.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "serial/port_backend.h"

struct PlatformPort {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE wakeEvent = nullptr;  // manual reset: signalled while an interrupt is pending
    HANDLE ioEvent = nullptr;    // manual reset: the overlapped operation in flight
    HANDLE claim = nullptr;      // under Wine only: see claimPort
};

namespace {

using Clock = std::chrono::steady_clock;

// Reads end after 20 ms of silence once data flows; the window's own deadline (not a total time-out) ends a
// silent read. A total constant behaves differently on Windows and Wine (a silent read there fails with
// ERROR_TIMEOUT, and MAXDWORD intervals never complete), this combination the same on both.
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

enum class Wait { Done, Woken, TimedOut };

Wait waitForIo(PlatformPort& port, DWORD timeoutMs) {
    const HANDLE events[2] = {port.ioEvent, port.wakeEvent};
    switch (WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
        case WAIT_OBJECT_0:
            return Wait::Done;
        case WAIT_OBJECT_0 + 1:
            return Wait::Woken;
        default:
            return Wait::TimedOut;
    }
}

// Cancels the operation in flight and returns the bytes it moved before that.
DWORD cancelAndCount(PlatformPort& port, OVERLAPPED& overlapped) {
    CancelIo(port.handle);
    DWORD moved = 0;
    // A cancelled operation fails with ERROR_OPERATION_ABORTED yet still reports what it moved.
    GetOverlappedResult(port.handle, &overlapped, &moved, TRUE);
    return moved;
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
    // No sharing: a port another program holds cannot be opened, and none can open ours while we hold it.
    const std::string device = devicePath(path);
    const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
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
    if (!SetCommState(handle, &dcb) || !SetCommTimeouts(handle, &timeouts)) {
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
        OVERLAPPED overlapped{};
        overlapped.hEvent = port.ioEvent;
        ResetEvent(port.ioEvent);
        const DWORD chunk = static_cast<DWORD>(count - sent);
        DWORD written = 0;
        if (!WriteFile(port.handle, bytes + sent, chunk, &written, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            if (waitForIo(port, INFINITE) == Wait::Woken) {
                cancelAndCount(port, overlapped);
                return false;
            }
            if (!GetOverlappedResult(port.handle, &overlapped, &written, FALSE)) return false;
        }
        if (written == 0) return false;  // a device that takes nothing would have us spin
        sent += written;
    }
    return true;
}

WindowResult readWindow(PlatformPort& port, std::uint8_t* buffer, std::size_t capacity, int windowMs,
                        std::size_t& received) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(windowMs);
    received = 0;
    while (received < capacity) {
        if (WaitForSingleObject(port.wakeEvent, 0) == WAIT_OBJECT_0) return WindowResult::Interrupted;
        const DWORD left = millisecondsUntil(deadline);
        if (left == 0) break;
        OVERLAPPED overlapped{};
        overlapped.hEvent = port.ioEvent;
        ResetEvent(port.ioEvent);
        DWORD got = 0;
        bool done = ReadFile(port.handle, buffer + received, static_cast<DWORD>(capacity - received), &got,
                             &overlapped) != 0;
        DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_PENDING) {
            switch (waitForIo(port, left)) {
                case Wait::Woken:
                    received += cancelAndCount(port, overlapped);
                    return WindowResult::Interrupted;
                case Wait::TimedOut:
                    received += cancelAndCount(port, overlapped);
                    return WindowResult::Ok;  // window over
                case Wait::Done:
                    done = GetOverlappedResult(port.handle, &overlapped, &got, FALSE) != 0;
                    error = done ? ERROR_SUCCESS : GetLastError();
                    break;
            }
        }
        received += got;
        // ERROR_TIMEOUT is a silent stretch as Wine reports it; anything else means the device is gone.
        if (!done && error != ERROR_TIMEOUT && error != ERROR_OPERATION_ABORTED) {
            idleWindow(port, static_cast<int>(millisecondsUntil(deadline)));
            return WindowResult::Failed;
        }
        // A read that returns at once with nothing would spin: give the line a moment instead.
        if (got == 0) idleWindow(port, static_cast<int>(std::min<DWORD>(kReadIntervalMs, left)));
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
