// Abort at every step: the worker stops at once, nothing more reaches the line or the panel, the port is
// closed, and the battery hint follows only when a phone was detected in this session.
#include "session_fixture.h"

namespace session_test {
namespace {

const std::string kAbortHint = std::string("message Abort (error) ") + kHintLine;
// Long enough that a read which was not woken by the abort would show: 100 windows are 20 s.
constexpr ReadRule kPatientRead{100, 200};
// Far above the 50 ms target (measured by the benchmark); only catches an abort that waits for the line.
constexpr auto kPromptly = 2000ms;

class SessionAbort : public SessionFixture {
  protected:
    // Aborts once the session is quiet at its current step, then checks the whole ending.
    void abortAndCheck(bool detected) {
        std::this_thread::sleep_for(150ms);  // let the last command drain into the phone
        const std::size_t received = sim->bytesReceived();
        const std::size_t before = panel.size();
        EXPECT_LT(abort(), kPromptly);
        EXPECT_EQ(control->waitForEnd(), kSessionAborted);
        Lines expected;
        if (detected) expected.push_back(kAbortHint);
        append(expected, idleLines());
        EXPECT_EQ(linesFrom(before), expected);
        EXPECT_FALSE(control->link().isOpen());
        EXPECT_FALSE(control->link().interrupted());  // ready for the next session
        EXPECT_FALSE(control->state().clockRunning);
        EXPECT_FALSE(control->state().sessionRunning);
        EXPECT_FALSE(control->running());
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(sim->bytesReceived(), received) << "bytes reached the phone after the abort";
        EXPECT_EQ(panel.size(), before + expected.size()) << "the aborted session reached the panel";
    }
};

TEST_F(SessionAbort, DuringThePowerOnWaitShowsNoHint) {
    auto options = phoneOptions(PhoneKind::T1x);
    options.powerOnDelay = std::chrono::hours(1);
    startPhone(options);
    makeControl(false, kPatientRead);
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2000));
    abortAndCheck(false);
    EXPECT_EQ(sim->bytesReceived(), 0u);
}

struct AbortCase {
    SimStep step;        // the phone stays silent after this step's input
    const char* status;  // shown while the updater waits
    bool executor;
};

class SessionAbortAtStep : public SessionAbort, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(SessionAbortAtStep, StopsAtOnceWithTheHint) {
    const AbortCase c = GetParam();
    auto options = phoneOptions(PhoneKind::A1018s);
    options.replyFaults[c.step] = ReplyFault::Missing;
    startPhone(options);
    makeControl(c.executor, kPatientRead);
    start();
    ASSERT_TRUE(panel.waitFor(std::string("status ") + c.status, 10000));
    ASSERT_TRUE(sim->waitForStep(c.step, 10s));
    abortAndCheck(true);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWait, SessionAbortAtStep,
    ::testing::Values(AbortCase{SimStep::LoadRequest, "Entering boot mode ...", false},
                      AbortCase{SimStep::SecondZeroBlock, "Waiting for handshake ...", false},
                      AbortCase{SimStep::BootApplication, "Sending boot appliation ...", false},
                      AbortCase{SimStep::WakeUp, "Changing baud rate ...", false},
                      AbortCase{SimStep::ServiceApplication, "Sending service application ...", false},
                      AbortCase{SimStep::ServiceStart, "Sending service application ...", true},
                      AbortCase{SimStep::Imei, "Reading IMEI ...", false},
                      AbortCase{SimStep::EraseDone, "Erasing flash ...", true},
                      AbortCase{SimStep::BlankCheck, "Blank checking ...", false},
                      AbortCase{SimStep::StreamStart, "Updating software ...", false},
                      AbortCase{SimStep::Frames, "Updating software ...", true},
                      AbortCase{SimStep::Format, "Formating EEPROM ...", false},
                      AbortCase{SimStep::FinalCheck, "CRC checking ...", true}),
    [](const auto& info) {
        std::string name =
            std::string(stepName(info.param.step)) + (info.param.executor ? "_posted" : "_direct");
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

class SessionAbortStalled : public SessionAbort, public ::testing::WithParamInterface<bool> {};

TEST_P(SessionAbortStalled, AWriteStalledOnADeadLineDoesNotHoldTheAbort) {
    image = test_image::withFrames(4000, 258);  // about 1 MB: far more than the line's buffers hold
    auto options = phoneOptions(PhoneKind::T1x);
    options.stallAfterFrames = 20;  // then the phone stops reading
    startPhone(options);
    makeControl(GetParam(), kPatientRead);
    start();
    ASSERT_TRUE(panel.waitFor("field 1007 '20'", 10000));
    // Wait until the worker is stuck: the frame counter stops moving.
    std::size_t size = 0;
    do {
        size = panel.size();
        std::this_thread::sleep_for(200ms);
    } while (panel.size() != size);
    abortAndCheck(true);
}

INSTANTIATE_TEST_SUITE_P(DirectAndPosted, SessionAbortStalled, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "posted" : "direct"; });

TEST_F(SessionAbort, InTheMiddleOfTheFrameStreamNoFurtherFrameIsWritten) {
    image = test_image::withFrames(20000, 258);  // about 5 MB: the stream is still running when aborted
    startPhone(phoneOptions(PhoneKind::T1x));
    makeControl(false, kPatientRead);
    start();
    ASSERT_TRUE(panel.waitFor("field 1007 '100'", 10000));
    EXPECT_LT(abort(), kPromptly);
    EXPECT_EQ(control->waitForEnd(), kSessionAborted);
    // On a pseudo-terminal what was written before the abort may still drain; after that the line stays
    // silent, far short of the whole image, and what arrived is an exact prefix of the session.
    std::size_t received = 0;
    do {
        received = sim->bytesReceived();
        std::this_thread::sleep_for(300ms);
    } while (sim->bytesReceived() != received);
    EXPECT_LT(received, image.size / 2);
    EXPECT_NE(sim->verdict().outcome, SimOutcome::Mismatch) << sim->verdict().text();
    const Lines tail = linesFrom(indexOf(kAbortHint));
    Lines expected{kAbortHint};
    append(expected, idleLines());
    EXPECT_EQ(tail, expected);
}

TEST_F(SessionAbort, AbortWithoutASessionDoesNothing) {
    makeControl();
    abort();
    EXPECT_TRUE(panel.calls().empty());
    EXPECT_EQ(control->waitForEnd(), kNoSession);
}

}  // namespace
}  // namespace session_test
