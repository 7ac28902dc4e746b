// The serial link on a real pseudo-terminal, where a whole session does not reach: the line settings,
// refusals and their reasons, the reply cap and purge, the activity flags, an interrupt, and a line that goes
// away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <future>

#include "serial/activity_flags.h"
#include "serial/serial_link.h"
#include "serial/thread_priority.h"

namespace {

using namespace std::chrono_literals;

// A real pseudo-terminal: the test holds the master, the link opens the slave.
class Serial : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        termios raw = lineSettings();
        ::cfmakeraw(&raw);
        ::tcsetattr(master, TCSANOW, &raw);
        link.setPortResolver([path = std::string(::ptsname(master))](char) { return path; });
        ASSERT_TRUE(link.open('1', kSlowSpeed)) << openErrorText(link.lastOpenError());
    }
    void TearDown() override { ::close(master); }
    termios lineSettings() const {  // a master reports its slave's settings
        termios settings{};
        ::tcgetattr(master, &settings);
        return settings;
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Everything the link wrote that arrives within 50 ms.
    std::vector<std::uint8_t> drain() {
        std::vector<std::uint8_t> out;
        std::uint8_t chunk[4096];
        for (pollfd in{master, POLLIN, 0}; ::poll(&in, 1, 50) > 0 && (in.revents & POLLIN);)
            out.insert(out.end(), chunk, chunk + std::max<ssize_t>(0, ::read(master, chunk, sizeof chunk)));
        return out;
    }
    std::string reply() {
        const ReplyBuffer& r = link.reply();
        return link.readReply() ? std::string(r.bytes.begin(), r.bytes.begin() + r.count) : "<none>";
    }

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    SerialLink link;
};

TEST_F(Serial, Raw8N1AtBothSpeedsAndNoOtherAndStaleInputDiscarded) {
    for (std::uint32_t speed : {kSlowSpeed, kFastSpeed}) {
        send("stale");
        EXPECT_TRUE(link.reopen(speed));
        const termios t = lineSettings();
        const speed_t expected = speed == kSlowSpeed ? B9600 : B115200;
        EXPECT_EQ(std::pair(cfgetospeed(&t), cfgetispeed(&t)), std::pair(expected, expected));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL),
                  tcflag_t(CS8 | CREAD | CLOCAL));
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);  // raw: no flow control,
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);                  // no line discipline,
        EXPECT_EQ(t.c_oflag & OPOST, 0u);                                            // no output processing
        link.setReadRule({2, 20});
        EXPECT_EQ(reply(), "<none>") << "input waiting before the open was not discarded";
    }
    EXPECT_FALSE(link.open('1', 57600));
    EXPECT_EQ(link.lastOpenError(), OpenError::Settings);
}

TEST_F(Serial, ANonTerminalIsRefusedAndComDigitsNameTheFirstDeviceFamilyThatExists) {
    // Opens, but is not a terminal (/dev/null would do, but other programs hold it).
    const std::string plainFile = ::testing::TempDir() + "serial-test-plain-file";
    ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
    link.setPortResolver([&](char) { return plainFile; });
    EXPECT_FALSE(link.open('1', kSlowSpeed));
    EXPECT_EQ(link.lastOpenError(), OpenError::Settings);
    ::unlink(plainFile.c_str());
    for (char digit = '1'; digit <= '4'; ++digit) {
        std::string expected = "/dev/ttyS" + std::string(1, static_cast<char>(digit - 1));
        for (const char* family : {"/dev/ttyACM", "/dev/ttyUSB"})
            if (::access((family + expected.substr(9)).c_str(), F_OK) == 0)
                expected = family + expected.substr(9);
        EXPECT_EQ(defaultPortPath(digit), expected);
    }
}

TEST_F(Serial, RepliesAreCappedAndTheRestPurged) {
    EXPECT_EQ(std::pair(link.readRule().attempts, link.readRule().windowMs), std::pair(200, 200));  // shipped
    std::string big(1500, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('A' + i % 26);
    send(big);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(reply(), big.substr(0, kReplyCapacity));
    link.setReadRule({1, 200});  // a silent window lasts that long and zeroes the reply
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reply(), "<none>") << "bytes past the cap were not purged";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_EQ(link.reply().bytes, ReplyBuffer{}.bytes);
}

// Bytes in the wake-up channel that no interrupt put there (once, a program started with its standard
// descriptors closed wrote its lines into it) neither end a read window early nor cost the reply.
TEST_F(Serial, AWakeUpNobodyAskedForNeitherEndsAWindowNorCostsTheReply) {
    const int lowestFree = ::open("/dev/null", O_RDONLY);  // the wake-up pipe takes it and a later one
    ::close(lowestFree);
    SerialLink other;
    int wakeWrite = lowestFree + 1;
    while (wakeWrite < lowestFree + 16 && (::fcntl(wakeWrite, F_GETFL) & O_ACCMODE) != O_WRONLY) ++wakeWrite;
    link.close();
    other.setPortResolver([this](char) { return std::string(::ptsname(master)); });
    ASSERT_TRUE(other.open('1', kSlowSpeed));
    other.setReadRule({3, 100});
    send("OK");
    ASSERT_EQ(::write(wakeWrite, "x", 1), 1);
    ASSERT_TRUE(other.readReply());
    EXPECT_EQ(other.reply().count, 2u);
    ASSERT_EQ(::write(wakeWrite, "x", 1), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(other.readReply());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms) << "a caller's loop of reads would spin";
}

TEST_F(Serial, FlagsInterruptAndAVanishedLine) {
    ActivityFlags& activityFlags = link.activity();
    activityFlags.txSeen = activityFlags.rxSeen = false;
    const std::uint8_t block[] = {'0', 'B', 0x00, 0x03, 0xFF};
    ASSERT_TRUE(link.write(block, sizeof block));
    EXPECT_FALSE(SerialLink().activity().txSeen) << "another link's lights show this one's traffic";
    EXPECT_EQ(drain(), std::vector<std::uint8_t>(block, block + sizeof block));
    link.setReadRule({2, 20});
    EXPECT_EQ(reply(), "<none>");
    EXPECT_TRUE(activityFlags.txSeen && !activityFlags.rxSeen) << "a failed read lit the receive light";
    link.setReadRule({100, 200});
    auto reader = std::async(std::launch::async, [this] { return link.readReply(); });
    std::this_thread::sleep_for(300ms);
    link.interrupt();  // wakes the waiting read at once; then nothing touches the line, and no read waits
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    activityFlags.txSeen = false;
    EXPECT_FALSE(link.write(block, 1) || activityFlags.txSeen);
    EXPECT_TRUE(drain().empty()) << "a byte went out after the interrupt";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reply(), "<none>");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "the read waited although interrupted";
    EXPECT_FALSE(link.open('1', kSlowSpeed)) << "an aborted session opened the port again";
    link.clearInterrupt();
    ASSERT_TRUE(link.open('1', kSlowSpeed));
    send("R");
    EXPECT_EQ(reply(), "R");
    EXPECT_TRUE(activityFlags.rxSeen);

    ::close(std::exchange(master, -1));
    EXPECT_FALSE(link.write(block, sizeof block));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(reply(), "<none>");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "a dead line used all its attempts";
    EXPECT_TRUE(link.lineLost() && link.lastOpenError() == OpenError::Missing);  // an unplugged adapter
    EXPECT_TRUE(link.reopen(kFastSpeed));
    EXPECT_FALSE(link.isOpen());
}

// The raise in a child process, under the limits a user may be given: the child gives up root, and with it
// CAP_SYS_NICE, unless the row keeps it. Whatever the limits, the thread stays in the normal class. Rows this
// machine cannot set up (raising a limit needs CAP_SYS_RESOURCE) are left out and named.
TEST(ThreadPriority, TakesTheTopOfTheNormalClassTheLimitsAllowForTheCallingThreadAlone) {
    constexpr int kKept = 100;  // the nice value the process had
    // root kept, rtprio and nice limits; the raise and the nice value of the raised thread
    const std::tuple<bool, rlim_t, rlim_t, PriorityRaise, int> rows[] = {
        {true, 0, 0, PriorityRaise::Nice, -20},     // the capability: the top of the class, no more
        {false, 99, 30, PriorityRaise::Nice, -10},  // an rtprio limit is not used
        {false, 0, 40, PriorityRaise::Nice, -20},
        {false, 0, 0, PriorityRaise::None, kKept}};
    for (const auto& [root, rtprio, nice, raise, niceValue] : rows) {
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit rt{rtprio, rtprio}, ni{nice, nice};
            if (::setrlimit(RLIMIT_RTPRIO, &rt) || ::setrlimit(RLIMIT_NICE, &ni) ||
                (root ? ::geteuid() != 0 : ::geteuid() == 0 && (::setgid(65534) || ::setuid(65534))))
                ::_exit(77);
            const int kept = ::getpriority(PRIO_PROCESS, 0);
            bool raised = false;
            std::thread([&] {
                raised = raiseThreadPriority() == raise && ::sched_getscheduler(0) == SCHED_OTHER &&
                         ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())) ==
                             (niceValue == kKept ? kept : niceValue);
            }).join();
            const bool alone =
                ::sched_getscheduler(0) == SCHED_OTHER && ::getpriority(PRIO_PROCESS, 0) == kept;
            ::_exit(raised && alone ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            std::printf("left out here: rtprio %d, nice %d\n", int(rtprio), int(nice));
        else
            EXPECT_EQ(status, 0) << "rtprio limit " << rtprio << ", nice limit " << nice << ", root " << root;
    }
}

}  // namespace
