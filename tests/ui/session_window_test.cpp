// Whole update sessions through the window against the simulated phone on a pseudo-terminal: the worker's
// panel calls travel through the real queued executor; boxes are recorded by the message-box seam.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>

#include "serial/activity_flags.h"
#include "tests/session/session_fixture.h"
#include "window_fixture.h"

namespace {

using namespace std::chrono_literals;

using session_test::kHint;

class WindowSession : public ::testing::Test {
  protected:
    void SetUp() override {
        f.load(dir.write("update.sbin", sample::image(30, "CXC132611 R1A")));
        f.window.session().link().setReadRule({16, 200});  // 3.2 s: outlasts the 2 s erase
    }
    void TearDown() override { f.window.session().shutdown(); }
    // Starts a phone (fast unless `tune` says otherwise) and presses Update.
    void update(const std::function<void(PhoneSimOptions&)>& tune = {}) {
        PhoneSimOptions o = session_test::phoneOptions();
        if (tune) tune(o);
        std::string error;
        ASSERT_TRUE(setExpectedImage(o, *f.window.heldImage().image, error)) << error;
        sim = std::make_unique<PhoneSim>(std::move(o));
        ASSERT_TRUE(sim->start(error)) << error;
        f.window.setPortResolver([path = sim->slavePath()](char) { return path; });
        shown.clear();
        f.click(IDC_UPDATE);
    }
    // Runs the event loop (and so the worker's queued panel calls) until `done`, noting the fields shown at
    // each status's first appearance; `onEachTurn` runs between turns.
    bool pumpUntil(
        const std::function<bool()>& done, const std::function<void()>& onEachTurn = [] {}) {
        for (const auto deadline = std::chrono::steady_clock::now() + 30s; !done();
             QTest::qWait(2), onEachTurn()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            shown.emplace(f.text(IDC_STATUS), f.text(IDC_PHONE) + "|" + f.text(IDC_IMEI) + "|" +
                                                  f.text(IDC_LINKSTATE) + "|" + f.text(IDC_LOADER) + "|" +
                                                  f.text(IDC_TIME));
        }
        return true;
    }
    void expectIdle() {
        EXPECT_EQ(f.text(IDC_UPDATE) + f.text(IDC_STATUS) + f.text(IDC_LINKSTATE) + f.text(IDC_LOADER) +
                      f.text(IDC_FRAMESSENT),
                  "UpdateReadyCLOSED");
        for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_UPDATE})
            EXPECT_TRUE(f.enabled(id)) << id;
        EXPECT_FALSE(f.window.session().link().isOpen() || f.window.session().state().clockRunning);
    }

    WindowFixture f;
    sample::TempDir dir;
    std::unique_ptr<PhoneSim> sim;
    std::map<std::string, std::string> shown;  // status -> "phone|imei|link|loader|time" when it first showed
};

}  // namespace

TEST_F(WindowSession, WholeUpdateShowsEachStepAndEndsWithTheSuccessBox) {
    f.window.session().link().activity().rxSeen = f.window.session().link().activity().txSeen = false;
    update();
    EXPECT_EQ(f.text(IDC_UPDATE), "Abort");  // locked at once, on this thread
    for (int id : {IDC_LOADSW, IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4}) EXPECT_FALSE(f.enabled(id)) << id;
    EXPECT_TRUE(f.panel().lightsTimerActive());  // Update woke the lights; the clock is ticked by hand
    bool receiveLit = false, sendLit = false;
    std::string times;  // each new text of the clock, ticked by hand between turns
    ASSERT_TRUE(pumpUntil([&] { return !f.messages.empty(); },
                          [&] {
                              receiveLit |= f.panel().receiveLit();
                              sendLit |= f.panel().sendLit();
                              f.panel().clockTick();
                              if (times.find(f.text(IDC_TIME)) == std::string::npos)
                                  times += f.text(IDC_TIME) + " ";
                          }))
        << sim->verdict().text() << "; status " << f.text(IDC_STATUS);
    EXPECT_EQ(f.messages, std::vector<std::string>{"Success (none) Software updated completed"});
    EXPECT_EQ(f.atMessage[0], "Ready |  UPDATE | Update");  // the idle reset comes before the box
    ASSERT_TRUE(pumpUntil([&] { return !f.window.session().running(); }));
    EXPECT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(shown["Power ON the phone ..."], "||9600||");  // the clock blank until detection
    EXPECT_EQ(shown["Sending service application ..."].rfind(" T1x detected||115200|BOOT CXC132611|", 0), 0u);
    EXPECT_EQ(
        shown["Updating software ..."].rfind(" T1x detected| 490154-20-323751-8|115200|SAPP CXC1320633|", 0),
        0u);
    EXPECT_EQ(times.substr(0, 12), "00:00 00:01 ");
    EXPECT_TRUE(receiveLit && sendLit);
    EXPECT_TRUE(pumpUntil([&] { return !f.panel().lightsTimerActive(); }));  // dark between sessions
    EXPECT_FALSE(f.panel().receiveLit() || f.panel().sendLit());
    expectIdle();
    EXPECT_EQ(f.text(IDC_PHONE) + f.text(IDC_IMEI) + f.text(IDC_FRAMESTOTAL),
              " T1x detected 490154-20-323751-830");
}

TEST_F(WindowSession, OnceIdleAgainUpdateStartsAndLoadSwLoadsThoughTheLastWorkerIsStillEnding) {
    const std::string second = dir.write("second.sbin", sample::image(5, "CXC132612 R1B"));
    std::vector<std::string> captions;
    f.panel().setMessageBoxFunction([&](QMessageBox& box) {
        captions.push_back(box.windowTitle().toStdString());
        if (captions.size() > 1) return;
        f.load(second);  // the worker waits for this box: past its idle reset, its end not yet reported
        f.click(IDC_UPDATE);
    });
    update();
    ASSERT_TRUE(pumpUntil([&] { return !captions.empty(); })) << sim->verdict().text();
    EXPECT_EQ(f.text(IDC_FRAMESTOTAL), "5");
    f.click(IDC_UPDATE);
    EXPECT_EQ(captions, std::vector<std::string>{"Success"});
    expectIdle();
}

TEST_F(WindowSession, AbortShowsTheHintAndClosingEndsQuietly) {
    for (bool close : {false, true}) {
        update([](PhoneSimOptions& o) { o.emulateLineRate = true; });  // slow enough to catch mid-way
        ASSERT_TRUE(pumpUntil([&] { return shown.count("Sending boot appliation ..."); }));
        if (close) {
            EXPECT_TRUE(f.window.close());
            EXPECT_FALSE(f.window.isVisible() || f.window.session().running() ||
                         f.window.session().link().isOpen());
        } else {
            f.click(IDC_UPDATE);
            expectIdle();
        }
        QTest::qWait(
            100);  // nothing the worker had queued changes the panel afterwards; closing shows no box
        EXPECT_EQ(f.text(IDC_STATUS), close ? "Sending boot appliation ..." : "Ready");
        EXPECT_EQ(f.messages, std::vector<std::string>{"Abort (error) " + kHint});
    }
}

TEST_F(WindowSession, APortThatWillNotOpenSaysWhyUnderPortIsBusy) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string held = ::ptsname(master), missing = (dir.path() / "ttyUSB9").string();
    SerialLink holder;  // this test's own program has it open and locked
    holder.setPortResolver([&](char) { return held; });
    ASSERT_TRUE(holder.open('1', kSlowSpeed));
    const std::pair<std::string, std::string> rows[] = {
        {missing, missing + ": no such device"},
        {held, held + ": the port is held by ui_session_tests (pid " + std::to_string(::getpid()) + ")"},
    };
    for (const auto& [port, why] : rows) {
        f.messages.clear();
        f.window.setPortResolver([port](char) { return port; });
        f.click(IDC_UPDATE);
        ASSERT_TRUE(pumpUntil([&] { return !f.messages.empty(); }));
        EXPECT_EQ(f.messages, std::vector<std::string>{"Error (error) Port is busy\n" + why});
        ASSERT_TRUE(pumpUntil([&] { return !f.window.session().running(); }));
        expectIdle();
    }
    ::close(master);
}
