// Dialog units to pixels, and the window's place on the screen.
#include "ui/dialog_units.h"

int dialogUnitsToPixelsX(int units) {
    return (units * kBaseUnitX * 2 + 4) / 8;
}

int dialogUnitsToPixelsY(int units) {
    return (units * kBaseUnitY * 2 + 8) / 16;
}

PixelRect dialogRectToPixels(int x, int y, int width, int height) {
    const int left = dialogUnitsToPixelsX(x);
    const int top = dialogUnitsToPixelsY(y);
    return {left, top, dialogUnitsToPixelsX(x + width) - left, dialogUnitsToPixelsY(y + height) - top};
}

PixelPoint centredWindowOrigin(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
    return {screenWidth / 2 - windowWidth / 2, screenHeight / 2 - windowHeight / 2};
}
