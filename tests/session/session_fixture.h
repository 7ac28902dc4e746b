// One updater (SessionControl and a recording panel) against one simulated phone on a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "recording_panel.h"
#include "session/session_control.h"
#include "tests/support/records.h"
#include "tests/support/sample_image.h"
#include "tools/phone-sim/phone_sim.h"

namespace session_test {

using namespace std::chrono_literals;

inline const std::string kHint = "You will have to remove the battery and put it back before restarting";

// Panel lines are written as one text, separated by '|'.
inline Lines split(const std::string& text) {
    return linesOf(text, '|');
}

inline Lines operator+(Lines left, const Lines& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

inline Lines startLines() {
    return split(
        "field 1051 'Abort'|enable 1056 off|enable 1018 off|enable 1019 off|enable 1020 off|"
        "enable 1021 off|progressReset|redraw");
}

inline Lines idleLines() {
    return split(
        "progressReset|field 1051 'Update'|enable 1056 on|enable 1018 on|enable 1019 on|enable 1020 on|"
        "enable 1021 on|field 1007 ''|field 1003 'CLOSED'|field 1004 ''|status Ready|redraw");
}

// Up to the power-on wait.
inline Lines openingLines() {
    return startLines() + split(
                              "field 1058 ''|field 1002 ''|field 1008 ''|selectedPortDigit|field 1003 '9600'|"
                              "status Power ON the phone ...");
}

// The whole panel transcript of a T1x's successful session.
inline Lines successTranscript(std::int32_t frames, const std::string& imei) {
    Lines t =
        openingLines() + split(
                             "field 1058 ' T1x detected'|status Entering boot mode ...|status Waiting for "
                             "handshake ...|status Sending boot appliation ...|progressStart 57");
    t.insert(t.end(), 58, "progressStep");
    t = t + split(
                "progressReset|field 1004 'BOOT CXC132611'|status Changing baud rate ...|field 1003 '115200'|"
                "status Sending service application ...|progressStart 135");
    t.insert(t.end(), 136, "progressStep");
    t = t + split("progressReset|field 1004 'SAPP CXC1320633'|status Reading IMEI ...|field 1002 '" + imei +
                  "'|status Erasing flash ...|status Blank checking ...|status Updating software ...|"
                  "progressStart " +
                  std::to_string(frames));
    for (std::int32_t k = 1; k <= frames; ++k)
        t = t + Lines{"field 1007 '" + std::to_string(k) + "'", "progressStep"};
    return t + split("progressReset|status Formating EEPROM ...|status CRC checking ...") + idleLines() +
           Lines{"message Success (none) Software updated completed"};
}

// The simulated phone without line-rate emulation; the erase takes 2 s, far over a 200 ms window: a machine
// busy enough to hold a session up for a second (seen: 1 s erases lost under two cores' load with the ASan
// suite at -j4 beside other builds) still keeps its two replies in separate windows.
inline PhoneSimOptions phoneOptions(PhoneKind model = PhoneKind::T1x) {
    PhoneSimOptions o;
    o.model = model;
    o.emulateLineRate = false;
    o.powerOnDelay = 20ms;
    o.eraseTime = 2000ms;
    o.hangupGrace = 500ms;
    return o;
}

// A step's name as a test's: "final-check" -> "FinalCheck".
inline std::string testName(SimStep step) {
    std::string name;
    for (const char* c = stepName(step); *c; ++c)
        if (*c != '-') name += c == stepName(step) || c[-1] == '-' ? char(std::toupper(*c)) : *c;
    return name;
}

// Header, `frames` data frames of `length` bytes each (at least 6), termination.
inline FlashImage withFrames(int frames, std::size_t length = 40) {
    return sample::flashImage(sample::image(frames, "HDR", length - 6));
}

class SessionFixture : public ::testing::Test {
  protected:
    void TearDown() override {
        control.reset();  // before the phone it talks to
        sim.reset();
    }
    void startPhone(PhoneSimOptions options) {
        std::string error;
        ASSERT_TRUE(image.size == 0 || setExpectedImage(options, image, error)) << error;
        sim = std::make_unique<PhoneSim>(std::move(options));
        ASSERT_TRUE(sim->start(error)) << error;
        if (control) control->link().setPortResolver([path = sim->slavePath()](char) { return path; });
    }
    // Short read rules keep silent-phone cases quick; sixteen windows of 200 ms outlast the erase.
    void makeControl(ReadRule rule = {16, 200}) {
        control = std::make_unique<SessionControl>(panel);
        control->link().setPortResolver(
            [path = sim ? sim->slavePath() : "/dev/null/no-such-port"](char) { return path; });
        control->link().setReadRule(rule);
    }
    void start() { control->startSession(image); }
    std::chrono::milliseconds abort() {  // how long abortSession took
        const auto begin = std::chrono::steady_clock::now();
        control->abortSession();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     begin);
    }
    int runToEnd() {
        start();
        return control->waitForEnd();
    }
    std::string diagnosis() const { return sim ? sim->verdict().text() : ""; }  // where the phone was
    Lines linesFrom(std::size_t from) const {
        const Lines all = panel.calls();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end());
    }
    std::size_t indexOf(const std::string& line) const {
        const Lines all = panel.calls();
        return std::find(all.begin(), all.end(), line) - all.begin();
    }
    std::string lastStatusBefore(std::size_t end) const {
        const Lines all = panel.calls();
        for (std::size_t i = std::min(end, all.size()); i-- > 0;)
            if (all[i].rfind("status ", 0) == 0) return all[i].substr(7);
        return {};
    }
    // Session running, clock running, abort hint armed, failure hint wanted, port open: "00000" when idle.
    std::string flags() {
        const SessionState& s = control->state();
        std::string text;
        for (bool on : {s.sessionRunning.load(), s.clockRunning.load(), s.abortHintArmed.load(),
                        s.failureHintWanted.load(), control->link().isOpen()})
            text += on ? '1' : '0';
        return text;
    }
    // Aborts once the session is quiet at its step: at once, with the hint when a phone was detected, the
    // idle reset, the port closed, and nothing more on the line or the panel.
    void abortAndCheck(bool detected) {
        std::this_thread::sleep_for(150ms);  // let the last command drain into the phone
        const std::size_t before = panel.size();
        EXPECT_LT(abort(), 2000ms);  // far above the 50 ms target; only catches an abort that waits
        EXPECT_EQ(control->waitForEnd(), kSessionAborted);
        EXPECT_EQ(linesFrom(before),
                  (detected ? Lines{"message Abort (error) " + kHint} : Lines{}) + idleLines());
        EXPECT_EQ(flags(), "00000");
        EXPECT_FALSE(control->link().interrupted());  // ready for the next session
        expectLineQuiet();
        EXPECT_EQ(panel.size(), before + idleLines().size() + detected)
            << "the aborted session reached the panel";
    }
    // The bytes the phone took stop growing: nothing more reaches the line.
    void expectLineQuiet() {
        const std::size_t received = sim->bytesReceived();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(sim->bytesReceived(), received) << "bytes reached the phone after the ending";
    }

    RecordingPanel panel;
    FlashImage image = withFrames(40);
    std::unique_ptr<PhoneSim> sim;
    std::unique_ptr<SessionControl> control;
};

}  // namespace session_test
