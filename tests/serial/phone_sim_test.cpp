// The simulated phone driven through a real SerialLink by an updater written out by hand from the protocol
// (not the session's code), so that the session's end-to-end tests rest on a phone checked on its own.
#include "phone_sim.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "serial/serial_link.h"
#include "tests/support/sample_image.h"

namespace {

using namespace std::chrono_literals;
using namespace sample;

// One thing the updater sends and the reply it expects ("*": any reply, "-": none is read).
struct Exchange {
    Bytes send;
    std::string reply;
    std::size_t chunk = 0;  // uploads go out in chunks of this size
    bool reopen = false;    // at 115200 once sent
};

class PhoneSimTest : public ::testing::Test {
  protected:
    PhoneSimTest() {
        for (std::size_t i = 0; i < 300; ++i) service.push_back(static_cast<std::uint8_t>(2 + i * 13));
        options.boot = {Bytes(service.begin(), service.begin() + 40), 40, "", false};
        options.service = {service, 300, "", false};
        options.powerOnDelay = 50ms;
        options.powerOnInterval = 250ms;  // wider than the 100 ms windows used here
        options.eraseTime = 600ms;
        options.hangupGrace = 200ms;
    }
    void TearDown() override {
        if (HasFailure() && sim)
            ADD_FAILURE() << "phone at " << stepName(sim->step()) << ": " << sim->verdict().text();
    }
    void start(const std::string& path = "") {
        std::string error;
        if (path.empty()) {
            sim = std::make_unique<PhoneSim>(options);
            ASSERT_TRUE(sim->start(error)) << error;
        }
        link.setPortResolver([this, path](char) { return path.empty() ? sim->slavePath() : path; });
        link.setReadRule({30, 100});
    }
    bool write(const Bytes& bytes, std::size_t chunk = 0) {
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        for (std::size_t at = 0; at < bytes.size(); at += chunk ? chunk : bytes.size())
            if (!link.write(bytes.data() + at, std::min(chunk ? chunk : bytes.size(), bytes.size() - at)))
                return false;
        return true;
    }
    std::string reply() {
        return link.readReply()
                   ? std::string(link.reply().bytes.begin(), link.reply().bytes.begin() + link.reply().count)
                   : "<none>";
    }
    // Opens at 9600 and reads until a lone power-on byte; every reply seen on the way.
    std::vector<std::string> powerOn() {
        std::vector<std::string> seen{"<cannot open>"};
        for (int i = 0; i < 40 && (link.isOpen() || link.open('1', kSlowSpeed)); ++i) {
            seen.push_back(reply());
            if (seen.back() == "T" || seen.back() == "U") break;
        }
        return seen;
    }
    void exchange(const std::vector<Exchange>& steps) {
        for (const Exchange& step : steps) {
            ASSERT_TRUE(step.send.empty() || write(step.send, step.chunk));
            if (step.reopen) link.reopen(kFastSpeed);
            const std::string got = step.reply == "-" ? "-" : reply();
            EXPECT_TRUE(step.reply == "*" || got == step.reply)
                << "after " << std::string(step.send.begin(), step.send.end()) << ": " << got;
        }
    }
    // From the load request to the service application's prompt.
    std::vector<Exchange> loaders(const std::string& parameters = std::string("\0\x02", 2)) {
        const Bytes zeros(64, 0);
        return {{bytesOf("0B"), "R"},
                {{0, 3}, parameters},
                {zeros, "*"},
                {zeros, "S"},
                {options.boot.bytes, "\r\n>", 16},
                {bytesOf("C27"), "-", 0, true},
                {bytesOf("\r"), "\r\n>"},
                {bytesOf("0B"), "R"},
                {service, "\r\n>", 128},
                {bytesOf("Q"), "\r\n>"}};
    }
    std::vector<Exchange> toStream(const FlashImage& flash) {
        return {{bytesOf("I1"), "490154203237518\r\n>"},
                {bytesOf("D"), "\r\n!"},
                {{}, "\r\n>"},
                {bytesOf("E"), "\r\nE9\r\n>"},
                {Bytes(flash.data.begin(), flash.data.begin() + 2), "\r\n!"}};
    }
    SimVerdict end() {
        link.close();
        EXPECT_TRUE(sim->waitForEnd(5s));
        return sim->verdict();
    }

    PhoneSimOptions options;
    Bytes service;
    std::unique_ptr<PhoneSim> sim;
    SerialLink link;
    Bytes sent;
};

TEST_F(PhoneSimTest, WholeSessionAtTheLineRateIsCheckedByteForByte) {
    const FlashImage flash = flashImage(image(60, "HDR", 32));
    std::string error;
    ASSERT_TRUE(setExpectedImage(options, flash, error)) << error;
    options.savePath = ::testing::TempDir() + "phone_sim_frames.bin";
    start();
    ASSERT_EQ(powerOn().back(), "T");
    exchange(loaders());
    exchange(toStream(flash));
    const auto started = std::chrono::steady_clock::now();
    const Bytes frames(flash.data.begin() + 9, flash.data.end() - 6);
    exchange({{frames, "-", 40}, {Bytes(flash.data.end() - 6, flash.data.end() - 4), "\r\n>"}});
    // The phone takes 11,520 bytes a second; it may have had 20 ms of them in hand.
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
              (frames.size() + 2 - 0.02 * 11520) / 11520);
    exchange({{bytesOf("N"), "*"}, {bytesOf("E"), "\r\nE9\r\n>"}, {bytesOf("Q"), "-"}});
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success);
    EXPECT_EQ(sim->verdict().framesReceived, 60);
    EXPECT_EQ(sim->received(), sent) << "the phone's transcript differs from what was written";
    std::ifstream saved(options.savePath, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(saved), {}), frames);
}

TEST_F(PhoneSimTest, CorruptedFrameIsReportedAtItsImageOffsetAndGetsNoPrompt) {
    const FlashImage flash = flashImage(image(4, "HDR", 32));
    std::string error;
    ASSERT_TRUE(setExpectedImage(options, flash, error));
    start();
    ASSERT_EQ(powerOn().back(), "T");
    exchange(loaders());
    exchange(toStream(flash));
    Bytes stream(flash.data.begin() + 9, flash.data.end() - 4);
    const std::size_t badAt = 9 + 45;  // inside the second data frame
    stream[badAt - 9] ^= 0x40;
    exchange({{stream, "<none>"}});
    const SimVerdict v = end();
    EXPECT_EQ(v.outcome, SimOutcome::Mismatch);
    EXPECT_EQ(v.step, SimStep::Frames);
    EXPECT_EQ(v.imageOffset, static_cast<long long>(badAt));
    EXPECT_EQ(v.expected, flash.data[badAt]);
    EXPECT_EQ(v.received, flash.data[badAt] ^ 0x40);
    EXPECT_EQ(v.framesReceived, 1);
}

TEST_F(PhoneSimTest, FaultsNoiseWrongAndMissingRepliesAndAForgottenSpeedChange) {
    std::string error;
    for (const char* fault : {"noise", "wrong:boot-parameters", "silent:handshake", "erase-fast"})
        ASSERT_TRUE(applyFault(options, fault, error)) << fault << ": " << error;
    for (const char* bad : {"wrong:speed-change", "stall:x", "silent:nowhere"})
        EXPECT_FALSE(applyFault(options, bad, error)) << bad;
    EXPECT_TRUE(options.eraseRepliesClose);
    start();
    const auto seen = powerOn();
    EXPECT_NE(std::find(seen.begin(), seen.end(), "TU"), seen.end()) << "no noise reached the updater";
    EXPECT_EQ(seen.back(), "T");
    link.setReadRule({3, 100});
    auto steps = loaders(std::string("\0\x03", 2));
    steps[3].reply = "<none>";
    steps.resize(5);
    exchange(steps);
    exchange({{bytesOf("C27"), "-"}, {bytesOf("\r"), "<none>"}});  // the updater forgot to raise its speed
    const SimVerdict v = end();
    EXPECT_EQ(v.outcome, SimOutcome::Mismatch);
    EXPECT_EQ(v.step, SimStep::WakeUp);
    EXPECT_NE(v.detail.find("9600"), std::string::npos) << v.detail;
}

TEST_F(PhoneSimTest, ProgramRunsASessionOnItsSymlinkAndReportsOnStdout) {
    const std::string path = ::testing::TempDir() + "phone-sim-link",
                      out = ::testing::TempDir() + "phone-sim-out";
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen(out.c_str(), "w", stdout);
        ::execl(PHONE_SIM_PROGRAM, "phone-sim", "--model", "T1x", "--link", path.c_str(), "--fault",
                "silent:load-request", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 100 && ::access(path.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(20ms);
    start(path);
    ASSERT_EQ(powerOn().back(), "T");
    link.setReadRule({3, 100});
    exchange({{bytesOf("0B"), "<none>"}});
    link.close();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream text(out);
    const std::string report(std::istreambuf_iterator<char>(text), {});
    EXPECT_NE(report.find("closed the line while the phone waited at boot-parameters"), std::string::npos)
        << report;
    EXPECT_EQ(::access(path.c_str(), F_OK), -1) << "the symlink outlived the program";
}

}  // namespace
