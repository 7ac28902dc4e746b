#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "cli/station_io.h"
#include "serial/wide_text.h"

bool isTerminal(int fd) {
    // Escape sequences redraw the ports' lines: only a console that takes them counts.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0 &&
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int terminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info) != 0)
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
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
