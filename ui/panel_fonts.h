// The panel's two faces: an 8-point proportional sans for labels, buttons and the status line, and
// valueFont, a fixed-pitch face with cells of about 8 x 10 pixels for the value fields.
#pragma once

#include <QFont>

inline constexpr int kValueCellWidth = 8;
inline constexpr int kValueCellHeight = 10;

QFont panelFont();
QFont makeValueFont();
