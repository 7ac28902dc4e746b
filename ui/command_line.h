// What phone-updater's command line asks for: help, the version, or the window with an image to load.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct WindowCommandLine {
    bool help = false;     // --help or -h
    bool version = false;  // --version
    std::optional<std::string> file;
    std::string error;  // non-empty: a bad command line, and why
};

// The words after the program's name. "--" ends the options; "-" alone is a file name. Qt's own options
// must be taken out first (QApplication does), or they count as unknown.
WindowCommandLine parseWindowCommandLine(const std::vector<std::string>& words);
