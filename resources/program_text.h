// What a program says about itself: its --help text and version, embedded from its help source at build
// time (updater_program_text() in resources/CMakeLists.txt).
#pragma once

#include <string_view>

extern const char kHelpText[];
extern const char kProgramVersion[];

// The usage lines alone, for a bad command line: the help text up to its first blank line.
inline std::string_view helpUsage() {
    const std::string_view help(kHelpText);
    const std::size_t end = help.find("\n\n");
    return end == std::string_view::npos ? help : help.substr(0, end + 1);
}
