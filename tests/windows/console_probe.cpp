// Runs a command in a console of its own and checks that the console is left as it was: the output code page
// and the screen buffer's modes. Exit 0 when they are, 1 (saying what changed) when not, 2 when the command
// cannot be run. usage: console_probe.exe COMMAND [ARGS...]   (a display is needed: Wine's consoles are
// windows)
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    // Everything after the probe's own name is the command line to run.
    std::wstring command = GetCommandLineW();
    const bool quoted = command[0] == L'"';
    command.erase(0, command.find(quoted ? L'"' : L' ', 1) + 1);
    command.erase(0, command.find_first_not_of(L' '));

    FreeConsole();
    if (!AllocConsole()) return 2;
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD modeBefore = 0, modeAfter = 0;
    if (!GetConsoleMode(screen, &modeBefore)) return 2;
    const UINT pageBefore = GetConsoleOutputCP();

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 2;
    WaitForSingleObject(process.hProcess, INFINITE);

    GetConsoleMode(screen, &modeAfter);
    const UINT pageAfter = GetConsoleOutputCP();
    if (modeAfter == modeBefore && pageAfter == pageBefore) return 0;
    std::fprintf(stderr, "console_probe: modes %#lx became %#lx, code page %u became %u\n", modeBefore, modeAfter,
                 pageBefore, pageAfter);
    return 1;
}
