// The simulated phone driven from the updater's side through a real SerialLink, step by step. (The session's
// own end-to-end tests live with the session.)
#include "phone_sim.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_link.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes frame(char type, const Bytes& body) {
    Bytes out = {'S', static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(body.size() + 1)};
    unsigned sum = out[2];
    for (std::uint8_t b : body) sum += b;
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    return out;
}

// Header, `count` data frames of 32 data bytes each, termination.
FlashImage makeImage(int count) {
    FlashImage image;
    auto append = [&](const Bytes& f) { image.data.insert(image.data.end(), f.begin(), f.end()); };
    append(frame('0', {0x00, 0x00, 'H', 'D', 'R'}));
    for (int k = 0; k < count; ++k) {
        Bytes body = {static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k), 0x00};
        for (int i = 0; i < 32; ++i) body.push_back(static_cast<std::uint8_t>(k * 7 + i));
        append(frame('2', body));
    }
    append(frame('8', {0x00, 0x00, 0x00}));
    image.size = static_cast<std::uint32_t>(image.data.size());
    image.frameCount = count;
    return image;
}

Bytes payload(std::size_t size, std::uint8_t seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 13);
    return out;
}

// The updater's side of the wire, written out by hand from the protocol (not the session's code).
class Updater {
  public:
    explicit Updater(const std::string& path) {
        link.setPortResolver([path](char) { return path; });
        link.setReadRule({30, 100});
    }

    // Every byte the updater put on the line, in order.
    bool write(const std::uint8_t* bytes, std::size_t count) {
        sent.insert(sent.end(), bytes, bytes + count);
        return link.write(bytes, count);
    }
    bool send(const Bytes& bytes) { return write(bytes.data(), bytes.size()); }
    bool send(const std::string& text) { return send(Bytes(text.begin(), text.end())); }
    std::string reply() {
        if (!link.readReply()) return "<none>";
        const ReplyBuffer& r = link.reply();
        return std::string(r.bytes.begin(), r.bytes.begin() + static_cast<std::ptrdiff_t>(r.count));
    }
    bool sendChunks(const Bytes& block, std::size_t chunk) {
        for (std::size_t at = 0; at < block.size(); at += chunk) {
            if (!write(block.data() + at, std::min(chunk, block.size() - at))) return false;
        }
        return true;
    }

    // Opens at 9600 and waits for a lone power-on byte; returns every reply seen on the way.
    std::vector<std::string> powerOn() {
        std::vector<std::string> seen;
        if (!link.open('1', kSlowSpeed)) return seen;
        for (int i = 0; i < 40; ++i) {
            seen.push_back(reply());
            if (seen.back() == "T" || seen.back() == "U") break;
        }
        return seen;
    }

    // Steps from the load request to the prompt after the service application's "Q".
    void bootAndService(const Bytes& boot, const Bytes& service) {
        send("0B");
        EXPECT_EQ(reply(), "R");
        send(Bytes{0x00, 0x03});
        EXPECT_EQ(reply(), std::string("\x00\x02", 2));
        const Bytes zeros(64, 0);
        send(zeros);
        EXPECT_EQ(reply().size(), 3u);
        send(zeros);
        EXPECT_EQ(reply(), "S");
        sendChunks(boot, 16);
        EXPECT_EQ(reply(), "\r\n>");
        send("C27");
        link.reopen(kFastSpeed);
        send("\r");
        EXPECT_EQ(reply(), "\r\n>");
        send("0B");
        EXPECT_EQ(reply(), "R");
        sendChunks(service, 128);
        EXPECT_EQ(reply(), "\r\n>");
        send("Q");
        EXPECT_EQ(reply(), "\r\n>");
    }

    // From the IMEI request to the phone's acknowledge of the image's first two bytes, replies unchecked
    // but the last.
    void toStreamStart(const FlashImage& image) {
        for (const char* command : {"I1", "D"}) {
            send(command);
            reply();
        }
        reply();  // the prompt after the erase
        send("E");
        reply();
        send(Bytes(image.data.begin(), image.data.begin() + 2));
        EXPECT_EQ(reply(), "\r\n!");
    }

    SerialLink link;
    Bytes sent;
};

struct SimFixture : ::testing::Test {
    void configure(PhoneSimOptions& o) {
        o.boot = {payload(40, 1), 40, "", false};
        o.service = {payload(300, 2), 300, "", false};
        o.powerOnDelay = 50ms;
        o.powerOnInterval = 250ms;  // wider than the 100 ms windows used here
        o.eraseTime = 600ms;  // wide of the 100 ms windows even on a busy machine
        o.hangupGrace = 200ms;
    }
    PhoneSim* startSim(PhoneSimOptions o) {
        sim_ = std::make_unique<PhoneSim>(std::move(o));
        std::string error;
        EXPECT_TRUE(sim_->start(error)) << error;
        return sim_.get();
    }
    void TearDown() override {
        if (HasFailure() && sim_)
            ADD_FAILURE() << "phone at " << stepName(sim_->step()) << ": " << sim_->verdict().text();
    }
    std::unique_ptr<PhoneSim> sim_;
};

TEST_F(SimFixture, WholeSessionAgainstTheExpectedImageSucceedsAtLineRate) {
    const FlashImage image = makeImage(60);
    PhoneSimOptions o;
    configure(o);
    std::string error;
    ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
    o.savePath = ::testing::TempDir() + "phone_sim_frames.bin";
    std::remove(o.savePath.c_str());
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);

    Updater u(sim->slavePath());
    const auto seen = u.powerOn();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "T");
    u.bootAndService(boot, service);
    u.send("I1");
    EXPECT_EQ(u.reply(), "490154203237518\r\n>");
    u.send("D");
    EXPECT_EQ(u.reply(), "\r\n!");
    EXPECT_EQ(u.reply(), "\r\n>");
    u.send("E");
    EXPECT_EQ(u.reply(), "\r\nE9\r\n>");

    u.send(Bytes(image.data.begin(), image.data.begin() + 2));
    EXPECT_EQ(u.reply(), "\r\n!");
    const std::size_t first = Frame::length(image.bytes());
    const std::size_t end =
        image.size - Frame::length(image.bytes() + image.size - 7);  // termination frame: 7 bytes
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t at = first; at < end; at += Frame::length(image.bytes() + at)) {
        ASSERT_TRUE(u.write(image.bytes() + at, Frame::length(image.bytes() + at)));
    }
    u.send(Bytes(image.data.begin() + static_cast<std::ptrdiff_t>(end),
                 image.data.begin() + static_cast<std::ptrdiff_t>(end) + 2));
    EXPECT_EQ(u.reply(), "\r\n>");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The phone takes 11,520 bytes a second; it may only have had 20 ms of it in hand.
    EXPECT_GE(seconds, (static_cast<double>(end - first + 2) - 0.02 * 11520) / 11520);

    u.send("N");
    EXPECT_NE(u.reply(), "<none>");
    u.send("E");
    EXPECT_EQ(u.reply(), "\r\nE9\r\n>");
    u.send("Q");

    ASSERT_TRUE(sim->waitForEnd(5s));
    const SimVerdict v = sim->verdict();
    EXPECT_EQ(v.outcome, SimOutcome::Success) << v.text();
    EXPECT_EQ(v.framesReceived, 60);
    EXPECT_EQ(sim->received(), u.sent) << "the phone's transcript differs from what was written";
    EXPECT_EQ(sim->bytesReceived(), u.sent.size());
    std::ifstream saved(o.savePath, std::ios::binary);
    const Bytes frames((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_EQ(frames, Bytes(image.data.begin() + static_cast<std::ptrdiff_t>(first),
                            image.data.begin() + static_cast<std::ptrdiff_t>(end)));
}

TEST_F(SimFixture, CorruptedFrameIsReportedAtItsImageOffsetAndTheStreamGetsNoPrompt) {
    const FlashImage image = makeImage(4);
    PhoneSimOptions o;
    configure(o);
    std::string error;
    ASSERT_TRUE(setExpectedImage(o, image, error));
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "T");
    u.bootAndService(boot, service);
    u.toStreamStart(image);
    Bytes sent(image.data.begin() + 9,
               image.data.end() - 5);  // after the 9-byte header, up to the terminator's first 2
    const std::size_t badAt = 9 + 45;  // inside the second data frame
    sent[badAt - 9] ^= 0x40;
    u.send(sent);
    EXPECT_EQ(u.reply(), "<none>");
    u.link.close();

    ASSERT_TRUE(sim->waitForEnd(5s));
    const SimVerdict v = sim->verdict();
    EXPECT_EQ(v.outcome, SimOutcome::Mismatch) << v.text();
    EXPECT_EQ(v.step, SimStep::Frames);
    EXPECT_EQ(v.imageOffset, static_cast<long long>(badAt));
    EXPECT_EQ(v.expected, image.data[badAt]);
    EXPECT_EQ(v.received, image.data[badAt] ^ 0x40);
    EXPECT_EQ(v.framesReceived, 1);
}

TEST_F(SimFixture, A1018sAnnouncesUAndRejectsTheT1xImeiRequest) {
    PhoneSimOptions o;
    configure(o);
    o.model = PhoneKind::A1018s;
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "U");
    u.bootAndService(boot, service);
    u.send("I1");
    EXPECT_EQ(u.reply(), "<none>");
    u.link.close();
    ASSERT_TRUE(sim->waitForEnd(5s));
    const SimVerdict v = sim->verdict();
    EXPECT_EQ(v.outcome, SimOutcome::Mismatch);
    EXPECT_EQ(v.step, SimStep::Imei);
    EXPECT_EQ(v.offset, 1u);
    EXPECT_EQ(v.expected, '0');
    EXPECT_EQ(v.received, '1');
}

TEST_F(SimFixture, NoiseComesBeforeTheLonePowerOnByte) {
    PhoneSimOptions o;
    configure(o);
    std::string error;
    ASSERT_TRUE(applyFault(o, "noise", error));
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    const auto seen = u.powerOn();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_NE(std::find(seen.begin(), seen.end(), "TU"), seen.end()) << "no noise reached the updater";
    EXPECT_EQ(seen.back(), "T");
}

TEST_F(SimFixture, ReplyFaultsAndAWrongLineSpeed) {
    PhoneSimOptions o;
    configure(o);
    std::string error;
    ASSERT_TRUE(applyFault(o, "wrong:boot-parameters", error));
    ASSERT_TRUE(applyFault(o, "silent:handshake", error));
    EXPECT_FALSE(applyFault(o, "wrong:speed-change", error))
        << "a step without a reply accepted a reply fault";
    EXPECT_FALSE(applyFault(o, "stall:x", error));
    const Bytes boot = o.boot.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "T");
    u.send("0B");
    EXPECT_EQ(u.reply(), "R");
    u.send(Bytes{0x00, 0x03});
    EXPECT_EQ(u.reply(), std::string("\x00\x03", 2));
    const Bytes zeros(64, 0);
    u.send(zeros);
    EXPECT_EQ(u.reply().size(), 3u);
    u.send(zeros);
    u.link.setReadRule({3, 100});
    EXPECT_EQ(u.reply(), "<none>");
    // Carry on regardless, but forget to raise the speed after "C27".
    u.sendChunks(boot, 16);
    u.link.setReadRule({30, 100});
    EXPECT_EQ(u.reply(), "\r\n>");
    u.send("C27");
    u.send("\r");
    EXPECT_EQ(u.reply(), "<none>");
    u.link.close();
    ASSERT_TRUE(sim->waitForEnd(5s));
    const SimVerdict v = sim->verdict();
    EXPECT_EQ(v.outcome, SimOutcome::Mismatch) << v.text();
    EXPECT_EQ(v.step, SimStep::WakeUp);
    EXPECT_NE(v.detail.find("9600"), std::string::npos) << v.detail;
}

TEST_F(SimFixture, EraseRepliesFiftyMillisecondsApartArriveAsOne) {
    PhoneSimOptions o;
    configure(o);
    std::string error;
    ASSERT_TRUE(applyFault(o, "erase-fast", error));
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "T");
    u.bootAndService(boot, service);
    u.send("I1");
    u.reply();
    u.send("D");
    EXPECT_EQ(u.reply(), "\r\n!\r\n>");
}

TEST_F(SimFixture, StallStopsReadingSoTheWriteHangsUntilInterrupted) {
    const FlashImage image = makeImage(2000);  // ~80 KB, far more than the pseudo-terminal buffers
    PhoneSimOptions o;
    configure(o);
    std::string error;
    ASSERT_TRUE(setExpectedImage(o, image, error));
    ASSERT_TRUE(applyFault(o, "stall:3", error));
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "T");
    u.bootAndService(boot, service);
    u.toStreamStart(image);
    auto writer =
        std::async(std::launch::async, [&] { return u.link.write(image.bytes() + 9, image.size - 9 - 7); });
    EXPECT_EQ(writer.wait_for(1500ms), std::future_status::timeout) << "the stalled phone took everything";
    u.link.interrupt();
    EXPECT_FALSE(writer.get());
    u.link.close();
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Stalled) << sim->verdict().text();
    EXPECT_EQ(sim->verdict().framesReceived, 3);
}

TEST_F(SimFixture, VanishClosesTheLineUnderAStreamingWriter) {
    const FlashImage image = makeImage(2000);
    PhoneSimOptions o;
    configure(o);
    o.emulateLineRate = false;
    std::string error;
    ASSERT_TRUE(setExpectedImage(o, image, error));
    ASSERT_TRUE(applyFault(o, "vanish:5", error));
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "T");
    u.bootAndService(boot, service);
    u.toStreamStart(image);
    bool failed = false;
    for (std::size_t at = 9; at < image.size - 7 && !failed; at += Frame::length(image.bytes() + at)) {
        failed = !u.link.write(image.bytes() + at, Frame::length(image.bytes() + at));
    }
    EXPECT_TRUE(failed) << "every frame write succeeded on a vanished line";
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Vanished);
    EXPECT_EQ(sim->verdict().framesReceived, 5);
}

TEST_F(SimFixture, WithoutAnImageFramesAreCheckedByChecksumAndTheQuietEnd) {
    PhoneSimOptions o;
    configure(o);
    const Bytes boot = o.boot.bytes, service = o.service.bytes;
    auto sim = startSim(o);
    Updater u(sim->slavePath());
    ASSERT_EQ(u.powerOn().back(), "T");
    u.bootAndService(boot, service);
    const FlashImage image = makeImage(3);
    u.toStreamStart(image);
    u.send(Bytes(image.data.begin() + 9, image.data.end() - 5));
    EXPECT_EQ(u.reply(), "\r\n>");
    u.send("N");
    EXPECT_EQ(u.reply(), "\r\n>");
    u.send("E");
    u.send("Q");
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
    EXPECT_EQ(sim->verdict().framesReceived, 3);
}

TEST_F(SimFixture, RepeatServesOneSessionAfterAnother) {
    PhoneSimOptions o;
    configure(o);
    o.repeat = true;
    std::mutex mutex;
    std::vector<SimVerdict> ends;
    auto sim = std::make_unique<PhoneSim>(o);
    sim->onSessionEnd([&](const SimVerdict& v) {
        std::lock_guard lock(mutex);
        ends.push_back(v);
    });
    std::string error;
    ASSERT_TRUE(sim->start(error)) << error;
    for (int session = 0; session < 2; ++session) {
        Updater u(sim->slavePath());
        ASSERT_EQ(u.powerOn().back(), "T") << "session " << session;
        u.send("0B");
        EXPECT_EQ(u.reply(), "R");
        u.link.close();
        std::this_thread::sleep_for(100ms);  // the phone notices a close by polling, every few milliseconds
    }
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard lock(mutex);
            if (ends.size() == 2) break;
        }
        std::this_thread::sleep_for(20ms);
    }
    std::lock_guard lock(mutex);
    ASSERT_EQ(ends.size(), 2u);
    for (const SimVerdict& v : ends) {
        EXPECT_EQ(v.outcome, SimOutcome::LineClosed) << v.text();
        EXPECT_EQ(v.step, SimStep::BootParameters);
    }
}

TEST(PhoneSimProgram, RunsASessionOnItsSymlinkAndReportsOnStdout) {
    const std::string link = ::testing::TempDir() + "phone-sim-link";
    const std::string out = ::testing::TempDir() + "phone-sim-out.txt";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen(out.c_str(), "w", stdout);
        ::execl(PHONE_SIM_PROGRAM, "phone-sim", "--model", "T1x", "--link", link.c_str(), "--fault",
                "silent:load-request", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    Updater u(link);
    for (int i = 0; i < 100 && ::access(link.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(20ms);
    const auto seen = u.powerOn();
    ASSERT_FALSE(seen.empty()) << openErrorText(u.link.lastOpenError());
    EXPECT_EQ(seen.back(), "T");
    u.send("0B");
    u.link.setReadRule({3, 100});
    EXPECT_EQ(u.reply(), "<none>");
    u.link.close();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream text(out);
    const std::string report((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    EXPECT_NE(report.find("closed the line while the phone waited at boot-parameters"), std::string::npos)
        << report;
    EXPECT_EQ(::access(link.c_str(), F_OK), -1) << "the symlink outlived the program";
}

}  // namespace
