// Whole sessions that end in success, for both models, against the simulated phone.
#include "session_fixture.h"

namespace session_test {
namespace {

class SessionSuccess : public SessionFixture {};

TEST_F(SessionSuccess, T1xAtTheRealLineRateGivesTheWholeTranscript) {
    auto options = phoneOptions(PhoneKind::T1x);
    options.emulateLineRate = true;  // 960 B/s before the speed change, 11,520 B/s after
    startPhone(options);
    makeControl(false, kLineRateReadRule);
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(panel.calls(), successTranscript(false, image.frameCount, " 490154-20-323751-8"));
    EXPECT_FALSE(control->state().sessionRunning);
    EXPECT_FALSE(control->state().clockRunning);
    EXPECT_FALSE(control->state().abortHintArmed);
    EXPECT_FALSE(control->link().isOpen());
    EXPECT_FALSE(control->running());
}

TEST_F(SessionSuccess, A1018sThroughThePanelThreadGivesTheSameTranscript) {
    auto options = phoneOptions(PhoneKind::A1018s);
    options.imei = "356938035643809";
    startPhone(options);
    makeControl(/*withExecutor=*/true);
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(panel.calls(), successTranscript(true, image.frameCount, " 356938-03-564380-9"));
    // Every panel call, the worker's included, was carried out on the panel's thread.
    for (auto id : panel.threads()) ASSERT_EQ(id, ui->id());
}

TEST_F(SessionSuccess, TheSameImageCanBeSentAgainAndAnAbortAfterSuccessShowsNoHint) {
    auto options = phoneOptions(PhoneKind::T1x);
    options.repeat = true;
    options.powerOnDelay = 20ms;
    startPhone(options);
    makeControl();
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    // The phone takes a closed line as the end of a session only after a grace (a reopen is quicker).
    std::this_thread::sleep_for(options.hangupGrace + 300ms);
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    // A third session is aborted before any phone answers: the hint belongs to detected phones only,
    // whatever the sessions before did.
    auto silent = phoneOptions(PhoneKind::T1x);
    silent.powerOnDelay = std::chrono::hours(1);
    startPhone(silent);
    control->link().setPortResolver([path = sim->slavePath()](char) { return path; });
    const std::size_t before = panel.size();
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2000, before));
    abort();
    EXPECT_EQ(control->waitForEnd(), kSessionAborted);
    Lines expected = startLines();
    append(expected, {"field 1058 ''", "field 1002 ''", "field 1008 ''", "selectedPortDigit",
                      "field 1003 '9600'", "status Power ON the phone ..."});
    append(expected, idleLines());
    EXPECT_EQ(linesFrom(before), expected);
    EXPECT_EQ(sim->bytesReceived(), 0u);
}

TEST_F(SessionSuccess, PowerOnNoiseIsIgnored) {
    for (const char* noise : {"TU", "X", "\xFF\x00T"}) {
        SCOPED_TRACE(noise);
        auto options = phoneOptions(PhoneKind::T1x);
        options.noise = std::string(noise, noise[0] == '\xFF' ? 3 : std::char_traits<char>::length(noise));
        startPhone(options);
        makeControl();
        panel.clear();
        EXPECT_EQ(runToEnd(), 0) << diagnosis();
        EXPECT_EQ(panel.calls(), successTranscript(false, image.frameCount, " 490154-20-323751-8"));
        control.reset();
        sim.reset();
    }
}

TEST_F(SessionSuccess, A1018sTakesAnImageOfExactlyTheLimitAndT1xTakesMore) {
    image = test_image::ofSize(2'000'000);
    ASSERT_EQ(image.size, 2'000'000u);
    startPhone(phoneOptions(PhoneKind::A1018s));
    makeControl();
    start();
    // Past detection and into the boot mode: the size was accepted. No need to stream 2 MB.
    ASSERT_TRUE(panel.waitFor("status Entering boot mode ...", 3000));
    abort();
    control.reset();
    sim.reset();

    image = test_image::ofSize(2'000'001);
    ASSERT_EQ(image.size, 2'000'001u);
    panel.clear();
    startPhone(phoneOptions(PhoneKind::T1x));
    makeControl();
    start();
    ASSERT_TRUE(panel.waitFor("status Entering boot mode ...", 3000));
    abort();
}

TEST_F(SessionSuccess, ProgressRangeIsTheWholeFrameCount) {
    // 70,000 frames would be 4,464 if cut to 16 bits.
    image = test_image::withFrames(70'000, 6);
    ASSERT_EQ(image.frameCount, 70'000);
    startPhone(phoneOptions(PhoneKind::T1x));
    makeControl();
    EXPECT_EQ(runToEnd(), 0) << diagnosis();
    const Lines lines = panel.calls();
    const auto at = std::find(lines.begin(), lines.end(), "progressStart 70000");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at - 1), "status Updating software ...");
    EXPECT_EQ(std::count(at, lines.end(), "progressStep"), 70'000);
    EXPECT_EQ(std::find(at, lines.end(), "field 1007 '70000'") != lines.end(), true);
    // Boot (58 steps on 57) and service (136 on 135) each start the bar over once; the frames never do.
    EXPECT_EQ(panel.wraps(), 2u);
}

}  // namespace
}  // namespace session_test
