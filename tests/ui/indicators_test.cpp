// The clock, the two activity lights (read back as pixels) and the window icon's animation.
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>

#include "serial/activity_flags.h"
#include "ui/clock_counter.h"
#include "window_fixture.h"

namespace {

QRgb rgb(int r, int g, int b) {
    return qRgb(r, g, b) & 0xFFFFFFu;
}

struct LightPixels {
    QRgb receiveInside, sendInside;
};

LightPixels lightPixels(ControlPanel& panel) {
    const QImage image = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return {image.pixel(kReceiveLightX + 3, kReceiveLightY + 3) & 0xFFFFFFu,
            image.pixel(kSendLightX + 3, kSendLightY + 3) & 0xFFFFFFu};
}

QRgb plain(QRgb colour) {
    return colour & 0xFFFFFFu;
}

}  // namespace

TEST(ClockCounter, CountsFromZeroAndWrapsAfter255Minutes) {
    ClockCounter clock;
    EXPECT_EQ(clock.tick(true), "00:00");
    for (int i = 0; i < 58; ++i) clock.tick(true);
    EXPECT_EQ(clock.tick(true), "00:59");
    EXPECT_EQ(clock.tick(true), "01:00");
    // Stopped: no text, counters back to zero.
    EXPECT_EQ(clock.tick(false), std::nullopt);
    EXPECT_EQ(clock.tick(true), "00:00");
}

TEST(Clock, TicksFromDetectionAndKeepsItsTextWhenStopped) {
    WindowFixture f;
    std::atomic<bool> running{false};
    f.panel().setClockSource(&running);
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "");  // blank until the phone is detected
    running = true;
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:00");
    for (int i = 0; i < 59; ++i) f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:59");
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "01:00");
    running = false;
    f.panel().clockTick();
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "01:00");  // the last time stays shown
    running = true;
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:00");  // a new session counts from zero
}

TEST(Clock, ThreeDigitMinutesThenEightBitWrap) {
    WindowFixture f;
    std::atomic<bool> running{true};
    f.panel().setClockSource(&running);
    for (int i = 0; i < 100 * 60; ++i) f.panel().clockTick();
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "100:00");
    while (f.text(IDC_TIME) != "255:59") f.panel().clockTick();
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:00");
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), "00:01");
}

TEST(ActivityLights, EachRaisingLightsItsCellForOneTick) {
    WindowFixture f;
    activityFlags.rxSeen = false;
    activityFlags.txSeen = false;
    f.panel().lightsTick();
    LightPixels p = lightPixels(f.panel());
    EXPECT_EQ(p.receiveInside, rgb(0, 0, 0));
    EXPECT_EQ(p.sendInside, rgb(0, 0, 0));

    activityFlags.rxSeen = true;
    f.panel().lightsTick();
    p = lightPixels(f.panel());
    EXPECT_EQ(p.receiveInside, rgb(0, 255, 0));  // the receive light is the upper one
    EXPECT_EQ(p.sendInside, rgb(0, 0, 0));
    EXPECT_FALSE(activityFlags.rxSeen);  // the tick lowers what it shows

    activityFlags.txSeen = true;
    f.panel().lightsTick();
    p = lightPixels(f.panel());
    EXPECT_EQ(p.receiveInside, rgb(0, 0, 0));  // one tick only
    EXPECT_EQ(p.sendInside, rgb(255, 0, 0));

    f.panel().lightsTick();
    p = lightPixels(f.panel());
    EXPECT_EQ(p.sendInside, rgb(0, 0, 0));

    // Steady traffic keeps a light lit.
    for (int i = 0; i < 3; ++i) {
        activityFlags.txSeen = true;
        f.panel().lightsTick();
        EXPECT_EQ(lightPixels(f.panel()).sendInside, rgb(255, 0, 0));
    }
    f.panel().lightsTick();
}

TEST(ActivityLights, CellsHaveTheSunkenBevel) {
    WindowFixture f;
    activityFlags.rxSeen = true;
    f.panel().lightsTick();
    const QImage image = f.panel().grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int x = kReceiveLightX;
    const int y = kReceiveLightY;
    EXPECT_EQ(plain(image.pixel(x, y)), rgb(128, 128, 128));          // top-left: dark
    EXPECT_EQ(plain(image.pixel(x + 3, y)), rgb(128, 128, 128));      // top row
    EXPECT_EQ(plain(image.pixel(x, y + 3)), rgb(128, 128, 128));      // left column
    EXPECT_EQ(plain(image.pixel(x + 6, y)), rgb(192, 192, 192));      // top-right corner
    EXPECT_EQ(plain(image.pixel(x, y + 6)), rgb(192, 192, 192));      // bottom-left corner
    EXPECT_EQ(plain(image.pixel(x + 6, y + 3)), rgb(255, 255, 255));  // right column
    EXPECT_EQ(plain(image.pixel(x + 3, y + 6)), rgb(255, 255, 255));  // bottom row
    EXPECT_EQ(plain(image.pixel(x + 1, y + 1)), rgb(0, 255, 0));      // interior starts inside the bevel
    EXPECT_EQ(plain(image.pixel(x + 5, y + 5)), rgb(0, 255, 0));
    // The send light sits 9 pixels lower, off.
    EXPECT_EQ(plain(image.pixel(kSendLightX + 1, kSendLightY + 1)), rgb(0, 0, 0));
    EXPECT_EQ(plain(image.pixel(kSendLightX, kSendLightY)), rgb(128, 128, 128));
    f.panel().lightsTick();
}

TEST(ActivityLights, TimerRunsWhileASessionRunsOrALightIsLit) {
    WindowFixture f;
    std::atomic<bool> sessionRunning{true};
    f.panel().setLightsSource(&sessionRunning);
    f.panel().startLights();
    f.panel().lightsTick();
    EXPECT_TRUE(f.panel().lightsTimerActive());  // a session keeps it going with both lights off
    sessionRunning = false;
    activityFlags.txSeen = true;  // the session's last write
    f.panel().lightsTick();
    EXPECT_TRUE(f.panel().lightsTimerActive());  // lit: one more tick to put it out
    f.panel().lightsTick();
    EXPECT_FALSE(f.panel().sendLit());
    EXPECT_FALSE(f.panel().lightsTimerActive());
    f.panel().startLights();
    EXPECT_TRUE(f.panel().lightsTimerActive());
    f.panel().stopTimers();
}

TEST(WindowIcon, CyclesThroughTheSixFramesAndBack) {
    WindowFixture f;
    EXPECT_EQ(f.window.windowIcon().cacheKey(), f.panel().icon(105).cacheKey());  // class icon at start
    const int expected[] = {105, 106, 107, 108, 109, 110, 105, 106};
    for (int id : expected) {
        f.panel().iconTick();
        EXPECT_EQ(f.window.windowIcon().cacheKey(), f.panel().icon(id).cacheKey()) << "icon " << id;
    }
    // Each frame has its small flag and the large handset.
    const QIcon& icon = f.panel().icon(107);
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(32, 32)}));
    EXPECT_NE(f.panel().icon(105).pixmap(16, 16).toImage(), f.panel().icon(106).pixmap(16, 16).toImage());
    EXPECT_EQ(f.panel().icon(105).pixmap(32, 32).toImage(), f.panel().icon(106).pixmap(32, 32).toImage());
}
