// The Win32 control panel: the dialog, its panel operations and its three timers.
#include "win32/control_panel.h"

#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>

#include "serial/activity_flags.h"
#include "serial/port_info.h"
#include "serial/wide_text.h"
#include "session/session_constants.h"
#include "session/session_control.h"
#include "ui/about_text.h"
#include "ui/clock_counter.h"
#include "ui/dialog_units.h"
#include "ui/load_command.h"
#include "ui/panel_layout.h"
#include "win32/open_file.h"
#include "win32/port_tip.h"
#include "win32/resource_ids.h"
#include "win32/ui_thread_calls.h"

namespace {

enum TimerId : UINT_PTR { kClockTimer = 0, kLightsTimer = 1, kIconTimer = 2 };

// Fixed pixels of the two activity lights at the right end of the bottom row, and the strip's cells.
constexpr int kLightSize = 7;
constexpr int kLightX = 328;
constexpr int kReceiveLightY = 180;
constexpr int kSendLightY = 189;
constexpr int kOffCell = 0;
constexpr int kReceiveCell = 7;
constexpr int kSendCell = 14;

constexpr int kAboutPane[] = {IDC_ABOUTTITLE, IDC_CREDITS, IDC_BUILDSTAMP};
constexpr int kAboutCovers[] = {IDC_MODULE_LABEL, IDC_MODULE, IDC_FORMAT};
constexpr int kValueFontControls[] = {IDC_MODULE,      IDC_FORMAT,  IDC_VERSION,   IDC_DUMPSIZE,
                                      IDC_CRC,         IDC_PHONE,   IDC_IMEI,      IDC_FRAMESSENT,
                                      IDC_FRAMESTOTAL, IDC_TIME,    IDC_LINKSTATE, IDC_LOADER,
                                      IDC_ABOUTTITLE,  IDC_CREDITS, IDC_BUILDSTAMP};

// The program's user-interface state: one panel per process, alive until the process ends.
struct PanelState {
    const PanelArtwork* artwork = nullptr;
    HWND mainWindow = nullptr;
    HWND panel = nullptr;
    HFONT valueFont = nullptr;
    HFONT anyScriptFont = nullptr;  // for a value the OEM face cannot show (a file named in Cyrillic, CJK...)
    std::wstring portTipText;       // the COM tooltip showing now
    HDC lights = nullptr;           // off-screen surface holding the strip
    bool aboutShown = false;
    ClockCounter clock;
    int iconFrame = 0;
    Win32Panel operations;
    UiThreadCalls calls;
    HeldImage held;  // before the session, which reads it: destroyed after it
    std::unique_ptr<SessionControl> session;
};
PanelState ui;

constexpr int kPortButtons[] = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4};

// Each COM button's tooltip names its device, looked up afresh each time it is about to show.
void addPortTooltips(HWND panel) {
    const HWND tip =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, panel, nullptr, nullptr, nullptr);
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, scaledPixels(360));  // a long tip wraps
    for (int id : kPortButtons) {
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;  // what the classic common controls take
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = panel;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(panel, id));
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void showPortTip(NMTTDISPINFOW& request) {
    const int id = GetDlgCtrlID(reinterpret_cast<HWND>(request.hdr.idFrom));
    ui.portTipText = utf16(portTip(id - IDC_COM1 + 1, listPorts()));
    request.lpszText = ui.portTipText.data();
}

// Every control where the layout puts it: its dialog units at the base units of the 8-point sans at 96 DPI,
// scaled to the screen, as the Qt window places them. The dialog manager would take the units from the face
// standing in for the panel's font, whose metrics do not grow evenly with the scaling (at 150 % the panel
// came out 9 pixels short of the client area, which cut the send light in half). The panel fills the client
// area.
void placeControls(HWND panel) {
    // Position and size each on its own, as the dialog manager converts them.
    for (const ControlEntry& entry : panelLayout()) {
        SetWindowPos(GetDlgItem(panel, entry.id), nullptr, scaledPixels(dialogUnitsToPixelsX(entry.x)),
                     scaledPixels(dialogUnitsToPixelsY(entry.y)),
                     scaledPixels(dialogUnitsToPixelsX(entry.width)),
                     scaledPixels(dialogUnitsToPixelsY(entry.height)), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetWindowPos(panel, nullptr, 0, 0, scaledPixels(kClientWidth), scaledPixels(kClientHeight),
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void initialisePanel(HWND panel) {
    ui.panel = panel;
    ui.operations.attach(panel);
    ui.calls.setPanel(panel);
    // The session control locates the loader payloads as it is made: before anything else.
    ui.session = std::make_unique<SessionControl>(ui.operations, ui.calls.executor());
    placeControls(panel);
    CheckDlgButton(panel, IDC_COM1, BST_CHECKED);
    // The edit box wants CR LF line ends.
    std::string credits;
    for (const char* c = kCredits; *c != '\0'; ++c)
        credits += *c == '\n' ? std::string("\r\n") : std::string(1, *c);
    SetDlgItemTextW(panel, IDC_CREDITS, utf16(credits).c_str());
    SetDlgItemTextW(panel, IDC_BUILDSTAMP, utf16(kBuildStamp).c_str());
    // Cells 6 pixels wide rather than the terminal face's 8, as in the Qt window: 8 would cut " 1999999
    // bytes" and "SAPP CXC1320633" at their fields' edges.
    ui.valueFont = CreateFontW(scaledPixels(10), scaledPixels(6), 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               OEM_CHARSET, OUT_DEFAULT_PRECIS, CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY,
                               FIXED_PITCH | FF_MODERN, L"Terminal");
    for (int id : kValueFontControls)
        SendDlgItemMessageW(panel, id, WM_SETFONT, reinterpret_cast<WPARAM>(ui.valueFont), TRUE);
    // The dialogs' own face, which Windows links to fonts of every script, at the panel font's height.
    LOGFONTW panelFont{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(panel, WM_GETFONT, 0, 0)), sizeof panelFont, &panelFont);
    ui.anyScriptFont = CreateFontW(panelFont.lfHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_SWISS, L"MS Shell Dlg 2");
    for (int id : kAboutPane) ShowWindow(GetDlgItem(panel, id), SW_HIDE);
    ui.operations.clearImageFields();
    SetTimer(panel, kClockTimer, kClockIntervalMs, nullptr);
    SetTimer(panel, kLightsTimer, kLightsIntervalMs, nullptr);
    SetTimer(panel, kIconTimer, kIconIntervalMs, nullptr);
    HDC screen = GetDC(panel);
    ui.lights = CreateCompatibleDC(screen);
    ReleaseDC(panel, screen);
    SelectObject(ui.lights, ui.artwork->ledStrip);
    addPortTooltips(panel);
}

bool usesValueFont(int control) {
    for (int id : kValueFontControls)
        if (id == control) return true;
    return false;
}

// The terminal face holds the OEM code page's characters only.
bool valueFontShows(const std::wstring& text) {
    BOOL missing = FALSE;
    WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                        0, nullptr, &missing);
    return !missing;
}

void toggleAbout() {
    const bool show = !ui.aboutShown;
    for (int id : kAboutPane) ui.operations.setControlVisible(id, show);
    for (int id : kAboutCovers) ui.operations.setControlVisible(id, !show);
    ui.aboutShown = show;
    ui.operations.setFieldText(IDC_ABOUT, show ? "Data Info" : "About");
    ui.operations.redrawPanel();
}

void updatePressed() {
    SessionControl& session = *ui.session;
    // The flag that the button's caption follows, not the worker's end (which may come after the idle reset).
    if (session.state().sessionRunning) {
        ui.calls.stopCalls();
        session.abortSession();
        ui.calls.resumeCalls();
    } else if (ui.held.image) {
        session.startSession(*ui.held.image);
    }
}

void clockTick() {
    if (std::optional<std::string> text = ui.clock.tick(ui.session->state().clockRunning))
        SetDlgItemTextW(ui.panel, IDC_TIME, utf16(*text).c_str());
}

void lightsTick() {
    HDC panel = GetDC(ui.panel);
    ActivityFlags& activity = ui.session->link().activity();
    const int receive = activity.rxSeen.exchange(false) ? kReceiveCell : kOffCell;
    const int send = activity.txSeen.exchange(false) ? kSendCell : kOffCell;
    // At 96 DPI a plain copy; scaled, each strip pixel becomes a block of whole pixels.
    const int x = scaledPixels(kLightX), size = scaledPixels(kLightSize);
    SetStretchBltMode(panel, COLORONCOLOR);
    StretchBlt(panel, x, scaledPixels(kReceiveLightY), size, size, ui.lights, receive, 0, kLightSize,
               kLightSize, SRCCOPY);
    StretchBlt(panel, x, scaledPixels(kSendLightY), size, size, ui.lights, send, 0, kLightSize, kLightSize,
               SRCCOPY);
    ReleaseDC(ui.panel, panel);
}

void iconTick() {
    SetClassLongPtrW(ui.mainWindow, GCLP_HICON, reinterpret_cast<LONG_PTR>(ui.artwork->icons[ui.iconFrame]));
    // A new class icon shows in the caption only when the frame is drawn again: the frame alone, not the 37
    // controls ten times a second (the main window clips its child, the panel).
    RedrawWindow(ui.mainWindow, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOCHILDREN);
    ui.iconFrame = (ui.iconFrame + 1) % kIconFrames;
}

INT_PTR CALLBACK panelProcedure(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            initialisePanel(panel);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_UPDATE:
                    updatePressed();
                    break;
                case IDC_ABOUT:
                    toggleAbout();
                    break;
                case IDC_LOADSW:
                    loadSoftware(ui.operations, ui.held, platformOpenFile(ui.mainWindow));
                    break;
            }
            return TRUE;
        case WM_TIMER:
            switch (wParam) {
                case kClockTimer:
                    clockTick();
                    break;
                case kLightsTimer:
                    lightsTick();
                    break;
                case kIconTimer:
                    iconTick();
                    break;
            }
            return TRUE;
        case WM_NOTIFY:
            if (reinterpret_cast<NMHDR*>(lParam)->code == TTN_GETDISPINFOW)
                showPortTip(*reinterpret_cast<NMTTDISPINFOW*>(lParam));
            return TRUE;
        case kRunPanelCall:
            UiThreadCalls::run(lParam);
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(panel);
            return TRUE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return TRUE;
    }
    return FALSE;  // the dialog manager's own handling
}

}  // namespace

void Win32Panel::setStatus(const std::string& text) {
    SetWindowTextW(item(IDC_STATUS), utf16(text).c_str());
    InvalidateRect(item(IDC_STATUS), nullptr, TRUE);
}

void Win32Panel::setFieldText(int control, const std::string& text) {
    const std::wstring wide = utf16(text);
    if (usesValueFont(control)) {
        const HFONT font = valueFontShows(wide) ? ui.valueFont : ui.anyScriptFont;
        SendDlgItemMessageW(panel_, control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SetDlgItemTextW(panel_, control, wide.c_str());
}

void Win32Panel::clearImageFields() {
    for (int id : {IDC_MODULE, IDC_FORMAT, IDC_DUMPSIZE, IDC_CRC, IDC_VERSION, IDC_PHONE, IDC_IMEI})
        setFieldText(id, "");
    setFieldText(IDC_STATUS, session::kStatusReady);
    setFieldText(IDC_FRAMESSENT, "");
    setFieldText(IDC_LINKSTATE, session::kLinkClosed);
    setFieldText(IDC_LOADER, "");
    setControlEnabled(IDC_UPDATE, false);
}

// The whole range: counts past 65,535 (a large image's frames) keep their proportion.
void Win32Panel::progressStart(std::uint32_t range) {
    SendMessageW(item(IDC_PROGRESS), PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
    SendMessageW(item(IDC_PROGRESS), PBM_SETSTEP, 1, 0);
    SendMessageW(item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
}

void Win32Panel::progressStep() {
    SendMessageW(item(IDC_PROGRESS), PBM_STEPIT, 0, 0);  // past the top the bar starts over
}

void Win32Panel::progressReset() {
    SendMessageW(item(IDC_PROGRESS), PBM_SETPOS, 0, 0);
}

void Win32Panel::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    showDetailedMessage(text, "", caption, icon);
}

// The detail (the cause: a file's name in any language and what is wrong with it) below the message.
void Win32Panel::showDetailedMessage(const std::string& text, const std::string& detail,
                                     const std::string& caption, MessageIcon icon) {
    const std::string shown = detail.empty() ? text : text + "\n\n" + detail;
    MessageBoxW(panel_, utf16(shown).c_str(), utf16(caption).c_str(),
                MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : 0));
}

char Win32Panel::selectedPortDigit() {
    if (IsDlgButtonChecked(panel_, IDC_COM1) != BST_UNCHECKED) return '1';
    if (IsDlgButtonChecked(panel_, IDC_COM2) != BST_UNCHECKED) return '2';
    if (IsDlgButtonChecked(panel_, IDC_COM3) != BST_UNCHECKED) return '3';
    return '4';
}

void Win32Panel::setControlEnabled(int control, bool enabled) {
    EnableWindow(item(control), enabled ? TRUE : FALSE);
}

void Win32Panel::setControlVisible(int control, bool visible) {
    ShowWindow(item(control), visible ? SW_SHOW : SW_HIDE);
}

void Win32Panel::redrawPanel() {
    InvalidateRect(panel_, nullptr, TRUE);
}

int scaledPixels(int pixels) {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        const int value = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
        return value > 0 ? value : USER_DEFAULT_SCREEN_DPI;
    }();
    return MulDiv(pixels, dpi, USER_DEFAULT_SCREEN_DPI);
}

HWND createControlPanel(HINSTANCE instance, HWND mainWindow, const PanelArtwork& artwork) {
    ui.artwork = &artwork;
    ui.mainWindow = mainWindow;
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PANEL), mainWindow, panelProcedure, 0);
}

void loadImageFile(const std::string& path) {
    // Load SW is disabled while a session runs: so is every other way in.
    if (ui.session->state().sessionRunning) return;
    loadSoftware(ui.operations, ui.held, [&path]() -> std::optional<std::string> { return path; });
}

void shutDownSession() {
    if (!ui.session) return;
    ui.calls.stopCalls();
    ui.session->shutdown();
}
