// Sessions that fail: every failure code, its messages, the hint rule, and silence on the line afterwards.
#include <fcntl.h>
#include <unistd.h>

#include "session_fixture.h"

namespace session_test {
namespace {

const std::string kWrongLine = "message Error (error) Wrong responce";
const std::string kHint = std::string("message Hint (error) ") + kHintLine;

class SessionFailure : public SessionFixture {
  protected:
    // After the failure: the error box, the hint box when wanted, then the idle reset, and nothing else.
    void expectEnding(const std::string& errorLine, bool hint) {
        Lines expected{errorLine};
        if (hint) expected.push_back(kHint);
        append(expected, idleLines());
        const std::size_t at = indexOf(errorLine);
        EXPECT_EQ(linesFrom(at), expected);
        EXPECT_FALSE(control->link().isOpen());
        EXPECT_FALSE(control->state().sessionRunning);
        EXPECT_FALSE(control->state().clockRunning);
        EXPECT_FALSE(control->state().abortHintArmed);
        EXPECT_EQ(control->state().failureHintWanted, hint);
    }
    // Nothing reaches the phone once the session has failed.
    void expectLineQuiet() {
        const std::size_t received = sim->bytesReceived();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(sim->bytesReceived(), received);
    }
};

TEST_F(SessionFailure, MissingPortIsCode1WithoutHint) {
    makeControl();
    EXPECT_EQ(runToEnd(), kPortBusy) << diagnosis();
    Lines expected = startLines();
    append(expected, {"field 1058 ''", "field 1002 ''", "field 1008 ''", "selectedPortDigit",
                      "message Error (error) Port is busy"});
    append(expected, idleLines());
    EXPECT_EQ(panel.calls(), expected);
    EXPECT_FALSE(control->state().failureHintWanted);
    EXPECT_EQ(control->link().lastOpenError(), OpenError::Missing);
}

TEST_F(SessionFailure, PortHeldByAnotherProgramIsCode1) {
    startPhone(phoneOptions(PhoneKind::T1x));
    SerialLink other;
    other.setPortResolver([path = sim->slavePath()](char) { return path; });
    ASSERT_TRUE(other.open('1', kSlowSpeed));
    makeControl();
    EXPECT_EQ(runToEnd(), kPortBusy) << diagnosis();
    expectEnding("message Error (error) Port is busy", false);
    EXPECT_EQ(control->link().lastOpenError(), OpenError::Busy);
}

struct StepCase {
    SimStep step;
    ReplyFault fault;
    const char* status;  // the status line shown while the step failed
};

class SessionWrongReply : public SessionFailure, public ::testing::WithParamInterface<StepCase> {};

TEST_P(SessionWrongReply, FailsWithCode2AndTheHintAndSendsNothingMore) {
    const StepCase c = GetParam();
    auto options = phoneOptions(PhoneKind::T1x);
    options.replyFaults[c.step] = c.fault;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kWrongResponse) << diagnosis();
    EXPECT_EQ(lastStatusBefore(indexOf(kWrongLine)), c.status);
    expectEnding(kWrongLine, true);
    expectLineQuiet();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SessionWrongReply,
    ::testing::Values(
        StepCase{SimStep::LoadRequest, ReplyFault::Wrong, "Entering boot mode ..."},
        StepCase{SimStep::BootParameters, ReplyFault::Wrong, "Entering boot mode ..."},
        StepCase{SimStep::ZeroBlock, ReplyFault::Wrong, "Entering boot mode ..."},
        StepCase{SimStep::ZeroBlock, ReplyFault::Missing, "Entering boot mode ..."},
        StepCase{SimStep::SecondZeroBlock, ReplyFault::Wrong, "Waiting for handshake ..."},
        StepCase{SimStep::BootApplication, ReplyFault::Wrong, "Sending boot appliation ..."},
        StepCase{SimStep::WakeUp, ReplyFault::Missing, "Changing baud rate ..."},
        StepCase{SimStep::ServiceLoadRequest, ReplyFault::Wrong, "Sending service application ..."},
        StepCase{SimStep::ServiceApplication, ReplyFault::Wrong, "Sending service application ..."},
        StepCase{SimStep::ServiceStart, ReplyFault::Missing, "Sending service application ..."},
        StepCase{SimStep::Imei, ReplyFault::Wrong, "Reading IMEI ..."},
        StepCase{SimStep::Erase, ReplyFault::Wrong, "Erasing flash ..."},
        StepCase{SimStep::EraseDone, ReplyFault::Missing, "Erasing flash ..."},
        StepCase{SimStep::BlankCheck, ReplyFault::Wrong, "Blank checking ..."},
        StepCase{SimStep::StreamStart, ReplyFault::Wrong, "Updating software ..."},
        StepCase{SimStep::Frames, ReplyFault::Wrong, "Updating software ..."},
        StepCase{SimStep::Format, ReplyFault::Missing, "Formating EEPROM ..."}),
    [](const auto& info) {
        std::string name = std::string(stepName(info.param.step)) +
                           (info.param.fault == ReplyFault::Wrong ? "_wrong" : "_missing");
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

TEST_F(SessionFailure, EraseRepliesInOneReadWindowAreOneWrongReply) {
    auto options = phoneOptions(PhoneKind::A1018s);
    options.eraseRepliesClose = true;  // "\r\n!" and "\r\n>" 50 ms apart merge into one 6-byte reply
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kWrongResponse) << diagnosis();
    EXPECT_EQ(lastStatusBefore(indexOf(kWrongLine)), "Erasing flash ...");
    expectEnding(kWrongLine, true);
}

TEST_F(SessionFailure, FinalCheckFailureIsCode4) {
    for (ReplyFault fault : {ReplyFault::Wrong, ReplyFault::Missing}) {
        SCOPED_TRACE(fault == ReplyFault::Wrong ? "wrong" : "missing");
        auto options = phoneOptions(PhoneKind::T1x);
        options.replyFaults[SimStep::FinalCheck] = fault;
        startPhone(options);
        makeControl();
        panel.clear();
        EXPECT_EQ(runToEnd(), kWrongSoftware) << diagnosis();
        const std::string error =
            "message Error (error) Wrong software version for this phone. \nTrying another flash image";
        EXPECT_EQ(lastStatusBefore(indexOf(error)), "CRC checking ...");
        expectEnding(error, true);
        control.reset();
        sim.reset();
    }
}

TEST_F(SessionFailure, A1018sWithAnImageOneByteOverTheLimitIsCode3AndNothingIsSent) {
    image = test_image::ofSize(2'000'001);
    startPhone(phoneOptions(PhoneKind::A1018s));
    makeControl();
    EXPECT_EQ(runToEnd(), kWrongImageSize) << diagnosis();
    const std::string error = "message Error (error) Wrong flash image size for detected phone";
    const std::size_t at = indexOf(error);
    ASSERT_GE(at, 1u);
    EXPECT_EQ(panel.calls()[at - 1], "field 1058 ' A1018s detected'");
    expectEnding(error, true);
    EXPECT_EQ(sim->bytesReceived(), 0u);
    expectLineQuiet();
}

TEST_F(SessionFailure, ALineThatVanishesMidStreamIsCode5) {
    // About 1 MB: far more than the line's buffers take, so the updater is still writing when the line goes.
    image = test_image::withFrames(4000, 258);
    auto options = phoneOptions(PhoneKind::T1x);
    options.vanishAfterFrames = 100;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kTransmitError) << diagnosis();
    const std::string error = std::string("message Error (error) ") + failureMessage(kTransmitError);
    EXPECT_EQ(lastStatusBefore(indexOf(error)), "Updating software ...");
    expectEnding(error, true);
}

TEST_F(SessionFailure, HintAfterAFailureDoesNotArmTheNextSessionsAbort) {
    auto options = phoneOptions(PhoneKind::T1x);
    options.replyFaults[SimStep::Imei] = ReplyFault::Wrong;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kWrongResponse) << diagnosis();

    auto silent = phoneOptions(PhoneKind::T1x);
    silent.powerOnDelay = std::chrono::hours(1);
    startPhone(silent);
    control->link().setPortResolver([path = sim->slavePath()](char) { return path; });
    const std::size_t before = panel.size();
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2000, before));
    EXPECT_FALSE(control->state().abortHintArmed);
    abort();
    EXPECT_EQ(control->waitForEnd(), kSessionAborted);
    for (const auto& line : linesFrom(before)) EXPECT_EQ(line.rfind("message", 0), std::string::npos) << line;
}

}  // namespace
}  // namespace session_test
