// The session's building blocks that need no phone: texts, payloads, models, the image walk, the panel relay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "recording_panel.h"
#include "session/payloads.h"
#include "session/phone_model.h"
#include "session/session_control.h"
#include "session/update_session.h"
#include "session/worker_panel.h"
#include "test_executor.h"

namespace {

bool contains(const Payload& p, std::string_view text) {
    return std::search(p.data, p.data + p.size, text.begin(), text.end()) != p.data + p.size;
}

TEST(SessionTexts, FailureMessagesAreTheSystemsOwn) {
    EXPECT_STREQ(failureMessage(1), "Port is busy");
    EXPECT_STREQ(failureMessage(2), "Wrong responce");
    EXPECT_STREQ(failureMessage(3), "Wrong flash image size for detected phone");
    EXPECT_STREQ(failureMessage(4), "Wrong software version for this phone. \nTrying another flash image");
    EXPECT_STREQ(failureMessage(5),
                 "Data transmit error encountered.\nCheck if the battery is full enough (at least 50% is "
                 "recomended)\n or if the cable is properly connected");
    for (int code : {0, 6, -1, 99}) EXPECT_STREQ(failureMessage(code), "Unknown error") << code;
    EXPECT_STREQ(kBatteryHint, "You will have to remove the battery and put it back before restarting");
}

TEST(SessionPayloads, StandInsHaveTheLoadersSizesAndIdentification) {
    const Payloads payloads = loadPayloads();
    ASSERT_EQ(payloads.boot.size, 926u);
    ASSERT_EQ(payloads.service.size, 17324u);
    const std::string_view bootId = "980520 0842 PRGCXC132611";
    EXPECT_TRUE(std::equal(bootId.begin(), bootId.end(), payloads.boot.data + 926 - bootId.size()));
    EXPECT_TRUE(contains(payloads.service, "990802 0849 PRGCXC1320633"));
    EXPECT_TRUE(contains(payloads.boot, "STAND-IN LOADER, NOT PHONE CODE"));
    EXPECT_TRUE(contains(payloads.service, "STAND-IN LOADER, NOT PHONE CODE"));
    // Located once, never copied: every call gives the same storage.
    EXPECT_EQ(loadPayloads().boot.data, payloads.boot.data);
}

TEST(SessionPhoneModel, OnlyALoneTOrUAnnouncesAPhone) {
    const std::uint8_t t[] = {'T'}, u[] = {'U'}, tu[] = {'T', 'U'}, x[] = {'X'}, zero[] = {0};
    EXPECT_EQ(modelFromPowerOn(t, 1), PhoneModel::T1x);
    EXPECT_EQ(modelFromPowerOn(u, 1), PhoneModel::A1018s);
    EXPECT_FALSE(modelFromPowerOn(tu, 2));
    EXPECT_FALSE(modelFromPowerOn(x, 1));
    EXPECT_FALSE(modelFromPowerOn(zero, 0));
    EXPECT_STREQ(phoneModelInfo(PhoneModel::T1x).detectedText, " T1x detected");
    EXPECT_STREQ(phoneModelInfo(PhoneModel::A1018s).detectedText, " A1018s detected");
    EXPECT_EQ(phoneModelInfo(PhoneModel::T1x).imeiRequest, "I1");
    EXPECT_EQ(phoneModelInfo(PhoneModel::A1018s).imeiRequest, "I0");
    EXPECT_EQ(phoneModelInfo(PhoneModel::A1018s).imageSizeLimit, 2'000'000u);
    EXPECT_EQ(phoneModelInfo(PhoneModel::T1x).imageSizeLimit, 0u);
}

FlashImage imageOf(std::vector<std::uint8_t> bytes, std::int32_t frames) {
    FlashImage image;
    image.size = static_cast<std::uint32_t>(bytes.size());
    image.data = std::move(bytes);
    image.frameCount = frames;
    return image;
}

TEST(SessionImageWalk, FramesMustLieWithinTheSize) {
    // Header (count 3), one data frame (count 4), termination (count 3).
    const std::vector<std::uint8_t> run = {'S', '0',  3,    0,   0,   0xFC, 'S', '1', 4,   0,
                                           0,   0xAA, 0x51, 'S', '9', 3,    0,   0,   0xFC};
    EXPECT_TRUE(imageStreamable(imageOf(run, 1)));
    EXPECT_TRUE(imageStreamable(imageOf(run, 0)));   // the data frame's first 2 bytes then act as termination
    EXPECT_FALSE(imageStreamable(imageOf(run, 2)));  // one frame more than there is
    EXPECT_FALSE(imageStreamable(imageOf(run, -1)));
    std::vector<std::uint8_t> cut(run.begin(), run.begin() + 14);  // termination has 1 byte only
    EXPECT_FALSE(imageStreamable(imageOf(cut, 1)));
    std::vector<std::uint8_t> overlong = run;
    overlong[8] = 200;  // the data frame claims to run past the end
    EXPECT_FALSE(imageStreamable(imageOf(overlong, 1)));
    EXPECT_FALSE(imageStreamable(imageOf({}, 0)));
}

TEST(SessionWorkerPanel, PostedCallsRunOnThePanelThreadAndReturnResults) {
    RecordingPanel target;
    TestExecutor ui;
    auto sync = std::make_shared<SessionSync>();
    WorkerPanel panel(target, ui.executor(), sync);
    panel.setStatus("one");
    EXPECT_EQ(panel.selectedPortDigit(), '1');
    panel.progressStart(70000);  // whole count, not its low 16 bits
    ASSERT_EQ(target.calls(),
              (std::vector<std::string>{"status one", "selectedPortDigit", "progressStart 70000"}));
    for (auto id : target.threads()) EXPECT_EQ(id, ui.id());
}

TEST(SessionWorkerPanel, AbortWakesAWaitingWorkerAndDropsItsQueuedCall) {
    RecordingPanel target;
    TestExecutor ui;
    auto sync = std::make_shared<SessionSync>();
    WorkerPanel panel(target, ui.executor(), sync);
    ui.pause(true);  // the panel thread is busy: the worker's call waits in the queue
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        panel.setStatus("late");
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned);
    EXPECT_TRUE(sync->markAborted());
    worker.join();  // woken by the abort, not by the panel thread
    EXPECT_TRUE(returned);
    ui.pause(false);
    ui.runOnPanelThread([] {});  // the queued call has run by now, and must have done nothing
    EXPECT_TRUE(target.calls().empty());
    panel.setStatus("after");  // later calls of the aborted session are dropped too
    EXPECT_TRUE(target.calls().empty());
}

TEST(SessionWorkerPanel, DirectCallsStopAtTheAbort) {
    RecordingPanel target;
    auto sync = std::make_shared<SessionSync>();
    WorkerPanel panel(target, {}, sync);
    panel.setFieldText(IDC_PHONE, " T1x detected");
    EXPECT_TRUE(sync->markAborted());
    panel.setFieldText(IDC_IMEI, "x");
    EXPECT_EQ(panel.selectedPortDigit(), '1');  // the fallback, not a panel call
    EXPECT_EQ(target.calls(), (std::vector<std::string>{"field 1058 ' T1x detected'"}));
}

TEST(SessionWorkerPanel, AnEndedSessionCannotBeMarkedAborted) {
    SessionSync sync;
    {
        std::lock_guard lock(sync.mutex);
        sync.ended = true;
    }
    EXPECT_FALSE(sync.markAborted());
    EXPECT_FALSE(sync.abortedFlag);
}

}  // namespace
