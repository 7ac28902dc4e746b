// phone-updater-cli's entry on Windows: the arguments come from the wide command line as UTF-8 (an ANSI argv
// cannot hold a name like Дмитрий or 東京), the standard output is binary (JSON lines end in LF, as
// elsewhere), and the console gets back at exit what the program changed: its output code page, and the
// escape-sequence mode that drawing the progress switches on.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "serial/wide_text.h"

int cliMain(int argc, char** argv);  // cli/main.cpp's main, renamed in this build

namespace {

// What the program may change of the console it was started in, as it found it; given back at the end,
// whichever way it comes.
class ConsoleState {
  public:
    ConsoleState() {
        for (int i = 0; i < 2; ++i) saved_[i] = GetConsoleMode(GetStdHandle(kStreams[i]), &modes_[i]) != 0;
        // Texts and file names are UTF-8; a console reading them in its OEM code page would garble them.
        if (codePage_ != 0) SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleState() { giveBack(); }
    ConsoleState(const ConsoleState&) = delete;
    ConsoleState& operator=(const ConsoleState&) = delete;

    void giveBack() const {
        for (int i = 1; i >= 0; --i)
            if (saved_[i]) SetConsoleMode(GetStdHandle(kStreams[i]), modes_[i]);
        if (codePage_ != 0) SetConsoleOutputCP(codePage_);
    }

  private:
    static constexpr DWORD kStreams[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    UINT codePage_ = GetConsoleOutputCP();  // 0 without a console
    DWORD modes_[2] = {};
    bool saved_[2] = {};
};

const ConsoleState* console = nullptr;

// A Ctrl-C that no command takes (info, convert) ends the process without its destructors: the console is
// given back here first. flash's own handler, installed later, is asked first and keeps the run going.
BOOL WINAPI giveConsoleBack(DWORD) {
    if (console != nullptr) console->giveBack();
    return FALSE;  // then the next handler, at last the default one that ends the process
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.push_back(utf8(argv[i]));
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    _setmode(_fileno(stdout), _O_BINARY);
    // Static, so that the console is given back on std::exit too.
    static const ConsoleState state;
    console = &state;
    SetConsoleCtrlHandler(giveConsoleBack, TRUE);
    const int code = cliMain(argc, pointers.data());
    std::fflush(stdout);
    std::fflush(stderr);
    return code;
}
