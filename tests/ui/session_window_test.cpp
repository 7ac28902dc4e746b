// Whole update sessions through the window against the simulated phone on a pseudo-terminal: the worker's
// panel calls travel through the real queued executor, boxes are recorded by the message-box seam.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "image_files.h"
#include "serial/activity_flags.h"
#include "tools/phone-sim/phone_sim.h"
#include "window_fixture.h"

namespace {

using namespace std::chrono_literals;

const std::string kHint = "You will have to remove the battery and put it back before restarting";

// What the panel showed when a status first appeared.
struct Snapshot {
    std::string phone, imei, linkState, loader, time;
};

class WindowSession : public ::testing::Test {
  protected:
    void SetUp() override {
        activityFlags.rxSeen = false;
        activityFlags.txSeen = false;
        image = dir.write("update.sbin", sbinImage("CXC132611 R1A", 30));
        f.load(image);
        ASSERT_TRUE(f.window.heldImage().image.has_value());
        f.window.session().link().setReadRule({5, 200});
    }
    void TearDown() override {
        f.window.session().shutdown();
        sim.reset();
    }

    PhoneSimOptions fastPhone() {
        PhoneSimOptions o;
        o.model = PhoneKind::T1x;
        o.imei = "490154203237518";
        o.emulateLineRate = false;
        o.powerOnDelay = 20ms;
        o.powerOnInterval = 300ms;
        o.eraseTime = 800ms;  // wide of the 200 ms window even on a busy machine
        o.hangupGrace = 300ms;
        return o;
    }

    void startPhone(PhoneSimOptions options) {
        std::string error;
        ASSERT_TRUE(setExpectedImage(options, *f.window.heldImage().image, error)) << error;
        sim = std::make_unique<PhoneSim>(std::move(options));
        ASSERT_TRUE(sim->start(error)) << error;
        const std::string path = sim->slavePath();
        f.window.setPortResolver([path](char) { return path; });
    }

    // Runs the event loop (and so the worker's queued panel calls) until `done`, recording each status's
    // first appearance; `onEachTurn` runs between turns.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s,
                   const std::function<void()>& onEachTurn = {}) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            QTest::qWait(2);
            const std::string status = f.text(IDC_STATUS);
            if (!snapshots.count(status)) {
                snapshots[status] = {f.text(IDC_PHONE), f.text(IDC_IMEI), f.text(IDC_LINKSTATE),
                                     f.text(IDC_LOADER), f.text(IDC_TIME)};
            }
            if (onEachTurn) onEachTurn();
        }
        return true;
    }
    bool sessionEnded() { return !f.window.session().running(); }

    void expectIdle() {
        EXPECT_EQ(f.text(IDC_UPDATE), "Update");
        EXPECT_EQ(f.text(IDC_STATUS), "Ready");
        EXPECT_EQ(f.text(IDC_LINKSTATE), "CLOSED");
        EXPECT_EQ(f.text(IDC_LOADER), "");
        EXPECT_EQ(f.text(IDC_FRAMESSENT), "");
        for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_UPDATE}) {
            EXPECT_TRUE(f.enabled(id)) << "control " << id;
        }
        EXPECT_FALSE(f.window.session().link().isOpen());
    }

    WindowFixture f;
    TempDir dir;
    std::string image;
    std::unique_ptr<PhoneSim> sim;
    std::map<std::string, Snapshot> snapshots;
};

}  // namespace

TEST_F(WindowSession, WholeUpdateShowsEachStepAndEndsWithTheSuccessBox) {
    startPhone(fastPhone());
    f.clickButton(IDC_UPDATE);
    // Locked at once, on this thread.
    EXPECT_EQ(f.text(IDC_UPDATE), "Abort");
    for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4}) EXPECT_FALSE(f.enabled(id)) << id;
    EXPECT_TRUE(f.enabled(IDC_UPDATE));

    bool receiveLit = false, sendLit = false;
    std::vector<std::string> times;  // each new text the clock put into the Time field
    // Update woke the lights timer (the fixture stopped the timers); the clock is ticked by hand.
    EXPECT_TRUE(f.panel().lightsTimerActive());
    ASSERT_TRUE(pumpUntil([&] { return !f.messages.empty(); }, 30s,
                          [&] {
                              receiveLit = receiveLit || f.panel().receiveLit();
                              sendLit = sendLit || f.panel().sendLit();
                              f.panel().clockTick();
                              const std::string time = f.text(IDC_TIME);
                              if (!time.empty() && (times.empty() || times.back() != time))
                                  times.push_back(time);
                          }))
        << sim->verdict().text() << "; status " << f.text(IDC_STATUS) << ", link " << f.text(IDC_LINKSTATE);

    EXPECT_EQ(f.messages,
              (std::vector<ShownMessage>{{"Software updated completed", "Success", MessageIcon::None}}));
    EXPECT_EQ(f.statusAtMessage[0], "Ready");  // the idle reset comes before the box
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    EXPECT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();

    // During the session.
    EXPECT_EQ(snapshots["Power ON the phone ..."].linkState, "9600");
    EXPECT_EQ(snapshots["Power ON the phone ..."].phone, "");
    EXPECT_EQ(snapshots["Sending service application ..."].linkState, "115200");
    EXPECT_EQ(snapshots["Sending service application ..."].loader, "BOOT CXC132611");
    EXPECT_EQ(snapshots["Erasing flash ..."].imei, " 490154-20-323751-8");
    EXPECT_EQ(snapshots["Updating software ..."].phone, " T1x detected");
    EXPECT_EQ(snapshots["Updating software ..."].loader, "SAPP CXC1320633");
    // The clock stays blank until the phone is detected, then counts from 00:00.
    EXPECT_EQ(snapshots["Power ON the phone ..."].time, "");
    ASSERT_GE(times.size(), 2u);
    EXPECT_EQ(times[0], "00:00");
    EXPECT_EQ(times[1], "00:01");
    EXPECT_TRUE(receiveLit);
    EXPECT_TRUE(sendLit);
    // Between sessions the lights go dark and their timer stops.
    EXPECT_TRUE(pumpUntil([&] { return !f.panel().lightsTimerActive(); }, 2s));
    EXPECT_FALSE(f.panel().receiveLit());
    EXPECT_FALSE(f.panel().sendLit());

    // After it: idle, with the phone's particulars and the image kept for another run.
    expectIdle();
    EXPECT_EQ(f.text(IDC_PHONE), " T1x detected");
    EXPECT_EQ(f.text(IDC_IMEI), " 490154-20-323751-8");
    EXPECT_EQ(f.text(IDC_FRAMESTOTAL), "30");
    EXPECT_EQ(f.text(IDC_FORMAT), "SBIN");
    const std::string lastTime = f.text(IDC_TIME);
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), lastTime);  // the clock stopped and its text stays
}

TEST_F(WindowSession, PortThatCannotBeOpenedShowsOnlyTheErrorBox) {
    f.window.setPortResolver([](char) { return std::string("/nonexistent-dir/ttyUSB0"); });
    f.clickButton(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    EXPECT_EQ(f.messages, (std::vector<ShownMessage>{{"Port is busy", "Error", MessageIcon::Error}}));
    EXPECT_EQ(f.updateCaptionAtMessage[0], "Abort");  // still locked while the box is up
    expectIdle();
}

TEST_F(WindowSession, WrongReplyShowsTheErrorThenTheHint) {
    PhoneSimOptions o = fastPhone();
    o.replyFaults[SimStep::BlankCheck] = ReplyFault::Wrong;
    startPhone(o);
    f.clickButton(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }, 30s)) << f.text(IDC_STATUS);
    EXPECT_EQ(f.messages, (std::vector<ShownMessage>{{"Wrong responce", "Error", MessageIcon::Error},
                                                     {kHint, "Hint", MessageIcon::Error}}));
    EXPECT_EQ(f.updateCaptionAtMessage, (std::vector<std::string>{"Abort", "Abort"}));
    expectIdle();
    EXPECT_EQ(f.text(IDC_PHONE), " T1x detected");
}

TEST_F(WindowSession, FailedFinalCheckAsksForAnotherImage) {
    PhoneSimOptions o = fastPhone();
    o.replyFaults[SimStep::FinalCheck] = ReplyFault::Wrong;
    startPhone(o);
    f.clickButton(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }, 30s));
    ASSERT_EQ(f.messages.size(), 2u);
    EXPECT_EQ(f.statusAtMessage[0], "CRC checking ...") << (sim->waitForEnd(3s), sim->verdict().text());
    EXPECT_EQ(f.messages[0],
              (ShownMessage{"Wrong software version for this phone. \nTrying another flash image", "Error",
                            MessageIcon::Error}));
    EXPECT_EQ(f.messages[1].caption, "Hint");
    expectIdle();
}

TEST_F(WindowSession, AbortBeforeDetectionReturnsToIdleWithoutAHint) {
    PhoneSimOptions o = fastPhone();
    o.powerOnDelay = 60s;  // the phone never answers in this test
    startPhone(o);
    f.clickButton(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return f.text(IDC_STATUS) == "Power ON the phone ..."; }));
    f.clickButton(IDC_UPDATE);  // now labelled Abort
    EXPECT_TRUE(f.messages.empty());
    expectIdle();
    EXPECT_FALSE(f.window.session().state().clockRunning);
}

TEST_F(WindowSession, AbortAfterDetectionShowsTheBatteryHint) {
    PhoneSimOptions o = fastPhone();
    o.emulateLineRate = true;  // slow enough to catch the session mid-way
    startPhone(o);
    f.clickButton(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return f.text(IDC_PHONE) == " T1x detected"; }));
    f.clickButton(IDC_UPDATE);
    EXPECT_EQ(f.messages, (std::vector<ShownMessage>{{kHint, "Abort", MessageIcon::Error}}));
    expectIdle();
    EXPECT_FALSE(f.window.session().state().clockRunning);
    // Nothing the worker had queued changes the panel after the abort.
    QTest::qWait(100);
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(f.messages.size(), 1u);
}

TEST_F(WindowSession, ClosingTheWindowMidSessionEndsQuietlyAndReleasesThePort) {
    PhoneSimOptions o = fastPhone();
    o.emulateLineRate = true;
    startPhone(o);
    f.clickButton(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return f.text(IDC_PHONE) == " T1x detected"; }));
    EXPECT_TRUE(f.window.close());
    EXPECT_FALSE(f.window.isVisible());
    EXPECT_FALSE(f.window.session().running());
    EXPECT_FALSE(f.window.session().link().isOpen());
    QTest::qWait(100);
    EXPECT_TRUE(f.messages.empty());
}
