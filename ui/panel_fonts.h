// The panel's two faces: an 8-point proportional sans for labels, buttons and the status line, and
// valueFont, a fixed-pitch face for the value fields.
#pragma once

#include <QFont>

// A 10-pixel face: cells 6 pixels wide. Wider cells (the old terminal face's 8) would cut " 1999999 bytes"
// and "SAPP CXC1320633" at their fields' edges and run "ABOUT BUILD FROM" into the build stamp.
inline constexpr int kValueFontPixels = 10;

QFont panelFont();
QFont makeValueFont();
