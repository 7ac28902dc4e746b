// Dialog units of the panel layout -> pixels, and where the main window goes on the screen.
#pragma once

// The layout is in dialog units of an 8-point sans face whose base units are 6 x 13 pixels at 96 DPI.
// Fixing them keeps every control (and the activity lights' fixed pixels) where the layout puts them,
// whatever face is installed.
inline constexpr int kBaseUnitX = 6;
inline constexpr int kBaseUnitY = 13;

// Client area of the main window: the 347 x 222 outer size less a 3-pixel frame and a 19-pixel caption.
inline constexpr int kClientWidth = 341;
inline constexpr int kClientHeight = 197;
inline constexpr int kOuterWidth = 347;
inline constexpr int kOuterHeight = 222;

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// round(units * 6 / 4) and round(units * 13 / 8), halves rounded up (units are never negative).
int dialogUnitsToPixelsX(int units);
int dialogUnitsToPixelsY(int units);

// Each edge is converted on its own, as the platform maps a dialog rectangle, so neighbours that touch in
// dialog units touch in pixels too.
PixelRect dialogRectToPixels(int x, int y, int width, int height);

// Top-left corner of a window of the given outer size on a screen of the given size: half the screen less
// half the window, each rounded down (173 across and 111 down for the 347 x 222 window).
PixelPoint centredWindowOrigin(int screenWidth, int screenHeight, int windowWidth = kOuterWidth,
                               int windowHeight = kOuterHeight);
