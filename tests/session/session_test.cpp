// Update sessions through SessionControl against the simulated phone on a real line: success, each kind of
// failure and of Abort, and the races of an Abort. (The session fuzz target's seeds take every step.)
#include <fcntl.h>
#include <poll.h>

#include <future>

#include "session_fixture.h"

namespace session_test {
namespace {

TEST(SessionParts, FailureTexts) {
    const std::pair<int, const char*> messages[] = {
        {1, "Port is busy"},
        {2, "Wrong responce"},
        {3, "Wrong flash image size for detected phone"},
        {4, "Wrong software version for this phone. \nTrying another flash image"},
        {5,
         "Data transmit error encountered.\nCheck if the battery is full enough (at least 50% is "
         "recomended)\n or if the cable is properly connected"},
        {0, "Unknown error"},
        {6, "Unknown error"}};
    for (const auto& [code, text] : messages) EXPECT_STREQ(failureMessage(code), text) << code;
}

using Session = SessionFixture;

TEST_F(Session, T1xAtTheLineRateShowsEachStepAndThePhoneGetsEveryByte) {
    auto options = phoneOptions();
    options.emulateLineRate = true;  // 960 B/s before the speed change, 11,520 B/s after
    startPhone(options);
    makeControl({50, 200});  // a reply may follow a long upload still draining from the line
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(panel.calls(), successTranscript(image.frameCount, " 490154-20-323751-8"));
    EXPECT_EQ(flags(), "00000");
}

struct FailCase {
    SimStep step;        // the phone's reply to it is wrong
    const char* status;  // shown while the step failed
    int code = kWrongResponse;
};

class SessionFailure : public SessionFixture, public ::testing::WithParamInterface<FailCase> {};

TEST_P(SessionFailure, EndsWithItsMessagesAndTheHint) {
    const FailCase c = GetParam();
    auto options = phoneOptions();
    options.replyFaults[c.step] = ReplyFault::Wrong;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), c.code) << diagnosis();
    // The error box, the hint box, the idle reset, and nothing more on the line.
    const std::string error = std::string("message Error (error) ") + failureMessage(c.code);
    EXPECT_EQ(lastStatusBefore(indexOf(error)), c.status);
    EXPECT_EQ(linesFrom(indexOf(error)), (Lines{error, "message Hint (error) " + kHint} + idleLines()));
    EXPECT_EQ(flags(), "00010");
    expectLineQuiet();
}

INSTANTIATE_TEST_SUITE_P(Steps, SessionFailure,
                         ::testing::Values(FailCase{SimStep::LoadRequest, "Entering boot mode ..."},
                                           FailCase{SimStep::Frames, "Updating software ..."},
                                           FailCase{SimStep::FinalCheck, "CRC checking ...", kWrongSoftware}),
                         [](const auto& info) { return testName(info.param.step); });

TEST_F(SessionFailure, APortHeldElsewhereIsCode1WithoutHintAndArmsNoLaterAbort) {
    auto silent = phoneOptions();
    silent.powerOnDelay = std::chrono::hours(1);
    startPhone(silent);
    makeControl();
    abort();  // without a session: nothing happens
    EXPECT_TRUE(panel.calls().empty());
    EXPECT_EQ(control->waitForEnd(), kNoSession);
    auto other = std::make_unique<SerialLink>();
    other->setPortResolver([path = sim->slavePath()](char) { return path; });
    ASSERT_TRUE(other->open('1', kSlowSpeed));
    EXPECT_EQ(runToEnd(), kPortBusy);
    EXPECT_EQ(control->link().lastOpenError(), OpenError::Busy);
    EXPECT_EQ(panel.calls(), startLines() +
                                 split("field 1058 ''|field 1002 ''|field 1008 ''|selectedPortDigit|"
                                       "message Error (error) Port is busy") +
                                 idleLines());
    other.reset();
    const std::size_t before = panel.size();
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2s, before));
    EXPECT_EQ(flags(), "10001");
    abortAndCheck(false);
}

// Abort while a write waits for room on the line, and while the hint's box is up. (The fuzz target's seeds
// abort at every wait; the power-on wait and the race tests abort on a real line.)
using SessionAbort = SessionFixture;

TEST_F(SessionAbort, AWriteStalledOnAFullLineDoesNotHoldTheAbort) {
    image = withFrames(4000, 258);  // about 1 MB: far more than the line's buffers hold
    auto options = phoneOptions(PhoneKind::A1018s);
    options.stallAfterFrames = 20;  // then the phone stops reading
    startPhone(options);
    makeControl({100, 200});
    start();
    ASSERT_TRUE(panel.waitFor("field 1007 '20'", 10s)) << diagnosis();
    for (std::size_t size = 0; size != panel.size(); std::this_thread::sleep_for(200ms)) size = panel.size();
    abortAndCheck(true);
}

// The master side of a pseudo-terminal, played by the test: what the updater wrote, and replies sent at the
// very moment chosen.
struct FarEnd {
    FarEnd() { EXPECT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0); }
    ~FarEnd() { ::close(master); }
    void send(const std::string& bytes) const { (void)!::write(master, bytes.data(), bytes.size()); }
    std::string drain(std::chrono::milliseconds quiet) const {  // until nothing came for `quiet`
        std::string out;
        char c = 0;
        for (pollfd in{master, POLLIN, 0};
             ::poll(&in, 1, int(quiet.count())) > 0 && ::read(master, &c, 1) == 1;)
            out += c;
        return out;
    }
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
};

struct RaceCase {
    const char* name;
    const char* holdAfter;  // posted calls: the panel's thread takes none after this line ("": direct calls)
    bool detect;            // the phone announces itself first
    const char* answer;     // sent in the stall
};

class AbortRace : public SessionFixture, public ::testing::WithParamInterface<RaceCase> {};

TEST_P(AbortRace, NothingReachesTheLineAndNoPortOpensOnceAborted) {
    const RaceCase c = GetParam();
    FarEnd phone;
    std::vector<std::function<void()>> held;  // posted calls the panel's thread has not got to
    std::atomic<bool> holding{false};
    const UiExecutor executor = [&](std::function<void()> call) {
        if (!holding && panel.calls().back() != c.holdAfter) return call();
        held.push_back(std::move(call));
        holding = true;
    };
    // The aborting side stalls right after it has woken the worker. Meanwhile it plays the phone: it may
    // answer the read the worker waits in, then listens to the line.
    std::string heardInTheStall;
    struct EndFirst {  // the control, with its hook, goes before what the hook uses
        std::unique_ptr<SessionControl>& control;
        ~EndFirst() { control.reset(); }
    } endFirst{control};
    control = std::make_unique<SessionControl>(panel, *c.holdAfter ? executor : UiExecutor{}, [&] {
        phone.send(c.answer);
        heardInTheStall = phone.drain(300ms);
    });
    std::atomic<int> opens{0};
    control->link().setPortResolver([&](char) {
        ++opens;
        return std::string(::ptsname(phone.master));
    });
    start();
    if (c.detect) {
        ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 5s));
        phone.send("T");
    }
    if (*c.holdAfter) {
        for (int i = 0; i < 500 && !holding; ++i) std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(holding);
    } else {
        ASSERT_TRUE(panel.waitFor("status Entering boot mode ...", 5s));
        ASSERT_EQ(phone.drain(300ms), "0B");
    }
    const int opensBefore = opens;
    control->abortSession();
    EXPECT_EQ(control->waitForEnd(), kSessionAborted);
    EXPECT_EQ(heardInTheStall + phone.drain(200ms), "");
    EXPECT_EQ(opens, opensBefore) << "a port was opened after the abort";
    const std::size_t shown = panel.size();
    for (const auto& call : held) call();  // the panel's thread gets to them at last: they do nothing
    EXPECT_EQ(panel.size(), shown);
}

// The battery hint's box runs an event loop of its own: a window closed from inside it reaches shutdown(),
// which must not wait for the abort that shows the box.
TEST_F(SessionAbort, ACloseFromInsideTheHintsBoxDoesNotWaitForTheAbort) {
    struct BoxPanel : RecordingPanel {
        void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
            RecordingPanel::showMessage(text, caption, icon);
            if (inBox) inBox();
        }
        std::function<void()> inBox;
    } box;
    FarEnd phone;
    SessionControl boxed(box);
    boxed.link().setPortResolver([&](char) { return std::string(::ptsname(phone.master)); });
    boxed.startSession(image);
    ASSERT_TRUE(box.waitFor("status Power ON the phone ...", 5s));
    phone.send("T");
    ASSERT_TRUE(box.waitFor("status Entering boot mode ...", 5s));
    ASSERT_EQ(phone.drain(300ms), "0B");
    std::future<void> closing;
    box.inBox = [&] {
        closing = std::async(std::launch::async, [&] { boxed.shutdown(); });
        EXPECT_EQ(closing.wait_for(2s), std::future_status::ready) << "the close waited for the box";
    };
    boxed.abortSession();
    closing.wait();
    EXPECT_EQ(boxed.waitForEnd(), kSessionAborted);
    EXPECT_EQ(box.calls().back(), "message Abort (error) " + kHint);  // the closed window was left alone
    EXPECT_EQ(phone.drain(200ms), "");
}

INSTANTIATE_TEST_SUITE_P(DirectAndPosted, AbortRace,
                         ::testing::Values(RaceCase{"PostedPortChoice", "field 1008 ''", false, ""},
                                           RaceCase{"PostedStatus", "field 1058 ' T1x detected'", true, ""},
                                           RaceCase{"AwaitedReply", "", true, "R"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace session_test
