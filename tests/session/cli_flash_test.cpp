// phone-updater-cli flash as a program against the simulated phone: exit codes, printed lines, signals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "serial/serial_link.h"
#include "tests/support/program_run.h"
#include "tests/support/sample_image.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kHint = "You will have to remove the battery and put it back before restarting";

class CliFlash : public ::testing::Test {
  protected:
    void startPhone(void (*tune)(PhoneSimOptions&) = nullptr) {
        PhoneSimOptions o;
        o.emulateLineRate = false;
        o.powerOnDelay = 20ms;
        std::string error;
        ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
        if (tune) tune(o);
        sim = std::make_unique<PhoneSim>(o);
        ASSERT_TRUE(sim->start(error)) << error;
    }
    std::unique_ptr<ProgramRun> flash(const std::string& port, const std::string& file = "",
                                      bool unprivileged = false) {
        return std::make_unique<ProgramRun>(
            PHONE_UPDATER_CLI,
            std::vector<std::string>{"flash", "--port", port, file.empty() ? imagePath : file}, ".", "",
            unprivileged);
    }

    sample::TempDir dir;
    const sample::Bytes run = sample::image(30);
    const std::string imagePath = dir.write("image.sbin", run);
    const FlashImage image = sample::flashImage(run);
    std::unique_ptr<PhoneSim> sim;
};

TEST_F(CliFlash, SuccessPrintsEachStatusAndFieldOnceAndExits0) {
    startPhone();
    ProgramRun cli(PHONE_UPDATER_CLI, {"flash", "--port=" + sim->slavePath(), imagePath});
    EXPECT_EQ(cli.finish(), 0) << cli.err;
    EXPECT_EQ(cli.errLines(), (Lines{"Link: 9600",
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
    startPhone([](PhoneSimOptions& o) {
        o.model = PhoneKind::A1018s, o.replyFaults[SimStep::Imei] = ReplyFault::Wrong;
    });
    auto cli = flash(sim->slavePath());
    EXPECT_EQ(cli->finish(), 2) << cli->err;
    const Lines lines = cli->errLines();
    EXPECT_EQ(
        Lines(lines.end() - std::min<std::size_t>(5, lines.size()), lines.end()),
        (Lines{"Reading IMEI ...", "Error: Wrong responce", "Hint: " + kHint, "Link: CLOSED", "Ready"}));
}

TEST_F(CliFlash, APortThatCannotBeOpenedExits1AndSaysWhy) {
    startPhone();
    SerialLink holder;
    holder.setPortResolver([this](char) { return sim->slavePath(); });
    ASSERT_TRUE(holder.open('1', kSlowSpeed));
    const std::string locked = dir.write("locked-port", {});
    ::chmod(locked.c_str(), 0);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(imagePath.c_str(), 0644);
    const struct {
        std::string port;
        std::string why;
        bool unprivileged = false;
    } rows[] = {{dir.path() / "no-such-port", ": no such device"},
                {sim->slavePath(), ": the port is held by another program"},
                {locked,
                 ": permission denied (add your user to the dialout group: sudo usermod -aG dialout $USER, "
                 "then log in again)",
                 true}};
    for (const auto& row : rows) {
        auto cli = flash(row.port, "", row.unprivileged);
        EXPECT_EQ(cli->finish(), 1);
        EXPECT_EQ(cli->errLines(),
                  (Lines{"Error: Port is busy", "Link: CLOSED", "Ready", row.port + row.why}));
    }
    // COM4 names this system's device for it; no phone answers there (nor may the test wait for one).
    auto com4 = flash("COM4");
    if (!com4->waitForLine("Ready", 5s)) {
        com4->signal(SIGINT);
        GTEST_SKIP() << "a usable COM4 device exists here: " << defaultPortPath('4');
    }
    EXPECT_EQ(com4->finish(), 1);
    EXPECT_EQ(com4->errLines().back().rfind(defaultPortPath('4') + ": ", 0), 0u) << com4->err;
}

TEST_F(CliFlash, ImagesThatDoNotLoadAndBadCommandLinesOpenNothing) {
    startPhone();
    const struct {
        std::string file;
        int code;
        std::string message;
    } rows[] = {{dir.path() / "missing.sbin", 2, "Unable to open flash image"},
                {dir.write("text.bin", sample::bytesOf("hello")), 3, "Unrecognized flash image format"},
                {dir.write("corrupt.sbin", {'S', '0', 5, 0, 0}), 4, "File is corrupt or unknown format"}};
    for (const auto& row : rows) {
        auto cli = flash(sim->slavePath(), row.file);
        EXPECT_EQ(cli->finish(), row.code) << row.file;
        EXPECT_EQ(cli->errLines(), Lines{row.message});
    }
    for (const Lines& args :
         {Lines{"flash", imagePath}, Lines{"flash", "--port", "COM1"}, Lines{"flash", "--port"},
          Lines{"flash", "--bogus", "--port", "COM1", imagePath},
          Lines{"flash", "--port", "COM1", imagePath, imagePath}}) {
        ProgramRun cli(PHONE_UPDATER_CLI, args);
        EXPECT_EQ(cli.finish(), 64) << cli.err;
    }
    EXPECT_EQ(sim->step(), SimStep::WaitingForUpdater);  // the port was never opened
}

TEST_F(CliFlash, SignalsAbortWithTheHintOnlyAfterDetection) {
    startPhone([](PhoneSimOptions& o) { o.powerOnDelay = std::chrono::hours(1); });
    auto beforeDetection = flash(sim->slavePath());
    ASSERT_TRUE(beforeDetection->waitForLine("Power ON the phone ...")) << beforeDetection->err;
    beforeDetection->signal(SIGINT);
    EXPECT_EQ(beforeDetection->finish(), 130);
    EXPECT_EQ(beforeDetection->errLines(),
              (Lines{"Link: 9600", "Power ON the phone ...", "Link: CLOSED", "Ready"}));
    EXPECT_EQ(sim->bytesReceived(), 0u);

    startPhone([](PhoneSimOptions& o) { o.replyFaults[SimStep::Imei] = ReplyFault::Missing; });
    auto cli = flash(sim->slavePath());
    ASSERT_TRUE(cli->waitForLine("Reading IMEI ...")) << cli->err;
    std::this_thread::sleep_for(100ms);
    const std::size_t received = sim->bytesReceived();
    cli->signal(SIGTERM);
    EXPECT_EQ(cli->finish(), 143);
    const Lines lines = cli->errLines();
    EXPECT_EQ(Lines(lines.end() - std::min<std::size_t>(4, lines.size()), lines.end()),
              (Lines{"Reading IMEI ...", "Abort: " + kHint, "Link: CLOSED", "Ready"}));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sim->bytesReceived(), received);
}

}  // namespace
