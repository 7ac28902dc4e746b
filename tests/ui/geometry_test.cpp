// Where the window goes and where the layout's controls land in pixels.
#include <gtest/gtest.h>

#include <QWidget>
#include <set>

#include "ui/dialog_units.h"
#include "ui/panel_layout.h"
#include "window_fixture.h"

TEST(WindowPlacement, CentredByHalfTheScreenLessFixedOffsets) {
    EXPECT_EQ(centredWindowOrigin(1024, 768), (PixelPoint{339, 273}));
    EXPECT_EQ(centredWindowOrigin(800, 600), (PixelPoint{227, 189}));
    EXPECT_EQ(centredWindowOrigin(1023, 768).x, 338);  // halves round down
    EXPECT_EQ(centredWindowOrigin(1024, 767).y, 272);
}

TEST(DialogUnits, RoundToNearestWithHalvesUp) {
    EXPECT_EQ(dialogUnitsToPixelsX(0), 0);
    EXPECT_EQ(dialogUnitsToPixelsX(3), 5);      // 4.5
    EXPECT_EQ(dialogUnitsToPixelsX(229), 344);  // 343.5
    EXPECT_EQ(dialogUnitsToPixelsY(111), 180);  // 180.375: the bottom row, where the lights sit
    EXPECT_EQ(dialogUnitsToPixelsY(4), 7);      // 6.5
    EXPECT_EQ(dialogUnitsToPixelsY(121), 197);  // 196.625: the panel's full height
}

TEST(PanelLayout, HasThirtySevenDistinctControls) {
    std::set<int> ids;
    for (const ControlSpec& entry : panelLayout()) ids.insert(entry.id);
    EXPECT_EQ(panelLayout().size(), 37u);
    EXPECT_EQ(ids.size(), 37u);
    int valueFontControls = 0;
    for (const ControlSpec& entry : panelLayout()) valueFontControls += (entry.style & kValueFont) ? 1 : 0;
    EXPECT_EQ(valueFontControls, 15);
}

TEST(PanelGeometry, ControlsSitAtTheirPixelRectangles) {
    WindowFixture f;
    auto rectOf = [&](int id) { return f.panel().control(id)->geometry(); };
    // Hand-converted from the layout: each edge rounded on its own.
    EXPECT_EQ(rectOf(IDC_STATUS), QRect(5, 180, 151, 17));
    EXPECT_EQ(rectOf(IDC_UPDATE), QRect(267, 146, 68, 23));
    EXPECT_EQ(rectOf(IDC_PROGRESS), QRect(14, 127, 237, 11));
    EXPECT_EQ(rectOf(IDC_LOADER), QRect(213, 180, 107, 17));
    EXPECT_EQ(rectOf(IDC_RULE), QRect(0, 176, 342, 1));
    // The loader field ends before the lights' column.
    EXPECT_LT(rectOf(IDC_LOADER).right(), kReceiveLightX);
}

TEST(MainWindowFrame, FixedSizeWithCaptionAndCloseBoxOnly) {
    WindowFixture f;
    MainWindow& w = f.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Phone Flash Updater"));
    EXPECT_EQ(w.size(), QSize(341, 197));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(f.panel().geometry(), QRect(0, 0, 341, 197));
    const Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    w.centreOnScreen(1024, 768);
    EXPECT_EQ(w.pos(), QPoint(339, 273));
}
