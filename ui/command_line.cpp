// The window program's command line: --help, --version and a FILE to load.
#include "ui/command_line.h"

WindowCommandLine parseWindowCommandLine(const std::vector<std::string>& words) {
    WindowCommandLine line;
    bool optionsDone = false;
    for (const std::string& word : words) {
        if (!optionsDone && word.size() > 1 && word[0] == '-') {
            if (word == "--") {
                optionsDone = true;
            } else if (word == "--help" || word == "-h") {
                line.help = true;
            } else if (word == "--version") {
                line.version = true;
            } else if (line.error.empty()) {
                line.error = "unknown option '" + word + "'";
            }
        } else if (!line.file) {
            line.file = word;
        } else if (line.error.empty()) {
            // One window holds one image.
            line.error = "one FILE at most";
        }
    }
    return line;
}
