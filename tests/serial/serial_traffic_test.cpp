// Reading replies and writing blocks on a real pseudo-terminal: the window rule, the cap and purge, the
// activity flags, interrupts, and a line that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "serial/activity_flags.h"
#include "serial/serial_link.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class SerialTraffic : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        link.setPortResolver([this](char) { return pty.slavePath(); });
        ASSERT_TRUE(link.open('1', kSlowSpeed));
    }

    std::string replyText() const {
        const ReplyBuffer& r = link.reply();
        return std::string(r.bytes.begin(), r.bytes.begin() + static_cast<std::ptrdiff_t>(r.count));
    }

    // Sends each piece after its delay, counted from the call, on another thread.
    std::future<void> sendLater(std::vector<std::pair<std::chrono::milliseconds, std::string>> pieces) {
        return std::async(std::launch::async, [this, pieces, start = Clock::now()] {
            for (const auto& [at, bytes] : pieces) {
                std::this_thread::sleep_until(start + at);
                pty.send(bytes);
            }
        });
    }

    PtyPair pty;
    SerialLink link;
};

bool allZero(const ReplyBuffer& r) {
    return std::all_of(r.bytes.begin(), r.bytes.end(), [](std::uint8_t b) { return b == 0; });
}

TEST_F(SerialTraffic, RepliesFiftyMillisecondsApartMergeIntoOne) {
    auto sender = sendLater({{20ms, "\r\n!"}, {70ms, "\r\n>"}});
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "\r\n!\r\n>");
    sender.get();
}

TEST_F(SerialTraffic, RepliesSixHundredMillisecondsApartAreTwo) {
    auto sender = sendLater({{20ms, "\r\n!"}, {620ms, "\r\n>"}});
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "\r\n!");
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "\r\n>");
    sender.get();
}

TEST_F(SerialTraffic, LongReplyKeepsTheFirst1024BytesAndPurgesTheRest) {
    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    pty.send(big);
    std::this_thread::sleep_for(30ms);  // all of it waiting in the driver
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(link.reply().count, kReplyCapacity);
    EXPECT_EQ(replyText(), big.substr(0, kReplyCapacity));

    link.setReadRule({2, 30});
    EXPECT_FALSE(link.readReply()) << "bytes past the cap were not purged";
    EXPECT_EQ(link.reply().count, 0u);
}

TEST_F(SerialTraffic, SilentLineFailsWithAZeroFilledBuffer) {
    pty.send("previous reply");
    ASSERT_TRUE(link.readReply());
    link.setReadRule({3, 20});
    EXPECT_FALSE(link.readReply());
    EXPECT_EQ(link.reply().count, 0u);
    EXPECT_TRUE(allZero(link.reply())) << "the last reply's bytes survived a failed read";
}

TEST_F(SerialTraffic, LateReplyIsFoundByALaterAttempt) {
    link.setReadRule({10, 30});
    auto sender = sendLater({{100ms, "R"}});
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "R");
    sender.get();
}

TEST(SerialDefaults, ShippedRuleIsTwoHundredWindowsOfTwoHundredMilliseconds) {
    SerialLink link;
    EXPECT_EQ(link.readRule().attempts, 200);
    EXPECT_EQ(link.readRule().windowMs, 200);

    // One silent attempt of the shipped window really waits about that long.
    PtyPair pty;
    link.setPortResolver([&](char) { return pty.slavePath(); });
    ASSERT_TRUE(link.open('1', kSlowSpeed));
    link.setReadRule({1, link.readRule().windowMs});
    const auto start = Clock::now();
    EXPECT_FALSE(link.readReply());
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 190ms);
    EXPECT_LT(took, 1000ms);
}

TEST_F(SerialTraffic, WritesReachTheLineAndRaiseTheFlags) {
    activityFlags.txSeen = false;
    activityFlags.rxSeen = false;
    const std::uint8_t block[] = {'0', 'B', 0x00, 0x03, 0xFF};
    ASSERT_TRUE(link.write(block, sizeof block));
    EXPECT_TRUE(activityFlags.txSeen);
    EXPECT_FALSE(activityFlags.rxSeen);
    EXPECT_EQ(pty.drain(), std::vector<std::uint8_t>(block, block + sizeof block));

    link.setReadRule({2, 20});
    EXPECT_FALSE(link.readReply());
    EXPECT_FALSE(activityFlags.rxSeen) << "a failed read lit the receive light";
    pty.send("R");
    ASSERT_TRUE(link.readReply());
    EXPECT_TRUE(activityFlags.rxSeen);
}

TEST_F(SerialTraffic, InterruptWakesAPendingReadAtOnce) {
    auto reader = std::async(std::launch::async, [this] { return link.readReply(); });
    ASSERT_EQ(reader.wait_for(300ms), std::future_status::timeout);  // the shipped rule would wait 40 s
    const auto start = Clock::now();
    link.interrupt();
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_FALSE(reader.get());
    EXPECT_EQ(link.reply().count, 0u);
}

TEST_F(SerialTraffic, InterruptWakesAWriteStalledOnAFullLine) {
    const std::vector<std::uint8_t> block(1 << 20, 0x55);  // far more than the pseudo-terminal buffers
    auto writer = std::async(std::launch::async, [&] { return link.write(block.data(), block.size()); });
    ASSERT_EQ(writer.wait_for(300ms), std::future_status::timeout) << "nobody reads, yet the write finished";
    link.interrupt();
    ASSERT_EQ(writer.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(writer.get());
}

TEST_F(SerialTraffic, NothingTouchesTheLineAfterAnInterrupt) {
    pty.send("T");
    std::this_thread::sleep_for(20ms);
    link.interrupt();
    activityFlags.txSeen = false;
    const std::uint8_t byte = 'Q';
    EXPECT_FALSE(link.write(&byte, 1));
    EXPECT_FALSE(activityFlags.txSeen);
    EXPECT_TRUE(pty.drain().empty()) << "a byte went out after the interrupt";

    const auto start = Clock::now();
    EXPECT_FALSE(link.readReply());
    EXPECT_LT(Clock::now() - start, 100ms) << "the read waited although interrupted";

    link.clearInterrupt();  // the pending 'T' was neither read nor purged meanwhile
    link.setReadRule({2, 30});
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "T");
}

TEST_F(SerialTraffic, VanishedLineFailsWritesReadsAndReopen) {
    pty.closeMaster();
    const std::uint8_t frame[] = {'S', '1', 0x03, 0x00, 0x00, 0xFC};
    EXPECT_FALSE(link.write(frame, sizeof frame));

    link.setReadRule({200, 50});
    const auto start = Clock::now();
    EXPECT_FALSE(link.readReply());
    EXPECT_LT(Clock::now() - start, 1s) << "a dead line used all its attempts";

    EXPECT_TRUE(link.reopen(kFastSpeed));
    EXPECT_FALSE(link.isOpen());
    EXPECT_NE(link.lastOpenError(), OpenError::None);
    EXPECT_FALSE(link.readReply());
    EXPECT_EQ(link.reply().count, 0u);
}

}  // namespace
