// Update sessions: the parts that need no phone, then whole sessions against the simulated phone that end in
// success, in each failure, and in an Abort at every wait.
#include <gtest/gtest.h>

#include "session/payloads.h"
#include "session/phone_model.h"
#include "session/update_session.h"
#include "session/worker_panel.h"
#include "session_fixture.h"

namespace session_test {
namespace {

TEST(SessionParts, TextsPayloadsModelsAndTheImageWalk) {
    const std::pair<int, const char*> messages[] = {
        {1, "Port is busy"},
        {2, "Wrong responce"},
        {3, "Wrong flash image size for detected phone"},
        {4, "Wrong software version for this phone. \nTrying another flash image"},
        {5,
         "Data transmit error encountered.\nCheck if the battery is full enough (at least 50% is "
         "recomended)\n or if the cable is properly connected"},
        {0, "Unknown error"},
        {6, "Unknown error"},
        {-1, "Unknown error"}};
    for (const auto& [code, text] : messages) EXPECT_STREQ(failureMessage(code), text) << code;

    const Payloads payloads = loadPayloads();
    ASSERT_EQ(payloads.boot.size, 926u);
    ASSERT_EQ(payloads.service.size, 17324u);
    const std::string boot(payloads.boot.data, payloads.boot.data + 926),
        service(payloads.service.data, payloads.service.data + 17324);
    EXPECT_EQ(boot.substr(926 - 24), "980520 0842 PRGCXC132611");
    EXPECT_NE(service.find("990802 0849 PRGCXC1320633"), std::string::npos);
    EXPECT_EQ(loadPayloads().boot.data, payloads.boot.data);  // located once, never copied

    const std::uint8_t replies[] = {'T', 'U', 'X'};
    EXPECT_EQ(modelFromPowerOn(replies, 1), PhoneModel::T1x);
    EXPECT_EQ(modelFromPowerOn(replies + 1, 1), PhoneModel::A1018s);
    EXPECT_FALSE(modelFromPowerOn(replies, 2));  // only a lone byte announces a phone
    EXPECT_FALSE(modelFromPowerOn(replies + 2, 1));
    EXPECT_FALSE(modelFromPowerOn(replies, 0));

    // Header (count 3), one data frame (count 4), termination (count 3).
    const Bytes run = {'S', '0', 3, 0, 0, 0xFC, 'S', '1', 4, 0, 0, 0xAA, 0x51, 'S', '9', 3, 0, 0, 0xFC};
    const auto walk = [](Bytes bytes, std::int32_t frames) {
        FlashImage image{bytes, static_cast<std::uint32_t>(bytes.size()), frames};
        return imageStreamable(image);
    };
    EXPECT_TRUE(walk(run, 1));
    EXPECT_TRUE(walk(run, 0));  // the data frame's first 2 bytes then end the stream
    EXPECT_FALSE(walk(run, 2));
    EXPECT_FALSE(walk(run, -1));
    EXPECT_FALSE(walk(Bytes(run.begin(), run.begin() + 14), 1));  // the termination has one byte only
    Bytes overlong = run;
    overlong[8] = 200;
    EXPECT_FALSE(walk(overlong, 1));
    EXPECT_FALSE(walk({}, 0));
}

TEST(SessionParts, WorkerPanelRelaysOnThePanelThreadUntilTheAbort) {
    RecordingPanel target;
    TestExecutor ui;
    auto sync = std::make_shared<SessionSync>();
    WorkerPanel posted(target, ui.executor(), sync);
    posted.setStatus("one");
    EXPECT_EQ(posted.selectedPortDigit(), '1');
    posted.progressStart(70000);  // the whole count, not its low 16 bits
    EXPECT_EQ(target.calls(), (Lines{"status one", "selectedPortDigit", "progressStart 70000"}));
    for (auto id : target.threads()) EXPECT_EQ(id, ui.id());

    ui.pause(true);  // the panel thread is busy: the worker's call waits in the queue
    std::atomic<bool> returned{false};
    std::thread worker([&] { posted.setStatus("late"), returned = true; });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned);
    EXPECT_TRUE(sync->markAborted());
    worker.join();  // woken by the abort, not by the panel thread
    ui.pause(false);
    ui.run([] {});  // the queued call has run by now, and must have done nothing
    posted.setStatus("after");
    WorkerPanel direct(target, {}, sync);
    direct.setFieldText(IDC_IMEI, "x");
    EXPECT_EQ(direct.selectedPortDigit(), '1');  // the fallback, not a panel call
    EXPECT_EQ(target.size(), 3u) << "an aborted session reached the panel";

    SessionSync ended;
    ended.ended = true;
    EXPECT_FALSE(ended.markAborted());
    EXPECT_FALSE(ended.abortedFlag);
}

using Session = SessionFixture;

TEST_F(Session, T1xAtTheLineRateGivesTheWholeTranscript) {
    auto options = phoneOptions();
    options.emulateLineRate = true;  // 960 B/s before the speed change, 11,520 B/s after
    startPhone(options);
    makeControl(false, {50, 200});  // a reply may follow a long upload still draining from the line
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(panel.calls(), successTranscript(false, image.frameCount, " 490154-20-323751-8"));
    for (const auto* flag :
         {&control->state().sessionRunning, &control->state().clockRunning, &control->state().abortHintArmed})
        EXPECT_FALSE(*flag);
    EXPECT_FALSE(control->link().isOpen());
    EXPECT_FALSE(control->running());
}

TEST_F(Session, A1018sThroughThePanelThreadGivesTheSameTranscript) {
    auto options = phoneOptions(PhoneKind::A1018s);
    options.imei = "356938035643809";
    startPhone(options);
    makeControl(true);
    ASSERT_EQ(runToEnd(), 0) << diagnosis();
    EXPECT_EQ(panel.calls(), successTranscript(true, image.frameCount, " 356938-03-564380-9"));
    for (auto id : panel.threads()) ASSERT_EQ(id, ui->id());
}

TEST_F(Session, AnySilentOrNoisyPowerOnAndRepeatedSessions) {
    for (const std::string& noise : {std::string("TU"), std::string("X"), std::string("\xFF\0T", 3)}) {
        auto options = phoneOptions();
        options.noise = noise;
        options.repeat = true;
        startPhone(options);
        makeControl();
        EXPECT_EQ(runToEnd(), 0) << diagnosis();
        // The phone takes a closed line as the end of a session only after a grace (a reopen is quicker).
        std::this_thread::sleep_for(options.hangupGrace + 300ms);
        const std::size_t before = panel.size();
        EXPECT_EQ(runToEnd(), 0) << diagnosis();
        EXPECT_EQ(linesFrom(before), successTranscript(false, image.frameCount, " 490154-20-323751-8"));
    }
    // Aborted before any phone answers: no hint, whatever the sessions before did.
    auto silent = phoneOptions();
    silent.powerOnDelay = std::chrono::hours(1);
    startPhone(silent);
    const std::size_t before = panel.size();
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2s, before));
    abort();
    EXPECT_EQ(control->waitForEnd(), kSessionAborted);
    EXPECT_EQ(linesFrom(before), openingLines() + idleLines());
    EXPECT_EQ(sim->bytesReceived(), 0u);
}

TEST_F(Session, ProgressRangeIsTheWholeFrameCount) {
    image = withFrames(70'000, 6);  // 4,464 if cut to 16 bits
    startPhone(phoneOptions());
    makeControl();
    EXPECT_EQ(runToEnd(), 0) << diagnosis();
    const Lines lines = panel.calls();
    const auto at = std::find(lines.begin(), lines.end(), "progressStart 70000");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(std::count(at, lines.end(), "progressStep"), 70'000);
    EXPECT_NE(std::find(at, lines.end(), "field 1007 '70000'"), lines.end());
    EXPECT_EQ(panel.wraps(), 2u);  // boot (58 steps on 57) and service (136 on 135); the frames never
}

struct FailCase {
    SimStep step;
    ReplyFault fault;
    const char* status;  // shown while the step failed
    int code = kWrongResponse;
};

class SessionFailure : public SessionFixture, public ::testing::WithParamInterface<FailCase> {
  protected:
    // The error box, the hint box when wanted, the idle reset, and nothing more on the line.
    void expectEnding(int code, const std::string& status, bool hint = true) {
        const std::string error = std::string("message Error (error) ") + failureMessage(code);
        EXPECT_EQ(lastStatusBefore(indexOf(error)), status);
        EXPECT_EQ(linesFrom(indexOf(error)),
                  Lines{error} + (hint ? Lines{"message Hint (error) " + kHint} : Lines{}) + idleLines());
        EXPECT_FALSE(control->link().isOpen());
        EXPECT_FALSE(control->state().sessionRunning);
        EXPECT_FALSE(control->state().clockRunning);
        EXPECT_FALSE(control->state().abortHintArmed);
        EXPECT_EQ(control->state().failureHintWanted, hint);
        if (sim) expectLineQuiet();
    }
};

TEST_P(SessionFailure, EndsWithItsMessagesAndTheHint) {
    auto options = phoneOptions();
    options.replyFaults[GetParam().step] = GetParam().fault;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), GetParam().code) << diagnosis();
    expectEnding(GetParam().code, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SessionFailure,
    ::testing::Values(
        FailCase{SimStep::LoadRequest, ReplyFault::Wrong, "Entering boot mode ..."},
        FailCase{SimStep::BootParameters, ReplyFault::Wrong, "Entering boot mode ..."},
        FailCase{SimStep::ZeroBlock, ReplyFault::Wrong, "Entering boot mode ..."},
        FailCase{SimStep::ZeroBlock, ReplyFault::Missing, "Entering boot mode ..."},
        FailCase{SimStep::SecondZeroBlock, ReplyFault::Wrong, "Waiting for handshake ..."},
        FailCase{SimStep::BootApplication, ReplyFault::Wrong, "Sending boot appliation ..."},
        FailCase{SimStep::WakeUp, ReplyFault::Missing, "Changing baud rate ..."},
        FailCase{SimStep::ServiceLoadRequest, ReplyFault::Wrong, "Sending service application ..."},
        FailCase{SimStep::ServiceApplication, ReplyFault::Wrong, "Sending service application ..."},
        FailCase{SimStep::ServiceStart, ReplyFault::Missing, "Sending service application ..."},
        FailCase{SimStep::Imei, ReplyFault::Wrong, "Reading IMEI ..."},
        FailCase{SimStep::Erase, ReplyFault::Wrong, "Erasing flash ..."},
        FailCase{SimStep::EraseDone, ReplyFault::Missing, "Erasing flash ..."},
        FailCase{SimStep::BlankCheck, ReplyFault::Wrong, "Blank checking ..."},
        FailCase{SimStep::StreamStart, ReplyFault::Wrong, "Updating software ..."},
        FailCase{SimStep::Frames, ReplyFault::Wrong, "Updating software ..."},
        FailCase{SimStep::Format, ReplyFault::Missing, "Formating EEPROM ..."},
        FailCase{SimStep::FinalCheck, ReplyFault::Wrong, "CRC checking ...", kWrongSoftware},
        FailCase{SimStep::FinalCheck, ReplyFault::Missing, "CRC checking ...", kWrongSoftware}),
    [](const auto& info) {
        std::string name = std::string(stepName(info.param.step)) +
                           (info.param.fault == ReplyFault::Wrong ? "_wrong" : "_missing");
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(SessionFailure, PortMissingOrHeldIsCode1WithoutHint) {
    makeControl();
    EXPECT_EQ(runToEnd(), kPortBusy);
    EXPECT_EQ(control->link().lastOpenError(), OpenError::Missing);
    const Lines opening =
        startLines() + Lines{"field 1058 ''", "field 1002 ''", "field 1008 ''", "selectedPortDigit"};
    EXPECT_EQ(panel.calls(), opening + Lines{"message Error (error) Port is busy"} + idleLines());
    startPhone(phoneOptions());
    SerialLink other;
    other.setPortResolver([path = sim->slavePath()](char) { return path; });
    ASSERT_TRUE(other.open('1', kSlowSpeed));
    EXPECT_EQ(runToEnd(), kPortBusy);
    EXPECT_EQ(control->link().lastOpenError(), OpenError::Busy);
    EXPECT_EQ(sim->bytesReceived(), 0u);
}

TEST_F(SessionFailure, EraseRepliesWithinOneReadWindowAreOneWrongReply) {
    auto options = phoneOptions(PhoneKind::A1018s);
    options.eraseRepliesClose = true;  // acknowledge and prompt 50 ms apart
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kWrongResponse) << diagnosis();
    expectEnding(kWrongResponse, "Erasing flash ...");
}

TEST_F(SessionFailure, ImageSizeLimitOfTheA1018s) {
    // An image of exactly the limit goes past detection; one byte more is refused before anything is sent.
    for (std::size_t size : {2'000'000, 2'000'001}) {
        Bytes run = sample::header();
        for (std::size_t rest; (rest = size - 6 - run.size()) > 0;) {
            const std::size_t length = rest > 258 && rest < 264 ? 252 : std::min<std::size_t>(rest, 258);
            const Bytes f = sample::frame('1', Bytes(length - 4, 0x5A));
            run.insert(run.end(), f.begin(), f.end());
        }
        image = sample::flashImage(sample::operator+(run, sample::endFrame()));
        ASSERT_EQ(image.size, size);
        startPhone(phoneOptions(PhoneKind::A1018s));
        makeControl();
        start();
        if (size == 2'000'000) {
            ASSERT_TRUE(panel.waitFor("status Entering boot mode ...", 3s)) << diagnosis();
            abort();
            continue;
        }
        EXPECT_EQ(control->waitForEnd(), kWrongImageSize) << diagnosis();
        EXPECT_EQ(sim->bytesReceived(), 0u);
        expectEnding(kWrongImageSize, "Power ON the phone ...");
    }
}

TEST_F(SessionFailure, ALineThatVanishesMidStreamIsCode5) {
    image = withFrames(4000, 258);  // about 1 MB: the updater is still writing when the line goes
    auto options = phoneOptions();
    options.vanishAfterFrames = 100;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kTransmitError) << diagnosis();
    sim.reset();
    expectEnding(kTransmitError, "Updating software ...");
}

TEST_F(SessionFailure, AHintAfterAFailureDoesNotArmTheNextAbort) {
    auto options = phoneOptions();
    options.replyFaults[SimStep::Imei] = ReplyFault::Wrong;
    startPhone(options);
    makeControl();
    EXPECT_EQ(runToEnd(), kWrongResponse) << diagnosis();
    options.powerOnDelay = std::chrono::hours(1);
    startPhone(options);
    const std::size_t before = panel.size();
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2s, before));
    EXPECT_FALSE(control->state().abortHintArmed);
    abort();
    EXPECT_EQ(linesFrom(before), openingLines() + idleLines());
}

struct AbortCase {
    SimStep step;        // the phone stays silent after this step's input
    const char* status;  // shown while the updater waits
    bool posted;         // through the panel thread
};

class SessionAbort : public SessionFixture, public ::testing::WithParamInterface<AbortCase> {
  protected:
    // Aborts once the session is quiet at its step: at once, with the hint when a phone was detected, the
    // idle reset, the port closed, and nothing more on the line or the panel.
    void abortAndCheck(bool detected) {
        std::this_thread::sleep_for(150ms);  // let the last command drain into the phone
        const std::size_t received = sim->bytesReceived(), before = panel.size();
        EXPECT_LT(abort(), 2000ms);  // far above the 50 ms target; only catches an abort that waits
        EXPECT_EQ(control->waitForEnd(), kSessionAborted);
        const Lines expected = (detected ? Lines{"message Abort (error) " + kHint} : Lines{}) + idleLines();
        EXPECT_EQ(linesFrom(before), expected);
        EXPECT_FALSE(control->link().isOpen());
        EXPECT_FALSE(control->link().interrupted());  // ready for the next session
        EXPECT_FALSE(control->state().clockRunning);
        EXPECT_FALSE(control->state().sessionRunning);
        expectLineQuiet();
        EXPECT_EQ(sim->bytesReceived(), received);
        EXPECT_EQ(panel.size(), before + expected.size()) << "the aborted session reached the panel";
    }
};

TEST_P(SessionAbort, AtEveryWaitStopsAtOnceWithTheHint) {
    auto options = phoneOptions(PhoneKind::A1018s);
    options.replyFaults[GetParam().step] = ReplyFault::Missing;
    startPhone(options);
    makeControl(GetParam().posted, {100, 200});  // 20 s: a read not woken by the abort would show
    start();
    ASSERT_TRUE(panel.waitFor(std::string("status ") + GetParam().status, 10s)) << diagnosis();
    ASSERT_TRUE(sim->waitForStep(GetParam().step, 10s));
    abortAndCheck(true);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWait, SessionAbort,
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
            std::string(stepName(info.param.step)) + (info.param.posted ? "_posted" : "_direct");
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(SessionAbort, DuringThePowerOnWaitShowsNoHintAndWithoutASessionDoesNothing) {
    makeControl();
    abort();
    EXPECT_TRUE(panel.calls().empty());
    EXPECT_EQ(control->waitForEnd(), kNoSession);
    auto options = phoneOptions();
    options.powerOnDelay = std::chrono::hours(1);
    startPhone(options);
    makeControl(false, {100, 200});
    start();
    ASSERT_TRUE(panel.waitFor("status Power ON the phone ...", 2s));
    abortAndCheck(false);
    EXPECT_EQ(sim->bytesReceived(), 0u);
}

TEST_F(SessionAbort, AWriteStalledOnAFullLineDoesNotHoldTheAbort) {
    for (bool posted : {false, true}) {
        image = withFrames(4000, 258);  // about 1 MB: far more than the line's buffers hold
        auto options = phoneOptions();
        options.stallAfterFrames = 20;  // then the phone stops reading
        startPhone(options);
        makeControl(posted, {100, 200});
        const std::size_t from = panel.size();
        start();
        ASSERT_TRUE(panel.waitFor("field 1007 '20'", 10s, from)) << diagnosis();
        for (std::size_t size = 0; size != panel.size(); std::this_thread::sleep_for(200ms))
            size = panel.size();
        abortAndCheck(true);
    }
}

TEST_F(SessionAbort, InTheMiddleOfTheStreamNoFurtherFrameIsWritten) {
    image = withFrames(20000, 258);  // about 5 MB: still streaming when aborted
    startPhone(phoneOptions());
    makeControl(false, {100, 200});
    start();
    ASSERT_TRUE(panel.waitFor("field 1007 '100'", 10s)) << diagnosis();
    EXPECT_LT(abort(), 2000ms);
    EXPECT_EQ(control->waitForEnd(), kSessionAborted);
    // What was written before the abort may still drain; then the line stays silent, far short of the image,
    // and what arrived is an exact prefix of the session.
    for (std::size_t received = 0; received != sim->bytesReceived(); std::this_thread::sleep_for(300ms))
        received = sim->bytesReceived();
    EXPECT_LT(sim->bytesReceived(), image.size / 2);
    EXPECT_NE(sim->verdict().outcome, SimOutcome::Mismatch) << sim->verdict().text();
    EXPECT_EQ(linesFrom(indexOf("message Abort (error) " + kHint)),
              Lines{"message Abort (error) " + kHint} + idleLines());
}

}  // namespace
}  // namespace session_test
