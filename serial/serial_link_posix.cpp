// POSIX backend of the serial link (termios). Every wait is a poll() that also watches a wake-up pipe, so an
// interrupt ends a read window or a write stalled on a full line at once. Bytes in the pipe that no wake()
// put there (a program's own output, had the pipe taken a standard descriptor's number) are drained and the
// wait goes on: they never end a window early, so no caller's loop of windows can spin.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

#include "serial/port_backend.h"
#include "serial/port_checks.h"
#include "serial/port_holders.h"

struct PlatformPort {
    int fd = -1;
    int wakeRead = -1;  // readable while an interrupt is pending
    int wakeWrite = -1;
    std::atomic<bool> woken{false};  // raised by wake() before it writes to the pipe
};

namespace {

using Clock = std::chrono::steady_clock;

void setNonBlockingCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

OpenError classifyOpenErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return OpenError::Missing;
        case EACCES:
        case EPERM:
        case EROFS:
            return OpenError::Permission;
        case EBUSY:
            return OpenError::Busy;
        default:
            return OpenError::Other;
    }
}

// A pseudo-terminal has no modem lines and says so with ENOTTY or EINVAL; that is not a failure.
bool setModemLine(int fd, unsigned long request, int line) {
    if (::ioctl(fd, request, &line) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

speed_t speedCode(std::uint32_t speed) {
    return speed == kFastSpeed ? B115200 : B9600;
}

// Raw 8N1, receiver on, modem status ignored, no hardware or software flow control.
bool applyLineSettings(int fd, std::uint32_t speed) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return false;
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, speedCode(speed)) != 0 || ::cfsetospeed(&settings, speedCode(speed)) != 0) {
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) return false;
    // tcsetattr succeeds when any part was applied: read back what the driver actually took.
    termios applied{};
    if (::tcgetattr(fd, &applied) != 0) return false;
    return ::cfgetospeed(&applied) == speedCode(speed) && (applied.c_cflag & CSIZE) == CS8 &&
           (applied.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0;
}

void drainWake(PlatformPort& port) {
    char sink[64];
    while (::read(port.wakeRead, sink, sizeof sink) > 0) {
    }
}

// The wake-up pipe is readable: true for a real wake-up. Stray bytes are drained; since wake() raises the
// flag before it writes, a real wake-up whose byte went with them still shows in the flag.
bool wakePending(PlatformPort& port, const pollfd& wake) {
    if ((wake.revents & POLLIN) == 0) return false;
    if (port.woken) return true;
    drainWake(port);
    return port.woken;
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

void PlatformPortDeleter::operator()(PlatformPort* port) const {
    if (port == nullptr) return;
    serial_port::close(*port, false);
    if (port->wakeRead >= 0) ::close(port->wakeRead);
    if (port->wakeWrite >= 0) ::close(port->wakeWrite);
    delete port;
}

// COM1..COM4 of the window: a USB adapter first, then a CDC-ACM device, then the built-in UART.
std::string defaultPortPath(char portDigit) {
    return comDevicePath(portDigit, "/dev");
}

namespace serial_port {

PlatformPortPtr create() {
    PlatformPortPtr port(new PlatformPort);
    int ends[2];
    if (::pipe(ends) == 0) {
        setNonBlockingCloseOnExec(ends[0]);
        setNonBlockingCloseOnExec(ends[1]);
        port->wakeRead = ends[0];
        port->wakeWrite = ends[1];
    }
    return port;
}

bool supportedSpeed(std::uint32_t speed) {
    return speed == kSlowSpeed || speed == kFastSpeed;
}

PortOpenResult open(PlatformPort& port, const std::string& path, std::uint32_t speed, bool reopen) {
    // Neither search below at a reopen: the device was this link's a moment ago and passed them, and each
    // reads through every process in /proc (long on a busy machine), which would keep the line closed that
    // long while the phone waits at its new speed. The lock below still refuses a device someone took
    // meanwhile.
    // The system's console is no phone's line, whatever name leads to it.
    if (!reopen && isConsolePath(path)) return {OpenError::Console, EBUSY};
    // Exclusive like a COM port elsewhere: a device another program has open (a modem prober, a forgotten
    // terminal) is left alone, not even opened, since opening raises its modem lines.
    if (!reopen && heldByAnotherProcess(path)) return {OpenError::Busy, EBUSY};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {classifyOpenErrno(errno), errno};

    PortOpenResult failure;
    const auto fail = [&](OpenError error, int number) {
        failure = {error, number};
        ::close(fd);
        return failure;
    };
    // The lock comes first so that a port another program holds is left exactly as it is (root ignores
    // TIOCEXCL; the lock binds root too).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? OpenError::Busy : OpenError::Other, errno);
    }
    // DTR off at once, so the phone sees as short a pulse as the OS allows.
    if (!setModemLine(fd, TIOCMBIC, TIOCM_DTR)) return fail(OpenError::Settings, errno);
    if (::ioctl(fd, TIOCEXCL) != 0) return fail(OpenError::Settings, errno);
    if (!applyLineSettings(fd, speed)) return fail(OpenError::Settings, errno != 0 ? errno : EINVAL);
    if (!setModemLine(fd, TIOCMBIS, TIOCM_RTS)) return fail(OpenError::Settings, errno);
    // Stale input only: on a pseudo-terminal an output flush also drops what the previous open wrote and
    // the far end has not read yet (the "C27" just before the speed change), and a real port's close has
    // drained its output already.
    ::tcflush(fd, TCIFLUSH);
    port.fd = fd;
    return {};
}

void drain(PlatformPort& port) {
    while (::tcdrain(port.fd) != 0 && errno == EINTR) {
    }
}

void close(PlatformPort& port, bool discardOutput) {
    if (port.fd < 0) return;
    if (discardOutput)
        ::tcflush(port.fd, TCOFLUSH);  // an aborted session sends nothing more, not even the tail
    ::ioctl(port.fd, TIOCNXCL);        // exclusivity belongs to this open only
    ::flock(port.fd, LOCK_UN);
    ::close(port.fd);
    port.fd = -1;
}

bool isOpen(const PlatformPort& port) {
    return port.fd >= 0;
}

// Framing and overrun errors are not reported separately on POSIX (the bytes are just dropped): nothing to
// clear.
void clearErrors(PlatformPort&) {}

bool write(PlatformPort& port, const std::uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(port.fd, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd waits[2] = {{port.fd, POLLOUT, 0}, {port.wakeRead, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (wakePending(port, waits[1])) return false;
        if ((waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
    }
    return true;
}

WindowResult readWindow(PlatformPort& port, std::uint8_t* buffer, std::size_t capacity, int windowMs,
                        std::size_t& received) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(windowMs);
    received = 0;
    while (received < capacity) {
        const int timeout = millisecondsUntil(deadline);
        pollfd waits[2] = {{port.fd, POLLIN, 0}, {port.wakeRead, POLLIN, 0}};
        const int ready = ::poll(waits, 2, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return WindowResult::Failed;
        if (wakePending(port, waits[1])) return WindowResult::Interrupted;
        if (ready == 0) break;  // window over
        // Woken only by stray bytes: the window goes on.
        if ((waits[0].revents & (POLLIN | POLLERR | POLLHUP)) == 0) continue;
        const ssize_t n = ::read(port.fd, buffer + received, capacity - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        // End of file, EIO or a hang-up with nothing to read: the device is gone. Sit out the window so a
        // retrying caller does not spin, but let an interrupt end it.
        idleWindow(port, millisecondsUntil(deadline));
        return WindowResult::Failed;
    }
    return WindowResult::Ok;
}

void purgeInput(PlatformPort& port) {
    if (port.fd >= 0) ::tcflush(port.fd, TCIFLUSH);
}

void idleWindow(PlatformPort& port, int windowMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(windowMs);
    for (;;) {
        pollfd wait{port.wakeRead, POLLIN, 0};
        const int ready = ::poll(&wait, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && !wakePending(port, wait)) continue;
        return;
    }
}

void wake(PlatformPort& port) {
    port.woken = true;
    const char signal = 1;
    // A full pipe already means "interrupt pending"; nothing more to do.
    [[maybe_unused]] const ssize_t ignored = ::write(port.wakeWrite, &signal, 1);
}

void clearWake(PlatformPort& port) {
    port.woken = false;
    drainWake(port);
}

}  // namespace serial_port
