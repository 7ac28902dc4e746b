// phone-updater-cli flash as a program against the simulated phone: exit codes, printed lines, signals.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/port_info.h"
#include "session_fixture.h"
#include "tests/support/named_child.h"
#include "tests/support/program_run.h"

namespace session_test {
namespace {

class CliFlash : public ::testing::Test {
  protected:
    void startPhone(const std::function<void(PhoneSimOptions&)>& tune = {}) {
        PhoneSimOptions o = phoneOptions();
        std::string error;
        ASSERT_TRUE(setExpectedImage(o, sample::flashImage(run), error)) << error;
        if (tune) tune(o);
        sim = std::make_unique<PhoneSim>(o);
        ASSERT_TRUE(sim->start(error)) << error;
    }
    std::unique_ptr<ProgramRun> flash(const std::string& port, const std::string& file,
                                      bool unprivileged = false) {
        // An ordinary user may not reach the build (below a home folder only its owner enters): a copy may.
        const std::string program = unprivileged ? dir.path() / "phone-updater-cli" : PHONE_UPDATER_CLI;
        if (unprivileged) std::filesystem::copy_file(PHONE_UPDATER_CLI, program);
        return std::make_unique<ProgramRun>(program, Lines{"flash", "--port", port, file}, dir.path(), "",
                                            unprivileged);
    }
    // The last lines the program printed, from the one that reads `first` on.
    static std::string from(const ProgramRun& cli, const std::string& first) {
        return cli.err.substr(cli.err.rfind(first));
    }

    sample::TempDir dir;
    const sample::Bytes run = sample::image(30);
    const std::string image = dir.write("image.sbin", run);
    std::unique_ptr<PhoneSim> sim;
};

TEST_F(CliFlash, SuccessPrintsEachStatusAndFieldOnceAndExits0) {
    startPhone();
    ProgramRun cli(PHONE_UPDATER_CLI, {"flash", "--port=" + sim->slavePath(), image});
    EXPECT_EQ(cli.finish(), 0) << cli.err;
    EXPECT_EQ(
        cli.err,
        "Link: 9600\nPower ON the phone ...\nPhone: T1x detected\nEntering boot mode ...\n"
        "Waiting for handshake ...\nSending boot appliation ...\nLoader: BOOT CXC132611\nChanging baud rate "
        "...\n"
        "Link: 115200\nSending service application ...\nLoader: SAPP CXC1320633\nReading IMEI ...\n"
        "IMEI: 490154-20-323751-8\nErasing flash ...\nBlank checking ...\nUpdating software ...\n"
        "Formating EEPROM ...\nCRC checking ...\nLink: CLOSED\nReady\nSuccess: Software updated completed\n");
    ASSERT_TRUE(sim->waitForEnd(5s));
    EXPECT_EQ(sim->verdict().outcome, SimOutcome::Success) << sim->verdict().text();

    startPhone([](PhoneSimOptions& o) {
        o.model = PhoneKind::A1018s, o.replyFaults[SimStep::Imei] = ReplyFault::Wrong;
    });
    auto wrong = flash(sim->slavePath(), image);
    EXPECT_EQ(wrong->finish(), 2) << wrong->err;
    EXPECT_EQ(from(*wrong, "Reading IMEI"),
              "Reading IMEI ...\nError: Wrong responce\nHint: " + kHint + "\nLink: CLOSED\nReady\n");
}

TEST_F(CliFlash, APortThatCannotBeOpenedExits1AndSaysWhy) {
    startPhone();
    SerialLink holder;
    holder.setPortResolver([this](char) { return sim->slavePath(); });
    ASSERT_TRUE(holder.open('1', kSlowSpeed));
    const std::string locked = dir.write("locked-port", {});
    // As root the child runs as nobody, so the device can belong to a group as a real one does.
    const group* dialout = ::getgrnam("dialout");
    const bool grouped = ::geteuid() == 0 && dialout && ::chown(locked.c_str(), 0, dialout->gr_gid) == 0;
    ::chmod(locked.c_str(), grouped ? 0660 : 0);
    ::chmod(dir.path().c_str(), 0755);
    const std::tuple<std::string, std::string, bool> rows[] = {
        {dir.path() / "no-such-port", ": no such device", false},
        {sim->slavePath(), ": the port is held by cli_flash_test (pid " + std::to_string(::getpid()) + ")",
         false},
        {locked,
         grouped
             ? ": permission denied: add your user to the dialout group (sudo adduser $USER dialout), then "
               "log in again"
             : ": permission denied",
         true}};
    for (const auto& [port, why, unprivileged] : rows) {
        auto cli = flash(port, image, unprivileged);
        EXPECT_EQ(cli->finish(), 1);
        EXPECT_EQ(cli->err, "Error: Port is busy\nLink: CLOSED\nReady\n" + port + why + "\n");
    }
}

TEST_F(CliFlash, AConsoleAnotherUpdateOrOnePortTwiceIsRefusedWithWhatItIs) {
    startPhone([](PhoneSimOptions& o) { o.powerOnDelay = std::chrono::hours(1); });
    const std::string port = sim->slavePath(), busy = "Error: Port is busy\nLink: CLOSED\nReady\n" + port;
    {
        NamedChild prompt(port, "agetty", true);
        for (int wait = 0; wait < 500 && describePort(port).state != PortState::Console; ++wait)
            ::usleep(10000);
        auto console = flash(port, image);
        EXPECT_EQ(console->finish(), 1);
        EXPECT_EQ(console->err,
                  busy + ": system console: a login prompt, agetty (pid " + std::to_string(prompt.pid) +
                      "), runs on this port, so no update ever uses it: connect the phone through "
                      "a USB serial adapter\n");
    }
    auto first = flash(port, image);
    ASSERT_TRUE(first->waitForLine("Power ON the phone ...")) << first->err;
    auto second = flash(port, image);
    EXPECT_EQ(second->finish(), 1);
    EXPECT_EQ(second->err, busy + ": another phone-updater-cli (pid " + std::to_string(first->pid()) +
                               ") is updating on it\n");
    first->signal(SIGINT);
    EXPECT_EQ(first->finish(), 130);
    // The same device under a second name is one port given twice, refused before anything is opened.
    const std::string link = dir.path() / "phone";
    std::filesystem::create_symlink(port, link);
    for (const Lines& ports : {Lines{link, port}, Lines{port, "./phone"}}) {
        ProgramRun twice(PHONE_UPDATER_CLI, {"flash", "--port", ports[0], "--port", ports[1], image},
                         dir.path());
        EXPECT_EQ(twice.finish(5s), 64);  // refused at once, or it would wait for a phone
        EXPECT_EQ(
            twice.err.substr(0, twice.err.find('\n')),
            "phone-updater-cli: --port " + ports[0] + " and --port " + ports[1] + " are the same device");
    }
}

TEST_F(CliFlash, AnImageThatDoesNotLoadOpensNothingAndExitsWithACodeOfItsOwn) {
    startPhone();
    const std::tuple<std::string, int, std::string> rows[] = {
        {dir.write("text.bin", sample::bytesOf("hello")), 65,
         "Unrecognized flash image format\n: the first bytes, 68 65 6C 6C (\"hell\"), are not the start of "
         "an SBIN, SHEX or EMMA image"},
        {dir.write("empty.sbin", {}), 65, "Unrecognized flash image format\n: the file is empty"},
        {dir.path() / "missing.sbin", 66, "Unable to open flash image\n: no such file or directory"}};
    for (const auto& [file, code, message] : rows) {
        auto unreadable = flash(sim->slavePath(), file);
        EXPECT_EQ(unreadable->finish(), code);
        std::string lines = message + "\n";
        EXPECT_EQ(unreadable->err, lines.insert(lines.find('\n') + 1, file));
    }
    EXPECT_EQ(sim->step(), SimStep::WaitingForUpdater);  // the port was never opened
}

TEST_F(CliFlash, SignalsAfterDetectionAbortWithTheHint) {
    for (int signal : {SIGINT, SIGTERM}) {
        startPhone([](PhoneSimOptions& o) { o.replyFaults[SimStep::Imei] = ReplyFault::Missing; });
        auto late = flash(sim->slavePath(), image);
        ASSERT_TRUE(late->waitForLine("Reading IMEI ...")) << late->err;
        std::this_thread::sleep_for(100ms);
        const std::size_t received = sim->bytesReceived();
        late->signal(signal);
        EXPECT_EQ(late->finish(), 128 + signal);
        EXPECT_EQ(from(*late, "Reading IMEI"),
                  "Reading IMEI ...\nAbort: " + kHint + "\nLink: CLOSED\nReady\n");
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(sim->bytesReceived(), received) << "bytes reached the phone after the abort";
    }
}

// A terminal that stops taking output (Ctrl-S, or XOFF from its reader) holds up neither Ctrl-C nor the end
// of the run, and nothing reaches the phone after the signal.
TEST_F(CliFlash, AStoppedTerminalHoldsUpNeitherCtrlCNorTheEnd) {
    startPhone([](PhoneSimOptions& o) { o.emulateLineRate = true, o.haveImage = false; });
    const std::string longer = dir.write("long.sbin", sample::image(3000));  // ~10 s of frames
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    ProgramRun cli(PHONE_UPDATER_CLI, {"flash", "--port", sim->slavePath(), longer}, dir.path(),
                   "exec 2>" + std::string(::ptsname(terminal)) + ";");
    ASSERT_TRUE(sim->waitForStep(SimStep::Frames, 30s));
    ASSERT_EQ(::write(terminal, "\x13", 1), 1);  // XOFF: the terminal's output stops
    std::this_thread::sleep_for(1s);             // the progress bar is drawn into it meanwhile
    const std::size_t atSignal = sim->bytesReceived();
    cli.signal(SIGINT);
    EXPECT_EQ(cli.finish(10s), 130);
    std::this_thread::sleep_for(300ms);
    // What was handed to the line before the signal still drains from the pseudo-terminal's buffer, with up to
    // half a second of line time while a busy machine delivers the signal; a stream going on adds 11.5 KB/s.
    EXPECT_LE(sim->bytesReceived() - atSignal, 4096u + 5760u);
    ::close(terminal);
}

TEST_F(CliFlash, ASignalAtAnyMomentEndsItPromptlyWith130Or143) {
    startPhone([](PhoneSimOptions& o) { o.powerOnDelay = std::chrono::hours(1), o.repeat = true; });
    for (int round = 0; round < 30; ++round) {  // from before the program runs to the power-on wait
        const int signal = round % 2 ? SIGTERM : SIGINT;
        auto cli = flash(sim->slavePath(), image);
        std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
        cli->signal(signal);
        EXPECT_EQ(cli->finish(5s), 128 + signal) << "signal " << 300 * round << " us after the start";
    }
}

}  // namespace
}  // namespace session_test
