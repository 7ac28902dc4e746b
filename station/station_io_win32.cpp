// The console, appending and replacing files, and whole-line writes on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "serial/wide_text.h"
#include "station/station_io.h"

bool isTerminal(int fd) {
    // Escape sequences redraw the ports' lines: only a console that takes them counts.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0 &&
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

TerminalSize terminalSize(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    TerminalSize result;
    if (GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info) != 0)
        result = {info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
    return result;
}

int openAppend(const std::string& path, std::string& error) {
    // Append access only: the system puts every write at the end of the file at that moment.
    const HANDLE file = CreateFileW(utf16(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open it (Windows error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        error = "cannot open it";
    }
    return fd;
}

int openReplacing(const std::string& path, std::string& error) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create it (Windows error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        error = "cannot create it";
    }
    return fd;
}

bool writeLine(int fd, const std::string& line) {
    return _write(fd, line.data(), static_cast<unsigned>(line.size())) == static_cast<int>(line.size());
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const int n = _write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void closeFile(int fd) {
    if (fd >= 0) _close(fd);
}

// No SIGPIPE here: a write to a closed pipe just fails.
void ignoreBrokenPipe() {}
