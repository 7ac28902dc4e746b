// The serial link on a real pseudo-terminal: line settings, refusals and their reasons, the exclusive hold,
// the reply rule with its cap and purge, the activity flags, interrupts, and a line that goes away.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <future>

#include "pty_pair.h"
#include "serial/activity_flags.h"
#include "serial/serial_link.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Serial : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        link.setPortResolver([this](char digit) {
            digits.push_back(digit);
            return pty.slavePath();
        });
    }
    void open() { ASSERT_TRUE(link.open('1', kSlowSpeed)) << openErrorText(link.lastOpenError()); }
    std::string replyText() const {
        return std::string(link.reply().bytes.begin(), link.reply().bytes.begin() + link.reply().count);
    }
    // Sends each piece at its time after the call, from another thread.
    std::future<void> sendLater(std::vector<std::pair<std::chrono::milliseconds, std::string>> pieces) {
        return std::async(std::launch::async, [this, pieces, start = Clock::now()] {
            for (const auto& [at, bytes] : pieces) {
                std::this_thread::sleep_until(start + at);
                pty.send(bytes);
            }
        });
    }
    // How long `f` took.
    template <typename F>
    static Clock::duration timed(F f) {
        const auto start = Clock::now();
        f();
        return Clock::now() - start;
    }

    PtyPair pty;
    SerialLink link;
    std::vector<char> digits;
};

void expectRaw8N1(const termios& t, speed_t speed) {
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(cfgetispeed(&t), speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(Serial, OpensRaw8N1AtBothSpeedsAndRefusesOthers) {
    const speed_t before = pty.speed();
    EXPECT_FALSE(link.open('1', 57600));
    EXPECT_EQ(link.lastOpenError(), OpenError::Settings);
    EXPECT_EQ(pty.speed(), before);  // the device was not touched
    pty.send("stale");
    ASSERT_TRUE(link.open('3', kSlowSpeed));
    EXPECT_EQ(link.lastOpenError(), OpenError::None);
    EXPECT_EQ(link.lastOpenPath(), pty.slavePath());
    expectRaw8N1(pty.lineSettings(), B9600);
    EXPECT_TRUE(link.reopen(kFastSpeed));
    EXPECT_TRUE(link.isOpen());
    expectRaw8N1(pty.lineSettings(), B115200);
    EXPECT_EQ(digits, (std::vector<char>{'1', '3', '3'}));
    link.setReadRule({2, 20});
    EXPECT_FALSE(link.readReply()) << "input waiting before the open was not discarded";
}

TEST_F(Serial, BytesWrittenJustBeforeAReopenStillReachTheFarEnd) {
    open();
    const std::uint8_t speedChange[] = {'C', '2', '7'};
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(link.write(speedChange, 3));
        link.reopen(round % 2 == 0 ? kFastSpeed : kSlowSpeed);
        ASSERT_EQ(pty.drain(5), std::vector<std::uint8_t>(speedChange, speedChange + 3)) << "round " << round;
    }
}

TEST_F(Serial, AHeldPortIsBusy) {
    open();
    SerialLink other;
    other.setPortResolver([this](char) { return pty.slavePath(); });
    EXPECT_FALSE(other.open('1', kSlowSpeed));  // root ignores TIOCEXCL: this passes through the lock
    EXPECT_EQ(other.lastOpenError(), OpenError::Busy);
    EXPECT_FALSE(other.isOpen());
    link.reopen(kFastSpeed);  // still held across the speed change
    EXPECT_FALSE(other.open('1', kSlowSpeed));
    link.close();
    link.close();
    EXPECT_FALSE(link.isOpen());
    ASSERT_TRUE(other.open('1', kSlowSpeed));
    other.close();

    const int held = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // another program's lock
    EXPECT_FALSE(link.open('1', kSlowSpeed));
    EXPECT_EQ(link.lastOpenError(), OpenError::Busy);
    EXPECT_EQ(link.lastOpenErrno(), EWOULDBLOCK);
    ::close(held);
}

TEST_F(Serial, RefusalsSayWhy) {
    const struct {
        std::string path;
        OpenError error;
        int errorNumber;
    } rows[] = {{"/dev/no-such-serial-port", OpenError::Missing, ENOENT},
                {"/dev/null", OpenError::Settings, -1}};  // opens, but is not a terminal
    for (const auto& row : rows) {
        link.setPortResolver([&](char) { return row.path; });
        EXPECT_FALSE(link.open('1', kSlowSpeed)) << row.path;
        EXPECT_FALSE(link.isOpen());
        EXPECT_EQ(link.lastOpenError(), row.error) << row.path;
        EXPECT_TRUE(row.errorNumber < 0 || link.lastOpenErrno() == row.errorNumber) << link.lastOpenErrno();
    }
    EXPECT_STREQ(openErrorText(OpenError::Missing), "no such device");
    link.setPortResolver([this](char) { return pty.slavePath(); });
    link.interrupt();
    EXPECT_FALSE(link.open('1', kSlowSpeed)) << "an aborted session opened the port again";
    link.clearInterrupt();
    EXPECT_TRUE(link.open('1', kSlowSpeed));

    // Permission: root opens anything, so try as an unprivileged user in a child.
    link.close();
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        ::_exit(!link.open('1', kSlowSpeed) && link.lastOpenError() == OpenError::Permission &&
                        link.lastOpenErrno() == EACCES
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not drop privileges; 1: not reported as Permission";
}

TEST(SerialPortNames, ComDigitsMapToTheFirstExistingDeviceFamily) {
    for (char digit = '1'; digit <= '4'; ++digit) {
        const std::string index(1, static_cast<char>(digit - 1));
        std::string expected = "/dev/ttyS" + index;
        if (::access(("/dev/ttyACM" + index).c_str(), F_OK) == 0) expected = "/dev/ttyACM" + index;
        if (::access(("/dev/ttyUSB" + index).c_str(), F_OK) == 0) expected = "/dev/ttyUSB" + index;
        EXPECT_EQ(defaultPortPath(digit), expected);
    }
    EXPECT_EQ(defaultPortPath('0'), "");
}

TEST_F(Serial, RepliesFollowTheWindowRule) {
    EXPECT_EQ(link.readRule().attempts, 200);  // the shipped rule
    EXPECT_EQ(link.readRule().windowMs, 200);
    open();
    auto merged = sendLater({{20ms, "\r\n!"}, {70ms, "\r\n>"}});  // 50 ms apart: one reply
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "\r\n!\r\n>");
    merged.get();
    auto apart = sendLater({{20ms, "\r\n!"}, {620ms, "\r\n>"}});  // 600 ms apart: two
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "\r\n!");
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "\r\n>");
    apart.get();
    link.setReadRule({10, 30});
    auto late = sendLater({{100ms, "R"}});  // found by a later attempt
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "R");
    late.get();

    link.setReadRule({1, 200});  // one silent window really waits about that long, then zeroes the reply
    const auto took = timed([&] { EXPECT_FALSE(link.readReply()); });
    EXPECT_GE(took, 190ms);
    EXPECT_LT(took, 1000ms);
    EXPECT_EQ(link.reply().count, 0u);
    EXPECT_TRUE(
        std::all_of(link.reply().bytes.begin(), link.reply().bytes.end(), [](auto b) { return b == 0; }));
}

TEST_F(Serial, LongReplyKeepsTheFirst1024BytesAndPurgesTheRest) {
    open();
    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    pty.send(big);
    std::this_thread::sleep_for(30ms);
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), big.substr(0, kReplyCapacity));
    link.setReadRule({2, 30});
    EXPECT_FALSE(link.readReply()) << "bytes past the cap were not purged";
}

TEST_F(Serial, WritesAndRepliesRaiseTheirFlags) {
    open();
    activityFlags.txSeen = activityFlags.rxSeen = false;
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

TEST_F(Serial, InterruptWakesAPendingReadOrStalledWriteAndKeepsTheLineUntouched) {
    open();
    auto reader = std::async(std::launch::async, [this] { return link.readReply(); });
    ASSERT_EQ(reader.wait_for(300ms), std::future_status::timeout);  // the shipped rule waits 40 s
    link.interrupt();
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    link.clearInterrupt();

    const std::vector<std::uint8_t> block(1 << 20, 0x55);  // far more than the pseudo-terminal buffers
    auto writer = std::async(std::launch::async, [&] { return link.write(block.data(), block.size()); });
    ASSERT_EQ(writer.wait_for(300ms), std::future_status::timeout) << "nobody reads, yet the write finished";
    link.interrupt();
    ASSERT_EQ(writer.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(writer.get());
    link.close();
    link.clearInterrupt();

    open();
    pty.drain(50);  // what the stalled write left on the line
    pty.send("T");
    std::this_thread::sleep_for(20ms);
    link.interrupt();
    activityFlags.txSeen = false;
    const std::uint8_t byte = 'Q';
    EXPECT_FALSE(link.write(&byte, 1));
    EXPECT_FALSE(activityFlags.txSeen);
    EXPECT_TRUE(pty.drain().empty()) << "a byte went out after the interrupt";
    EXPECT_LT(timed([&] { EXPECT_FALSE(link.readReply()); }), 100ms);
    link.clearInterrupt();  // the pending 'T' was neither read nor purged meanwhile
    link.setReadRule({2, 30});
    ASSERT_TRUE(link.readReply());
    EXPECT_EQ(replyText(), "T");
}

TEST_F(Serial, VanishedLineFailsWritesReadsAndReopen) {
    open();
    pty.closeMaster();
    const std::uint8_t frame[] = {'S', '1', 0x03, 0x00, 0x00, 0xFC};
    EXPECT_FALSE(link.write(frame, sizeof frame));
    link.setReadRule({200, 50});
    EXPECT_LT(timed([&] { EXPECT_FALSE(link.readReply()); }), 1s) << "a dead line used all its attempts";
    EXPECT_TRUE(link.reopen(kFastSpeed));
    EXPECT_FALSE(link.isOpen());
    EXPECT_NE(link.lastOpenError(), OpenError::None);
    EXPECT_FALSE(link.readReply());
    EXPECT_EQ(link.reply().count, 0u);
}

}  // namespace
