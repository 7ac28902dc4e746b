// phone-updater-cli flash, run as a program against the simulated phone: exit codes and the printed lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "test_image.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kHint = "You will have to remove the battery and put it back before restarting";

// The CLI as a child process; its stderr is read line by line as it comes.
class CliRun {
  public:
    // `unprivileged`: when the tests run as root, the child drops to an ordinary user first.
    explicit CliRun(const std::vector<std::string>& args, bool unprivileged = false) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
            ::dup2(pipeFds[1], STDERR_FILENO);
            int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, STDOUT_FILENO);
            ::close(pipeFds[0]);
            std::vector<char*> argv{const_cast<char*>(PHONE_UPDATER_CLI)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(PHONE_UPDATER_CLI, argv.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        err_ = pipeFds[0];
    }
    ~CliRun() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (err_ >= 0) ::close(err_);
    }

    // Reads stderr until a line equal to `line` has arrived (true) or the time is up / the child closed it.
    bool waitForLine(const std::string& line, std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            for (const auto& l : lines())
                if (l == line) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
        }
    }
    // Waits for the exit and returns the exit code (128 + signal if killed by one).
    int finish() {
        while (readSome(20000)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void signal(int sig) { ::kill(pid_, sig); }
    Lines lines() const {
        Lines out;
        std::size_t start = 0;
        for (std::size_t nl; (nl = text_.find('\n', start)) != std::string::npos; start = nl + 1)
            out.push_back(text_.substr(start, nl - start));
        return out;
    }
    const std::string& text() const { return text_; }

  private:
    bool readSome(int timeoutMs) {
        pollfd p{err_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(err_, buf, sizeof buf);
        if (n <= 0) return false;
        text_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int err_ = -1;
    bool reaped_ = false;
    std::string text_;
};

class CliFlash : public ::testing::Test {
  protected:
    void SetUp() override {
        char dirTemplate[] = "/tmp/cli-flash-test.XXXXXX";
        ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
        dir_ = dirTemplate;
        imagePath = dir_ + "/image.sbin";
        image = test_image::withFrames(30);
        writeFile(imagePath, std::string(image.data.begin(), image.data.begin() + image.size));
    }
    void TearDown() override {
        sim.reset();
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)std::system(cmd.c_str());
    }
    void writeFile(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    void startPhone(PhoneKind model, void (*tune)(PhoneSimOptions&) = nullptr) {
        PhoneSimOptions o;
        o.model = model;
        o.emulateLineRate = false;
        o.powerOnDelay = 20ms;
        std::string error;
        ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
        if (tune) tune(o);
        sim = std::make_unique<PhoneSim>(o);
        ASSERT_TRUE(sim->start(error)) << error;
    }

    std::string dir_;
    std::string imagePath;
    FlashImage image;
    std::unique_ptr<PhoneSim> sim;
};

TEST_F(CliFlash, SuccessPrintsEachStatusAndFieldOnceAndExits0) {
    startPhone(PhoneKind::T1x);
    CliRun cli({"flash", "--port", sim->slavePath(), imagePath});
    EXPECT_EQ(cli.finish(), 0) << cli.text();
    EXPECT_EQ(cli.lines(), (Lines{"Link: 9600",
                                  "Power ON the phone ...",
                                  "Phone: T1x detected",
                                  "Entering boot mode ...",
                                  "Waiting for handshake ...",
                                  "Sending boot appliation ...",
                                  "Loader: BOOT CXC132611",
                                  "Changing baud rate ...",
                                  "Link: 115200",
                                  "Sending service application ...",
                                  "Loader: SAPP CXC1320633",
                                  "Reading IMEI ...",
                                  "IMEI: 490154-20-323751-8",
                                  "Erasing flash ...",
                                  "Blank checking ...",
                                  "Updating software ...",
                                  "Formating EEPROM ...",
                                  "CRC checking ...",
                                  "Link: CLOSED",
                                  "Ready",
                                  "Success: Software updated completed"}));
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();
}

TEST_F(CliFlash, AWrongReplyExits2WithTheMessageAndTheHint) {
    startPhone(PhoneKind::A1018s,
               [](PhoneSimOptions& o) { o.replyFaults[SimStep::Imei] = ReplyFault::Wrong; });
    CliRun cli({"flash", "--port=" + sim->slavePath(), imagePath});
    EXPECT_EQ(cli.finish(), 2) << cli.text();
    const Lines lines = cli.lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(Lines(lines.end() - 5, lines.end()), (Lines{"Reading IMEI ...", "Error: Wrong responce",
                                                          "Hint: " + kHint, "Link: CLOSED", "Ready"}));
}

TEST_F(CliFlash, AMissingDeviceExits1AndSaysWhy) {
    const std::string missing = dir_ + "/no-such-port";
    CliRun cli({"flash", "--port", missing, imagePath});
    EXPECT_EQ(cli.finish(), 1);
    EXPECT_EQ(cli.lines(),
              (Lines{"Error: Port is busy", "Link: CLOSED", "Ready", missing + ": no such device"}));
}

TEST_F(CliFlash, APortHeldByAnotherProgramExits1AndSaysWhy) {
    startPhone(PhoneKind::T1x);
    SerialLink holder;
    holder.setPortResolver([path = sim->slavePath()](char) { return path; });
    ASSERT_TRUE(holder.open('1', kSlowSpeed));
    CliRun cli({"flash", "--port", sim->slavePath(), imagePath});
    EXPECT_EQ(cli.finish(), 1);
    const Lines lines = cli.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Error: Port is busy");
    EXPECT_EQ(lines.back(), sim->slavePath() + ": the port is held by another program");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Hint: " + kHint), 0);
}

TEST_F(CliFlash, PermissionDeniedSuggestsTheDialoutGroup) {
    const std::string locked = dir_ + "/locked-port";
    writeFile(locked, "");
    ::chmod(locked.c_str(), 0);
    ::chmod(dir_.c_str(), 0755);
    ::chmod(imagePath.c_str(), 0644);
    CliRun cli({"flash", "--port", locked, imagePath}, /*unprivileged=*/true);
    EXPECT_EQ(cli.finish(), 1);
    ASSERT_FALSE(cli.lines().empty());
    EXPECT_NE(cli.lines().back().find("permission denied"), std::string::npos) << cli.text();
    EXPECT_NE(cli.lines().back().find("dialout"), std::string::npos) << cli.text();
}

TEST_F(CliFlash, AComPortNameUsesTheSystemsDeviceForIt) {
    CliRun cli({"flash", "--port", "COM4", imagePath});
    // No phone answers on this machine's COM4 device: either it cannot be opened (the usual case in a test
    // machine) or the CLI waits for a power-on byte, and is then stopped.
    if (!cli.waitForLine("Ready", 5s)) {
        cli.signal(SIGINT);
        EXPECT_EQ(cli.finish(), 130);
        GTEST_SKIP() << "a usable COM4 device exists here: " << defaultPortPath('4');
    }
    EXPECT_EQ(cli.finish(), 1);
    ASSERT_FALSE(cli.lines().empty());
    EXPECT_EQ(cli.lines().back().rfind(defaultPortPath('4') + ": ", 0), 0u) << cli.text();
}

TEST_F(CliFlash, AnImageThatDoesNotLoadOpensNothing) {
    startPhone(PhoneKind::T1x);
    writeFile(dir_ + "/text.bin", "hello");
    writeFile(dir_ + "/corrupt.sbin", std::string("S0\x05\x00\x00", 5));
    const struct {
        std::string file;
        int code;
        const char* message;
    } cases[] = {{dir_ + "/missing.sbin", 2, "Unable to open flash image"},
                 {dir_ + "/text.bin", 3, "Unrecognized flash image format"},
                 {dir_ + "/corrupt.sbin", 4, "File is corrupt or unknown format"}};
    for (const auto& c : cases) {
        CliRun cli({"flash", "--port", sim->slavePath(), c.file});
        EXPECT_EQ(cli.finish(), c.code) << c.file;
        EXPECT_EQ(cli.lines(), Lines{c.message});
    }
    EXPECT_EQ(sim->step(), SimStep::WaitingForUpdater);  // the port was never opened
}

TEST_F(CliFlash, BadCommandLinesExit64) {
    for (const auto& args : {std::vector<std::string>{"flash", imagePath},
                             {"flash", "--port", "COM1"},
                             {"flash", "--port"},
                             {"flash", "--bogus", "--port", "COM1", imagePath},
                             {"flash", "--port", "COM1", imagePath, imagePath}}) {
        CliRun cli(args);
        EXPECT_EQ(cli.finish(), 64) << cli.text();
    }
}

TEST_F(CliFlash, SigintBeforeDetectionAbortsWithoutHintAndExits130) {
    startPhone(PhoneKind::T1x, [](PhoneSimOptions& o) { o.powerOnDelay = std::chrono::hours(1); });
    CliRun cli({"flash", "--port", sim->slavePath(), imagePath});
    ASSERT_TRUE(cli.waitForLine("Power ON the phone ...")) << cli.text();
    cli.signal(SIGINT);
    EXPECT_EQ(cli.finish(), 130);
    EXPECT_EQ(cli.lines(), (Lines{"Link: 9600", "Power ON the phone ...", "Link: CLOSED", "Ready"}));
    EXPECT_EQ(sim->bytesReceived(), 0u);
}

TEST_F(CliFlash, SigtermAfterDetectionShowsTheAbortHintAndExits143) {
    startPhone(PhoneKind::T1x,
               [](PhoneSimOptions& o) { o.replyFaults[SimStep::Imei] = ReplyFault::Missing; });
    CliRun cli({"flash", "--port", sim->slavePath(), imagePath});
    ASSERT_TRUE(cli.waitForLine("Reading IMEI ...")) << cli.text();
    std::this_thread::sleep_for(100ms);
    const std::size_t received = sim->bytesReceived();
    cli.signal(SIGTERM);
    EXPECT_EQ(cli.finish(), 143);
    const Lines lines = cli.lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{"Reading IMEI ...", "Abort: " + kHint, "Link: CLOSED", "Ready"}));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sim->bytesReceived(), received);
}

}  // namespace
