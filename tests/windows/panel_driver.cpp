// Drives the Win32 window from a second program, as a user would: reads fields, clicks buttons, answers the
// open dialog and the message boxes. Each argument is one step; the first step that fails ends the run with
// exit code 1 and says why. Fields and boxes are waited for (the session runs on its own). Texts are UTF-8.
#include <windows.h>
// clang-format off: after windows.h
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/wide_text.h"
#include "tests/windows/paint_counter.h"
#include "ui/about_text.h"
#include "ui/dialog_units.h"
#include "ui/load_command.h"
#include "ui/panel_layout.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);  // a whole session at the line rate fits in it

HWND mainWindow = nullptr;
HWND panel = nullptr;
std::string failure;

bool fail(const std::string& why) {
    failure = why;
    return false;
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds patience = kPatience) {
    const auto deadline = Clock::now() + patience;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        // Every look is a round trip through the Wine server and the window's thread: look at a pace that
        // leaves the session under test its time on a busy machine.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string textOf(HWND window) {
    wchar_t text[1024] = L"";
    // WM_GETTEXT, not GetWindowText: the latter does not read controls of another process.
    SendMessageW(window, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text));
    return utf8(text);
}

std::string className(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A visible top-level window of the updater's process of this class (and caption, unless none is given).
HWND findWindowOf(const char* windowClass, const std::string* caption) {
    struct Search {
        const char* windowClass;
        const std::string* caption;
        HWND found;
    } search{windowClass, caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD owner = 0, ours = 0;
            GetWindowThreadProcessId(window, &owner);
            GetWindowThreadProcessId(mainWindow, &ours);
            if (owner == ours && IsWindowVisible(window) && className(window) == s.windowClass &&
                (s.caption == nullptr || textOf(window) == *s.caption))
                s.found = window;
            return s.found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The visible top-level dialog of the updater's process with this caption (message box, open dialog).
HWND findDialog(const std::string& caption) {
    return findWindowOf("#32770", &caption);
}

// Rests the mouse on a control until its tooltip shows this text.
bool expectTooltip(int id, const std::string& expected) {
    RECT button;
    GetWindowRect(GetDlgItem(panel, id), &button);
    SetCursorPos((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    std::string shown;
    const bool seen = waitFor(
        [&] {
            HWND tip = findWindowOf("tooltips_class32", nullptr);
            return tip != nullptr && (shown = textOf(tip)) == expected;
        },
        std::chrono::seconds(10));
    SetCursorPos(0, 0);  // away, so that the next tooltip shows afresh
    return seen || fail("the tooltip of control " + std::to_string(id) + " says \"" + shown + "\"");
}

// A message box's text is its longest static text; its one button is OK.
bool answerBox(const std::string& caption, const std::string& expected) {
    HWND box = nullptr;
    if (!waitFor([&] { return (box = findDialog(caption)) != nullptr; }))
        return fail("no message box \"" + caption + "\"");
    std::string text;
    HWND button = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) == "Static" && textOf(child).size() > text.size()) text = textOf(child);
        if (className(child) == "Button") button = child;
    }
    if (text != expected) return fail("box \"" + caption + "\" says \"" + text + "\"");
    PostMessageA(button, BM_CLICK, 0, 0);
    return waitFor([&] { return !IsWindow(box); }) || fail("box \"" + caption + "\" stays up");
}

bool noBox(const std::string& caption, int milliseconds) {
    const bool appeared =
        waitFor([&] { return findDialog(caption) != nullptr; }, std::chrono::milliseconds(milliseconds));
    return !appeared || fail("unexpected message box \"" + caption + "\"");
}

// Types the path into the open dialog's name field and presses Open.
bool openFile(const std::string& path) {
    HWND dialog = nullptr;
    if (!waitFor([&] { return (dialog = findDialog(kOpenDialogTitle)) != nullptr; }))
        return fail("no open dialog");
    HWND name = GetDlgItem(dialog, 0x47C);  // the file-name box of the explorer-style dialog
    if (HWND edit = FindWindowExA(name, nullptr, "Edit", nullptr)) name = edit;
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(utf16(path).c_str()));
    PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    return waitFor([&] { return !IsWindow(dialog); }) || fail("the open dialog stays up");
}

bool expectField(int id, const std::string& expected) {
    std::string last;
    if (waitFor([&] { return (last = textOf(GetDlgItem(panel, id))) == expected; })) return true;
    return fail("control " + std::to_string(id) + " shows \"" + last + "\", not \"" + expected + "\"");
}

bool expectState(const std::string& what, int id, bool expected) {
    HWND control = GetDlgItem(panel, id);
    const auto state = [&] {
        if (what == "enabled") return IsWindowEnabled(control) != 0;
        if (what == "visible") return (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
        return SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    return waitFor([&] { return state() == expected; }, std::chrono::seconds(5)) ||
           fail("control " + std::to_string(id) + " is not " + (expected ? "" : "un") + what);
}

std::string rectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
           "x" + std::to_string(r.bottom - r.top);
}

// The window's scale, from its client area (this program's own idea of the DPI may be virtual).
int windowDpi() {
    RECT client;
    GetClientRect(mainWindow, &client);
    return MulDiv(client.right, 96, kClientWidth);
}

// Every control of the layout is there, of its kind, where the layout puts it in dialog units (scaled with
// the screen), with its sunken edge where it should have one.
bool checkLayout() {
    const int dpi = windowDpi();
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    int count = 0;
    for (HWND child = GetWindow(panel, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        ++count;
    if (count != static_cast<int>(panelLayout().size()))
        return fail("the panel has " + std::to_string(count) + " controls");
    POINT origin{0, 0};
    ClientToScreen(panel, &origin);
    for (const ControlEntry& entry : panelLayout()) {
        HWND control = GetDlgItem(panel, entry.id);
        const std::string where = "control " + std::to_string(entry.id);
        if (control == nullptr) return fail(where + " is missing");
        static const char* const kClasses[] = {"Static", "Button", "msctls_progress32",
                                               "Button", "Button", "Edit"};
        if (className(control) != kClasses[static_cast<int>(entry.kind)])
            return fail(where + " is a " + className(control));
        // The dialog font's base units at 96 DPI, as on Windows; the dialog manager converts position and
        // size each on its own (MapDialogRect would convert edges, and reads no other process anyway).
        const int left = scaled(dialogUnitsToPixelsX(entry.x)), top = scaled(dialogUnitsToPixelsY(entry.y));
        const RECT expected{left, top, left + scaled(dialogUnitsToPixelsX(entry.width)),
                            top + scaled(dialogUnitsToPixelsY(entry.height))};
        RECT actual;
        GetWindowRect(control, &actual);
        OffsetRect(&actual, -origin.x, -origin.y);
        if (!EqualRect(&expected, &actual))
            return fail(where + " is at " + rectText(actual) + ", not at " + rectText(expected));
        const bool edge = (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_STATICEDGE) != 0;
        if (edge != ((entry.style & kEdge) != 0)) return fail(where + " has the wrong edge");
        if (textOf(control) != entry.caption && entry.caption[0] != '\0')
            return fail(where + " has the wrong caption");
    }
    return true;
}

// The client area is exactly W x H, every control lies inside it, and the window is centred on the desktop
// as the description's arithmetic puts a window of its outer size, whatever the frame around it takes.
bool expectClient(int width, int height) {
    RECT client, frame, desktop;
    GetClientRect(mainWindow, &client);
    GetWindowRect(mainWindow, &frame);
    GetWindowRect(GetDesktopWindow(), &desktop);
    if (client.right != width || client.bottom != height)
        return fail("the client area is " + rectText(client) + " in a frame of " + rectText(frame));
    for (HWND child = GetWindow(panel, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT inside;
        GetWindowRect(child, &inside);
        MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&inside), 2);
        // The rule spans the panel's 229 units, a pixel or two wider than the client area: its end is cut.
        if (GetDlgCtrlID(child) == IDC_RULE) inside.right = std::min<LONG>(inside.right, width);
        if (inside.left < 0 || inside.top < 0 || inside.right > width || inside.bottom > height)
            return fail("control " + std::to_string(GetDlgCtrlID(child)) + " reaches out to " +
                        rectText(inside));
    }
    const PixelPoint origin = centredWindowOrigin(desktop.right - desktop.left, desktop.bottom - desktop.top,
                                                  frame.right - frame.left, frame.bottom - frame.top);
    if (frame.left != origin.x || frame.top != origin.y) return fail("the window is at " + rectText(frame));
    return true;
}

// The activity lights: 7 x 7 pixels at fixed places of the panel at 96 DPI (scaled with the screen), the
// receive light above the send light. "lit" waits until each has been seen in its colour; "dark" expects them
// drawn off and never lit for a while (a repaint of the panel may wipe them until the next tick).
bool expectLights(bool lit) {
    const int dpi = windowDpi();
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    HDC screen = GetDC(nullptr);
    const int middle = scaled(7) / 2;
    POINT receive{scaled(328) + middle, scaled(180) + middle},
        send{scaled(328) + middle, scaled(189) + middle};
    ClientToScreen(panel, &receive);
    ClientToScreen(panel, &send);
    bool green = false, red = false, off = false;
    const auto until = Clock::now() + std::chrono::milliseconds(lit ? 10000 : 500);
    while (Clock::now() < until && !(lit && green && red)) {
        const COLORREF up = GetPixel(screen, receive.x, receive.y), down = GetPixel(screen, send.x, send.y);
        green = green || up == RGB(0, 255, 0);
        red = red || down == RGB(255, 0, 0);
        off = off || (up == RGB(0, 0, 0) && down == RGB(0, 0, 0));
        Sleep(2);  // a lit light stays lit for a tick of 10 ms
    }
    ReleaseDC(nullptr, screen);
    if (lit) return (green && red) || fail("the lights did not show the line's traffic");
    return (off && !green && !red) || fail("the lights are not drawn off on an idle line");
}

// Nothing repaints a control that did not change: over a second (ten ticks of the window icon, a hundred of
// the lights) the window's thread takes at most `most` WM_PAINTs for it, as counted by a hook DLL in its
// process.
bool expectPaints(int id, int most) {
    static LONG* counts = [] {
        const HMODULE counter = LoadLibraryW(L"paint_counter.dll");
        const auto hook =
            reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(counter, "countPaints")));
        const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(LONG) * kPaintCounters, kPaintCountsName);
        if (hook == nullptr || mapping == nullptr) return static_cast<LONG*>(nullptr);
        SetWindowsHookExW(WH_GETMESSAGE, hook, counter, GetWindowThreadProcessId(mainWindow, nullptr));
        return static_cast<LONG*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }();
    if (counts == nullptr) return fail("cannot count the window's paints");
    InterlockedExchange(&counts[id], 0);
    Sleep(1000);
    const LONG painted = counts[id];
    return painted <= most || fail("control " + std::to_string(id) + " was painted " + std::to_string(painted) +
                                   " times in a second");
}

// Drops a file on the window as the shell does: WM_DROPFILES with a DROPFILES block in the window's own
// process (Wine takes a fixed block for the drop's memory handle, as it takes GlobalAlloc's fixed memory).
bool dropFile(const std::string& path) {
    const std::wstring names = utf16(path) + L'\0';  // the list ends with an empty name
    std::vector<char> block(sizeof(DROPFILES) + (names.size() + 1) * sizeof(wchar_t), 0);
    auto* files = reinterpret_cast<DROPFILES*>(block.data());
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::memcpy(block.data() + sizeof(DROPFILES), names.c_str(), names.size() * sizeof(wchar_t));
    DWORD owner = 0;
    GetWindowThreadProcessId(mainWindow, &owner);
    const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, owner);
    void* remote = process == nullptr ? nullptr
                                      : VirtualAllocEx(process, nullptr, block.size(),
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const bool handed =
        remote != nullptr && WriteProcessMemory(process, remote, block.data(), block.size(), nullptr) != 0;
    if (process != nullptr) CloseHandle(process);
    if (!handed) return fail("cannot hand the drop to the window");
    return PostMessageW(mainWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0) != 0 ||
           fail("no window");
}

// The main window as it is on screen, as a 24-bit BMP.
bool screenshot(const std::string& path) {
    RECT frame;
    GetWindowRect(mainWindow, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC copy = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<char> pixels(static_cast<std::size_t>((width * 3 + 3) / 4 * 4 * height));
    GetDIBits(copy, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof file + sizeof info + pixels.size()), 0, 0,
                          sizeof file + sizeof info};
    std::FILE* out = _wfopen(utf16(path).c_str(), L"wb");
    const bool written = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&info, sizeof info, 1, out) == 1 &&
                         std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    if (out != nullptr) std::fclose(out);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
    return written || fail("cannot write " + path);
}

bool step(const std::vector<std::string>& w) {
    const auto id = [&](std::size_t i) { return std::atoi(w.at(i).c_str()); };
    const std::string& verb = w.at(0);
    if (verb == "field") return expectField(id(1), w.size() > 2 ? w[2] : "");
    if (verb == "enabled" || verb == "visible" || verb == "checked")
        return expectState(verb, id(1), id(2) != 0);
    if (verb == "click")
        return PostMessageA(GetDlgItem(panel, id(1)), BM_CLICK, 0, 0) != 0 || fail("no control");
    if (verb == "box") return answerBox(w.at(1), w.at(2));
    if (verb == "no-box") return noBox(w.at(1), id(2));
    if (verb == "open") return openFile(w.at(1));
    if (verb == "layout") return checkLayout();
    if (verb == "client") return expectClient(id(1), id(2));
    if (verb == "lights") return expectLights(w.at(1) == "lit");
    if (verb == "screenshot") return screenshot(w.at(1));
    if (verb == "paints") return expectPaints(id(1), id(2));
    if (verb == "drop") return dropFile(w.at(1));
    if (verb == "tooltip") return expectTooltip(id(1), w.size() > 2 ? w[2] : "");
    if (verb == "sleep") return Sleep(static_cast<DWORD>(id(1))), true;
    if (verb == "close") {
        PostMessageA(mainWindow, WM_CLOSE, 0, 0);
        return waitFor([] { return !IsWindow(mainWindow); }) || fail("the window stays open");
    }
    return fail("unknown step " + verb);
}

// "field 1052 Ready" -> {"field", "1052", "Ready"}: the text is the rest of the step, spaces and all.
std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    const bool hasText =
        text.rfind("field ", 0) == 0 || text.rfind("box ", 0) == 0 || text.rfind("tooltip ", 0) == 0;
    while (start <= text.size() && out.size() < (hasText ? 2u : 9u)) {
        const std::size_t space = text.find(' ', start);
        out.push_back(text.substr(start, space - start));
        if (space == std::string::npos) return out;
        start = space + 1;
    }
    out.push_back(text.substr(start));
    return out;
}

}  // namespace

int main() {
    // The steps as UTF-8, from the wide command line: they name files and texts in any language.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> steps;
    for (int i = 1; i < count; ++i) steps.push_back(utf8(wide[i]));
    LocalFree(wide);
    // The window runs on a desktop of its own (a virtual desktop under Wine): join it to see it.
    std::size_t first = 0;
    if (!steps.empty() && steps[0].rfind("desktop ", 0) == 0) {
        HDESK desktop = nullptr;
        waitFor([&] {
            return (desktop = OpenDesktopW(utf16(steps[0].substr(8)).c_str(), 0, FALSE, GENERIC_ALL)) !=
                   nullptr;
        });
        if (desktop == nullptr || !SetThreadDesktop(desktop)) {
            std::fprintf(stderr, "panel_driver: cannot join the desktop \"%s\"\n", steps[0].c_str() + 8);
            return 1;
        }
        first = 1;
    }
    // Visible, not merely there: the window is shown once its panel has every control (found earlier, the
    // panel was seen with 36 of its 37 while the dialog manager was still making them).
    if (!waitFor([] {
            mainWindow = FindWindowW(nullptr, utf16(kProductTitle).c_str());
            return mainWindow != nullptr && IsWindowVisible(mainWindow);
        })) {
        std::fprintf(stderr, "panel_driver: no window \"%s\"\n", kProductTitle);
        return 1;
    }
    panel = FindWindowExW(mainWindow, nullptr, L"#32770", nullptr);
    for (std::size_t i = first; i < steps.size(); ++i) {
        if (!step(words(steps[i]))) {
            std::fprintf(stderr, "panel_driver: step \"%s\" failed: %s\n", steps[i].c_str(), failure.c_str());
            return 1;
        }
    }
    return 0;
}
