// The panel's fonts: the dialog face and the fixed-pitch face of the value fields.
#include "ui/panel_fonts.h"

#include <QStringList>

QFont panelFont() {
    QFont font;
    // Liberation Sans keeps the labels as narrow as the layout's widths expect; DejaVu Sans is the fallback.
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QFont makeValueFont() {
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono")});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(kValueFontPixels);
    return font;
}
