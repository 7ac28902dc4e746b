// phone-updater.exe: start-up, the message loop and the exit code of the Win32 window.
#include <windows.h>
// clang-format off: the common controls need windows.h first
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <string>
#include <vector>

#include "serial/wide_text.h"
#include "ui/about_text.h"
#include "ui/command_line.h"
#include "ui/dialog_units.h"
#include "updater_version.h"
#include "win32/control_panel.h"
#include "win32/resource_ids.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PhoneUpdaterMainWindow";

LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);  // and with it the panel
            return 1;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 1;
        case WM_DROPFILES: {
            // A file dropped on the window loads as Load SW would load it (the first, when several come).
            const auto drop = reinterpret_cast<HDROP>(wParam);
            std::wstring path(DragQueryFileW(drop, 0, nullptr, 0), L'\0');
            DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
            DragFinish(drop);
            loadImageFile(utf8(path));
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The words after the program's name, as UTF-8: a file named in any language (or dropped on the program's
// icon, which starts it with the file's path) arrives whole.
std::vector<std::string> commandWords() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> out;
    for (int i = 1; i < count; ++i) out.push_back(utf8(words[i]));
    LocalFree(words);
    return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // A window program has no terminal: what --help, --version and a bad command line say goes in a box.
    const WindowCommandLine command = parseWindowCommandLine(commandWords());
    if (command.help || command.version || !command.error.empty()) {
        const std::string usage = "usage: phone-updater [FILE]\n       phone-updater --help | --version";
        const std::string text = !command.error.empty() ? "phone-updater: " + command.error + "\n" + usage
                                 : command.version      ? std::string("phone-updater ") + UPDATER_VERSION_TEXT
                                                        : usage;
        MessageBoxW(nullptr, utf16(text).c_str(), utf16(kProductTitle).c_str(),
                    command.error.empty() ? MB_OK : MB_OK | MB_ICONERROR);
        return command.error.empty() ? 0 : 64;
    }

    static PanelArtwork artwork;
    artwork.ledStrip = LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_LEDSTRIP));
    for (int frame = 0; frame < kIconFrames; ++frame)
        artwork.icons[frame] = LoadIconW(instance, MAKEINTRESOURCEW(IDI_FRAME1 + frame));

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = mainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = artwork.icons[0];
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass)) return 1;

    // The frame is whatever this system's caption and borders take around the client area that the panel
    // fills, at the screen's scaling (the panel's dialog units follow its font, which the scaling enlarges).
    constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    constexpr DWORD kExtendedStyle = WS_EX_APPWINDOW;
    RECT frame{0, 0, scaledPixels(kClientWidth), scaledPixels(kClientHeight)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExtendedStyle);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const PixelPoint origin =
        centredWindowOrigin(desktop.right - desktop.left, desktop.bottom - desktop.top, width, height);
    const HWND mainWindow =
        CreateWindowExW(kExtendedStyle, kWindowClass, utf16(kProductTitle).c_str(), kStyle, origin.x,
                        origin.y, width, height, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) return 1;

    InitCommonControls();
    const HWND panel = createControlPanel(instance, mainWindow, artwork);
    if (panel == nullptr) return 1;
    ShowWindow(panel, SW_SHOW);
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    DragAcceptFiles(mainWindow, TRUE);
    // An image named on the command line loads once the window is up, so that a failure's message box has
    // the window under it.
    if (command.file) loadImageFile(*command.file);

    // No dialog navigation: the panel's keys are not translated into moves between its controls.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    shutDownSession();
    return 0;  // whatever code the quit message carried
}
