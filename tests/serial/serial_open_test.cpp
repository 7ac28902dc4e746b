// Opening the link: line settings as the driver took them, refusals and their reasons, the exclusive hold.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

#include "pty_pair.h"
#include "serial/serial_link.h"

namespace {

class SerialOpen : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        link.setPortResolver([this](char digit) {
            digits.push_back(digit);
            return pty.slavePath();
        });
    }

    PtyPair pty;
    SerialLink link;
    std::vector<char> digits;
};

void expectRaw8N1(const termios& t, speed_t speed) {
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ(cfgetispeed(&t), speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "parity, two stop bits or RTS/CTS left on";
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u) << "input is not raw";
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << "line discipline is not raw";
    EXPECT_EQ(t.c_oflag & OPOST, 0u) << "output is post-processed";
}

TEST_F(SerialOpen, AppliesRaw8N1AtBothSpeedsAndKeepsThePortDigit) {
    ASSERT_TRUE(link.open('3', kSlowSpeed)) << openErrorText(link.lastOpenError());
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.lastOpenError(), OpenError::None);
    EXPECT_EQ(link.lastOpenPath(), pty.slavePath());
    expectRaw8N1(pty.lineSettings(), B9600);

    EXPECT_TRUE(link.reopen(kFastSpeed));
    EXPECT_TRUE(link.isOpen());
    expectRaw8N1(pty.lineSettings(), B115200);
    EXPECT_EQ(digits, (std::vector<char>{'3', '3'}));
}

TEST_F(SerialOpen, RefusesOtherSpeedsWithoutTouchingTheDevice) {
    const termios before = pty.lineSettings();
    EXPECT_FALSE(link.open('1', 57600));
    EXPECT_FALSE(link.isOpen());
    EXPECT_EQ(link.lastOpenError(), OpenError::Settings);
    const termios after = pty.lineSettings();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

TEST_F(SerialOpen, DiscardsInputThatWasWaitingBeforeTheOpen) {
    pty.send("stale");
    ASSERT_TRUE(link.open('1', kSlowSpeed));
    link.setReadRule({2, 20});
    EXPECT_FALSE(link.readReply());
}

TEST_F(SerialOpen, BytesWrittenJustBeforeAReopenStillReachTheFarEnd) {
    ASSERT_TRUE(link.open('1', kSlowSpeed));
    const std::uint8_t speedChange[] = {'C', '2', '7'};
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(link.write(speedChange, sizeof speedChange));
        link.reopen(round % 2 == 0 ? kFastSpeed : kSlowSpeed);
        ASSERT_EQ(pty.drain(5), std::vector<std::uint8_t>(speedChange, speedChange + 3)) << "round " << round;
    }
}

TEST_F(SerialOpen, SecondOpenOfAHeldPortIsBusyUntilTheFirstCloses) {
    ASSERT_TRUE(link.open('1', kSlowSpeed));
    SerialLink other;
    other.setPortResolver([this](char) { return pty.slavePath(); });
    // Root ignores TIOCEXCL, so under root this only passes through the lock.
    EXPECT_FALSE(other.open('1', kSlowSpeed));
    EXPECT_EQ(other.lastOpenError(), OpenError::Busy);
    EXPECT_FALSE(other.isOpen());

    link.reopen(kFastSpeed);  // still held across the speed change
    EXPECT_FALSE(other.open('1', kSlowSpeed));

    link.close();
    link.close();  // idempotent
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(other.open('1', kSlowSpeed)) << openErrorText(other.lastOpenError());
}

TEST_F(SerialOpen, PortLockedByAnotherProgramIsBusy) {
    const int held = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(link.open('1', kSlowSpeed));
    EXPECT_EQ(link.lastOpenError(), OpenError::Busy);
    EXPECT_EQ(link.lastOpenErrno(), EWOULDBLOCK);
    ::close(held);
}

TEST(SerialOpenErrors, MissingDeviceNonTerminalAndInterruptedOpen) {
    SerialLink link;
    link.setPortResolver([](char) { return std::string("/dev/no-such-serial-port"); });
    EXPECT_FALSE(link.open('1', kSlowSpeed));
    EXPECT_EQ(link.lastOpenError(), OpenError::Missing);
    EXPECT_EQ(link.lastOpenErrno(), ENOENT);
    EXPECT_STREQ(openErrorText(OpenError::Missing), "no such device");

    link.setPortResolver([](char) { return std::string("/dev/null"); });  // opens, but is not a terminal
    EXPECT_FALSE(link.open('1', kSlowSpeed));
    EXPECT_EQ(link.lastOpenError(), OpenError::Settings);
    EXPECT_FALSE(link.isOpen());

    PtyPair pty;
    link.setPortResolver([&](char) { return pty.slavePath(); });
    link.interrupt();
    EXPECT_FALSE(link.open('1', kSlowSpeed)) << "an aborted session opened the port again";
    link.clearInterrupt();
    EXPECT_TRUE(link.open('1', kSlowSpeed));
}

TEST(SerialOpenErrors, PermissionDeniedIsReported) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0600), 0);
    const auto attempt = [&] {
        SerialLink link;
        link.setPortResolver([&](char) { return pty.slavePath(); });
        return !link.open('1', kSlowSpeed) && link.lastOpenError() == OpenError::Permission &&
               link.lastOpenErrno() == EACCES;
    };
    if (::geteuid() != 0) {
        // Not root: a device with no permission bits at all cannot be opened.
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
        EXPECT_TRUE(attempt());
        return;
    }
    // Root opens anything: try as an unprivileged user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(attempt() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
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

}  // namespace
