// phone-updater.exe: start-up, the message loop and the exit code of the Win32 window.
#include <windows.h>
// clang-format off: the common controls need windows.h first
#include <commctrl.h>
// clang-format on

#include "ui/about_text.h"
#include "ui/dialog_units.h"
#include "win32/control_panel.h"
#include "win32/resource_ids.h"

namespace {

constexpr const char* kWindowClass = "PhoneUpdaterMainWindow";

LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);  // and with it the panel
            return 1;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    static PanelArtwork artwork;
    artwork.ledStrip = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_LEDSTRIP));
    for (int frame = 0; frame < kIconFrames; ++frame)
        artwork.icons[frame] = LoadIconA(instance, MAKEINTRESOURCEA(IDI_FRAME1 + frame));

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = mainWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = artwork.icons[0];
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassA(&windowClass)) return 1;

    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const PixelPoint origin = centredWindowOrigin(desktop.right - desktop.left, desktop.bottom - desktop.top);
    const HWND mainWindow =
        CreateWindowExA(WS_EX_APPWINDOW, kWindowClass, kProductTitle, WS_CAPTION | WS_SYSMENU, origin.x,
                        origin.y, kOuterWidth, kOuterHeight, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) return 1;

    InitCommonControls();
    const HWND panel = createControlPanel(instance, mainWindow, artwork);
    if (panel == nullptr) return 1;
    ShowWindow(panel, SW_SHOW);
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);

    // No dialog navigation: the panel's keys are not translated into moves between its controls.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    shutDownSession();
    return 0;  // whatever code the quit message carried
}
