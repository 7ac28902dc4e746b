// What a multi-port run needs of the system beyond the serial link: the terminal, and files and streams
// that take whole lines. One implementation file per platform.
#pragma once

#include <string>

// A terminal that takes cursor movement and erase-line sequences.
bool isTerminal(int fd);
struct TerminalSize {
    int columns = 80;
    int rows = 24;
};
// The terminal's size; 80 x 24 when it cannot be told.
TerminalSize terminalSize(int fd);

// Opens FILE for appending, creating it (mode 0644) when missing. -1 on failure, with the reason.
int openAppend(const std::string& path, std::string& error);
// Opens FILE for writing, created (mode 0644) or emptied. -1 on failure, with the reason.
int openReplacing(const std::string& path, std::string& error);
// One write call for the whole line, so that lines from several writers (and a crash) never interleave or
// break. False when it did not all go out.
bool writeLine(int fd, const std::string& line);
// Everything, in as many writes as it takes (a terminal or a pipe read by one program).
bool writeAll(int fd, const std::string& text);
void closeFile(int fd);

// Writing to a pipe whose reader has gone must fail the write, not end the process.
void ignoreBrokenPipe();

inline constexpr int kStdoutFd = 1;
inline constexpr int kStderrFd = 2;
