// Whole update sessions through the window against the simulated phone on a pseudo-terminal: the worker's
// panel calls travel through the real queued executor; boxes are recorded by the message-box seam.
#include <map>

#include "serial/activity_flags.h"
#include "tools/phone-sim/phone_sim.h"
#include "window_fixture.h"

namespace {

using namespace std::chrono_literals;

const std::string kHint = "You will have to remove the battery and put it back before restarting";

class WindowSession : public ::testing::Test {
  protected:
    void SetUp() override {
        f.load(dir.write("update.sbin", sample::image(30, "CXC132611 R1A")));
        ASSERT_TRUE(f.window.heldImage().image.has_value());
        f.window.session().link().setReadRule({5, 200});
    }
    void TearDown() override { f.window.session().shutdown(); }

    void startPhone(const std::function<void(PhoneSimOptions&)>& tune = {}) {
        PhoneSimOptions o;
        o.emulateLineRate = false;
        o.powerOnDelay = 20ms;
        o.powerOnInterval = 300ms;
        o.eraseTime = 800ms;  // wide of the 200 ms window even on a busy machine
        o.hangupGrace = 300ms;
        if (tune) tune(o);
        std::string error;
        ASSERT_TRUE(setExpectedImage(o, *f.window.heldImage().image, error)) << error;
        sim = std::make_unique<PhoneSim>(std::move(o));
        ASSERT_TRUE(sim->start(error)) << error;
        f.window.setPortResolver([path = sim->slavePath()](char) { return path; });
        f.click(IDC_UPDATE);
    }
    // Runs the event loop (and so the worker's queued panel calls) until `done`, noting the fields shown at
    // each status's first appearance; `onEachTurn` runs between turns.
    bool pumpUntil(const std::function<bool()>& done, const std::function<void()>& onEachTurn = {}) {
        for (const auto deadline = std::chrono::steady_clock::now() + 30s; !done(); QTest::qWait(2)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (!shown.count(f.text(IDC_STATUS)))
                shown[f.text(IDC_STATUS)] = f.text(IDC_PHONE) + "|" + f.text(IDC_IMEI) + "|" +
                                            f.text(IDC_LINKSTATE) + "|" + f.text(IDC_LOADER) + "|" +
                                            f.text(IDC_TIME);
            if (onEachTurn) onEachTurn();
        }
        return true;
    }
    bool ended() { return !f.window.session().running(); }
    std::string fieldsAt(const std::string& status) {
        return shown[status].substr(0, shown[status].rfind('|'));
    }
    void expectIdle() {
        EXPECT_EQ(f.text(IDC_UPDATE) + f.text(IDC_STATUS) + f.text(IDC_LINKSTATE) + f.text(IDC_LOADER) +
                      f.text(IDC_FRAMESSENT),
                  "UpdateReadyCLOSED");
        for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_UPDATE})
            EXPECT_TRUE(f.enabled(id)) << id;
        EXPECT_FALSE(f.window.session().link().isOpen());
        EXPECT_FALSE(f.window.session().state().clockRunning);
    }

    WindowFixture f;
    sample::TempDir dir;
    std::unique_ptr<PhoneSim> sim;
    std::map<std::string, std::string> shown;  // status -> "phone|imei|link|loader|time"
};

}  // namespace

TEST_F(WindowSession, WholeUpdateShowsEachStepAndEndsWithTheSuccessBox) {
    activityFlags.rxSeen = activityFlags.txSeen = false;
    startPhone();
    EXPECT_EQ(f.text(IDC_UPDATE), "Abort");  // locked at once, on this thread
    for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4}) EXPECT_FALSE(f.enabled(id)) << id;
    EXPECT_TRUE(f.panel().lightsTimerActive());  // Update woke the lights; the clock is ticked by hand
    bool receiveLit = false, sendLit = false;
    std::vector<std::string> times;
    ASSERT_TRUE(pumpUntil([&] { return !f.messages.empty(); },
                          [&] {
                              receiveLit |= f.panel().receiveLit();
                              sendLit |= f.panel().sendLit();
                              f.panel().clockTick();
                              if (!f.text(IDC_TIME).empty() &&
                                  (times.empty() || times.back() != f.text(IDC_TIME)))
                                  times.push_back(f.text(IDC_TIME));
                          }))
        << sim->verdict().text() << "; status " << f.text(IDC_STATUS);
    EXPECT_EQ(f.messages, std::vector<std::string>{"Success (none) Software updated completed"});
    EXPECT_EQ(f.atMessage[0], "Ready |  UPDATE | Update");  // the idle reset comes before the box
    ASSERT_TRUE(pumpUntil([&] { return ended(); }));
    EXPECT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(shown["Power ON the phone ..."], "||9600||");  // the clock blank until detection
    EXPECT_EQ(fieldsAt("Sending service application ..."), " T1x detected||115200|BOOT CXC132611");
    EXPECT_EQ(fieldsAt("Updating software ..."), " T1x detected| 490154-20-323751-8|115200|SAPP CXC1320633");
    ASSERT_GE(times.size(), 2u);
    EXPECT_EQ(times[0], "00:00");
    EXPECT_EQ(times[1], "00:01");
    EXPECT_TRUE(receiveLit && sendLit);
    EXPECT_TRUE(pumpUntil([&] { return !f.panel().lightsTimerActive(); }));  // dark between sessions
    EXPECT_FALSE(f.panel().receiveLit() || f.panel().sendLit());
    expectIdle();
    EXPECT_EQ(f.text(IDC_PHONE) + f.text(IDC_IMEI) + f.text(IDC_FRAMESTOTAL),
              " T1x detected 490154-20-323751-830");
    const std::string lastTime = f.text(IDC_TIME);
    f.panel().clockTick();
    EXPECT_EQ(f.text(IDC_TIME), lastTime);  // the clock stopped and its text stays
}

TEST_F(WindowSession, FailuresShowTheirBoxesWhileTheButtonStillReadsAbort) {
    f.window.setPortResolver([](char) { return std::string("/nonexistent-dir/ttyUSB0"); });
    f.click(IDC_UPDATE);
    ASSERT_TRUE(pumpUntil([&] { return ended(); }));
    EXPECT_EQ(f.messages, std::vector<std::string>{"Error (error) Port is busy"});  // no hint
    EXPECT_EQ(f.atMessage[0].substr(f.atMessage[0].rfind('|')), "| Abort");
    expectIdle();

    for (auto step : {SimStep::BlankCheck, SimStep::FinalCheck}) {
        f.messages.clear();
        f.atMessage.clear();
        startPhone([step](PhoneSimOptions& o) { o.replyFaults[step] = ReplyFault::Wrong; });
        ASSERT_TRUE(pumpUntil([&] { return ended(); })) << f.text(IDC_STATUS);
        const std::string error = step == SimStep::BlankCheck
                                      ? "Wrong responce"
                                      : "Wrong software version for this phone. \nTrying another flash image";
        EXPECT_EQ(f.messages, (std::vector<std::string>{"Error (error) " + error, "Hint (error) " + kHint}));
        EXPECT_EQ(f.atMessage[1], (step == SimStep::BlankCheck ? "Blank checking ..." : "CRC checking ...") +
                                      std::string(" |  UPDATE | Abort"));
        expectIdle();
    }
}

TEST_F(WindowSession, AbortShowsTheHintOnlyAfterDetectionAndClosingEndsQuietly) {
    startPhone([](PhoneSimOptions& o) { o.powerOnDelay = 60s; });
    ASSERT_TRUE(pumpUntil([&] { return f.text(IDC_STATUS) == "Power ON the phone ..."; }));
    f.click(IDC_UPDATE);  // now labelled Abort
    EXPECT_TRUE(f.messages.empty());
    expectIdle();

    const auto midWay = [&] { return shown.count("Sending boot appliation ...") > 0; };
    shown.clear();
    startPhone([](PhoneSimOptions& o) { o.emulateLineRate = true; });  // slow enough to catch mid-way
    ASSERT_TRUE(pumpUntil(midWay));
    f.click(IDC_UPDATE);
    EXPECT_EQ(f.messages, std::vector<std::string>{"Abort (error) " + kHint});
    expectIdle();
    QTest::qWait(100);  // nothing the worker had queued changes the panel after the abort
    EXPECT_EQ(f.text(IDC_STATUS), "Ready");
    EXPECT_EQ(f.messages.size(), 1u);

    shown.clear();
    startPhone([](PhoneSimOptions& o) { o.emulateLineRate = true; });
    ASSERT_TRUE(pumpUntil(midWay));
    EXPECT_TRUE(f.window.close());
    EXPECT_FALSE(f.window.isVisible());
    EXPECT_FALSE(f.window.session().running());
    EXPECT_FALSE(f.window.session().link().isOpen());
    QTest::qWait(100);
    EXPECT_EQ(f.messages.size(), 1u);  // closing shows no box
}
