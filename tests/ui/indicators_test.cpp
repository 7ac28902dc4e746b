// The clock, the two activity lights (read back as pixels) and the window icon's animation.
#include <QImage>

#include "serial/activity_flags.h"
#include "window_fixture.h"

namespace {

constexpr QRgb kOff = 0x000000, kReceive = 0x00FF00, kSend = 0xFF0000, kDark = 0x808080, kLight = 0xC0C0C0,
               kWhite = 0xFFFFFF;

QRgb pixel(ControlPanel& panel, int x, int y) {
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32).pixel(x, y) & 0xFFFFFFu;
}

}  // namespace

TEST(Clock, CountsFromDetectionKeepsItsTextWhenStoppedAndWrapsAfter255Minutes) {
    WindowFixture f;
    std::atomic<bool> running{false};
    f.panel().setClockSource(&running);
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "");  // blank until the phone is detected
    running = true;
    const std::pair<int, const char*> ticks[] = {{1, "00:00"},    {59, "00:59"}, {1, "01:00"},
                                                 {5939, "99:59"}, {1, "100:00"}, {9359, "255:59"},
                                                 {1, "00:00"},    {1, "00:01"}};
    for (const auto& [count, shown] : ticks) {
        for (int i = 0; i < count; ++i) f.panel().clockTick();
        EXPECT_EQ(f.text(IDC_TIME), shown);
    }
    running = false;
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:01");  // the last time stays shown
    running = true;
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:00");  // a new session counts from zero
}

TEST(Lights, EachRaisingLightsItsSunkenCellForOneTick) {
    WindowFixture f;
    const auto inside = [&] {
        return std::pair{pixel(f.panel(), kReceiveLightX + 3, kReceiveLightY + 3),
                         pixel(f.panel(), kSendLightX + 3, kSendLightY + 3)};
    };
    ActivityFlags& activityFlags = f.window.session().link().activity();  // the lights show this link's
    activityFlags.rxSeen = activityFlags.txSeen = false;
    f.panel().lightsTick();
    EXPECT_EQ(inside(), std::pair(kOff, kOff));
    activityFlags.rxSeen = true;
    f.panel().lightsTick();
    EXPECT_EQ(inside(), std::pair(kReceive, kOff));  // the receive light is the upper one
    EXPECT_FALSE(activityFlags.rxSeen);              // the tick lowers what it shows
    const std::tuple<int, int, QRgb> bevel[] = {
        {0, 0, kDark}, {6, 0, kLight}, {3, 6, kWhite}, {1, 1, kReceive}};
    for (const auto& [x, y, colour] : bevel)
        EXPECT_EQ(pixel(f.panel(), kReceiveLightX + x, kReceiveLightY + y), colour) << x << "," << y;
    activityFlags.txSeen = true;
    f.panel().lightsTick();
    EXPECT_EQ(inside(), std::pair(kOff, kSend));
    f.panel().lightsTick();
    EXPECT_EQ(inside(), std::pair(kOff, kOff));
}

TEST(WindowIcon, CyclesThroughTheSixFramesAndBack) {
    WindowFixture f;
    EXPECT_EQ(f.window.windowIcon().cacheKey(), f.panel().icon(105).cacheKey());
    for (int id : {105, 106, 107, 108, 109, 110, 105, 106}) {
        f.panel().iconTick();
        EXPECT_EQ(f.window.windowIcon().cacheKey(), f.panel().icon(id).cacheKey()) << id;
    }
}
