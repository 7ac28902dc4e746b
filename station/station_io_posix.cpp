// The terminal, appending and replacing files, and whole-line writes on POSIX.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "station/station_io.h"

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

TerminalSize terminalSize(int fd) {
    winsize size{};
    TerminalSize result;
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
        result = {size.ws_col, size.ws_row};
    return result;
}

int openAppend(const std::string& path, std::string& error) {
    // O_APPEND makes every write land at the end at that moment, whoever else appends.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) error = std::strerror(errno);
    return fd;
}

int openReplacing(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) error = std::strerror(errno);
    return fd;
}

bool writeLine(int fd, const std::string& line) {
    for (;;) {
        const ssize_t n = ::write(fd, line.data(), line.size());
        if (n < 0 && errno == EINTR) continue;
        // A short write is not continued: a second write could land after another writer's line.
        return n == static_cast<ssize_t>(line.size());
    }
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void closeFile(int fd) {
    if (fd >= 0) ::close(fd);
}

void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}
