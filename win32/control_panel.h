// The one dialog that fills the main window: the panel operations, the three buttons, the About toggle and
// the three timers. Everything here runs on the user-interface thread; the session's worker gets here
// through UiThreadCalls.
#pragma once

#include <windows.h>

#include "session/panel.h"

inline constexpr UINT kClockIntervalMs = 1000;
inline constexpr UINT kLightsIntervalMs = 10;
inline constexpr UINT kIconIntervalMs = 100;
inline constexpr int kIconFrames = 6;

// What start-up loaded before any window existed; the panel keeps it until the process ends.
struct PanelArtwork {
    HBITMAP ledStrip = nullptr;
    HICON icons[kIconFrames] = {};
};

class Win32Panel final : public Panel {
  public:
    void attach(HWND panel) { panel_ = panel; }

    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void clearImageFields() override;
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void showDetailedMessage(const std::string& text, const std::string& detail, const std::string& caption,
                             MessageIcon icon) override;
    char selectedPortDigit() override;
    void setControlEnabled(int control, bool enabled) override;
    void setControlVisible(int control, bool visible) override;
    void redrawPanel() override;

  private:
    HWND item(int control) const { return GetDlgItem(panel_, control); }
    HWND panel_ = nullptr;
};

// Pixels of the layout at 96 DPI as pixels at the screen's scaling (the process is system-DPI-aware).
int scaledPixels(int pixels);

// Creates the panel from its layout resource inside `mainWindow`; nullptr when that fails.
HWND createControlPanel(HINSTANCE instance, HWND mainWindow, const PanelArtwork& artwork);
// Loads the image file at `path` (UTF-8) as Load SW loads the one chosen in its dialog: a file named on the
// command line or dropped on the window. Ignored while a session runs.
void loadImageFile(const std::string& path);
// Ends a session still running when the window has closed: silently, without touching the panel.
void shutDownSession();
