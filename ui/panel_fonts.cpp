#include "ui/panel_fonts.h"

#include <QFontInfo>
#include <QFontMetrics>

QFont panelFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QFont makeValueFont() {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(kValueCellHeight);
    // Widen the face until its cells are as wide as the original terminal face's.
    const int advance = QFontMetrics(font).horizontalAdvance(QLatin1Char('0'));
    if (advance > 0 && advance < kValueCellWidth) font.setStretch(100 * kValueCellWidth / advance);
    return font;
}
