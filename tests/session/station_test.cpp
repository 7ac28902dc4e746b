// phone-updater-cli flash against simulated phones: a lone port's lines and refusals, several ports at once,
// a station (--repeat): what each phone receives, exit codes, signals, and the records of --log and --events
// read back field by field. The station's terminal display: each port's line at 80 columns, and a whole
// station on a real pseudo-terminal of 80 x 24 read back as a screen after each event.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "serial/port_info.h"
#include "station/station.h"
#include "station/station_display.h"
#include "tests/support/named_child.h"
#include "tests/support/program_run.h"
#include "tests/support/records.h"
#include "tests/support/sample_image.h"
#include "tests/support/screen.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using namespace std::chrono_literals;
const std::string kHint = "You will have to remove the battery and put it back before restarting";

// `pairs` is "key=value|key=value...".
void expectFields(const Record& record, const std::string& pairs) {
    for (const std::string& pair : linesOf(pairs, '|')) {
        const std::string key = pair.substr(0, pair.find('='));
        EXPECT_EQ(record.count(key) ? record.at(key) : "(none)", pair.substr(key.size() + 1)) << key;
    }
}

std::string imeiOf(int phone) {
    return "49015420323751" + std::to_string(phone % 10);
}

// The lines one lone session prints, for the phone with `imei`.
Lines sessionLines(const std::string& imei) {
    const std::string shown =
        imei.substr(0, 6) + "-" + imei.substr(6, 2) + "-" + imei.substr(8, 6) + "-" + imei[14];
    return linesOf(
        "Link: 9600|Power ON the phone ...|Phone: T1x detected|Entering boot mode ...|"
        "Waiting for handshake ...|Sending boot appliation ...|Loader: BOOT CXC132611|"
        "Changing baud rate ...|Link: 115200|Sending service application ...|Loader: SAPP CXC1320633|"
        "Reading IMEI ...|IMEI: " +
            shown +
            "|Erasing flash ...|Blank checking ...|Updating software ...|"
            "Formating EEPROM ...|CRC checking ...|Link: CLOSED|Ready|Success: Software updated completed",
        '|');
}

class Station : public ::testing::Test {
  protected:
    void SetUp() override {
        useImage(sample::image(400, "HDR", 252));  // frames of 258 bytes, ~100 KB: more than a pty buffers
    }
    void useImage(const sample::Bytes& run) {
        image = sample::flashImage(run);
        imagePath = temp.write("image.sbin", run);
    }
    // Phone k (from 1) reports imeiOf(k) unless `tune` says otherwise.
    void startPhones(int count, const std::function<void(int, PhoneSimOptions&)>& tune = {}) {
        for (int k = 1; k <= count; ++k) {
            PhoneSimOptions o;
            o.emulateLineRate = false;
            o.powerOnDelay = 20ms;
            // The acknowledge and the prompt must fall in different read windows even when the machine
            // leaves a session waiting for a second (two cores, several tests with several phones each).
            o.eraseTime = 2000ms;
            o.imei = imeiOf(k);
            if (tune) tune(k, o);
            std::string error;
            ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
            sims.push_back(std::make_unique<PhoneSim>(o));
            ASSERT_TRUE(sims.back()->start(error)) << error;
            ports.push_back(o.linkPath.empty() ? sims.back()->slavePath() : o.linkPath);
        }
    }
    Lines flashArgs(Lines extra = {}) const {
        Lines args{"flash", "--log", logPath};
        for (const std::string& port : ports) args.insert(args.end(), {"--port", port});
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(imagePath);
        return args;
    }
    // flash on one port, without a log.
    std::unique_ptr<ProgramRun> flashOne(const std::string& port, const std::string& file) const {
        return std::make_unique<ProgramRun>(PHONE_UPDATER_CLI, Lines{"flash", "--port", port, file}, dir);
    }
    std::vector<Record> logRecords() const {
        std::vector<Record> records;
        for (const std::string& line : linesOf(temp.read(logPath))) records.push_back(parseRecord(line));
        return records;
    }
    // The record of the session on `port`, with nothing missing from its shape.
    static Record recordFor(const std::vector<Record>& records, const std::string& port) {
        for (const Record& r : records)
            if (r.count("port") && r.at("port") == port) {
                EXPECT_EQ(r.size(), 24u);
                return r;
            }
        ADD_FAILURE() << "no record for " << port;
        return {};
    }
    bool waitForLogLines(std::size_t count) const {
        for (auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;
             std::this_thread::sleep_for(20ms))
            if (linesOf(temp.read(logPath)).size() >= count) return true;
        return false;
    }
    // Waits until no phone takes in any more bytes; returns what each received.
    std::vector<std::size_t> receivedOnceQuiet() const {
        std::vector<std::size_t> before, now;
        do {
            before = std::exchange(now, {});
            std::this_thread::sleep_for(300ms);
            for (const auto& sim : sims) now.push_back(sim->bytesReceived());
        } while (now != before);
        return now;
    }

    sample::TempDir temp;
    const std::string dir = temp.path().string(), logPath = dir + "/log.jsonl";
    std::string imagePath;
    FlashImage image;
    std::vector<std::unique_ptr<PhoneSim>> sims;
    Lines ports;
};

// One port, once: the lines of a lone session. (A failure's and an Abort's lines: the session tests show the
// boxes in order, and the lone port's Abort is a StopSignal row.)
TEST_F(Station, ALonePortPrintsEachStatusAndFieldOnce) {
    useImage(sample::image(30));
    startPhones(1);
    ProgramRun cli(PHONE_UPDATER_CLI, {"flash", "--port=" + ports[0], imagePath});
    EXPECT_EQ(cli.finish(), 0) << cli.err;
    EXPECT_EQ(linesOf(cli.err), sessionLines(imeiOf(1)));
    ASSERT_TRUE(sims[0]->waitForEnd(5s));
    EXPECT_EQ(sims[0]->verdict().outcome, SimOutcome::Success) << sims[0]->verdict().text();
}

// A port that cannot be opened, and why: missing, held by this program, not the user's, a console, another
// update on it. The same device under a second name is one port given twice, refused before any opens.
TEST_F(Station, ALonePortThatCannotBeOpenedExits1AndSaysWhy) {
    startPhones(3, [](int, PhoneSimOptions& o) { o.powerOnDelay = std::chrono::hours(1); });
    NamedChild prompt(ports[1], "agetty", true);  // before any device is open here: it would inherit it
    SerialLink holder;
    holder.setPortResolver([this](char) { return ports[0]; });
    ASSERT_TRUE(holder.open('1', kSlowSpeed));
    auto first = flashOne(ports[2], imagePath);
    ASSERT_TRUE(first->waitForLine("Power ON the phone ...")) << first->err;
    for (int wait = 0; wait < 500 && describePort(ports[1]).state != PortState::Console; ++wait)
        ::usleep(10000);
    const std::string locked = temp.write("locked-port", {});
    // As root the child runs as nobody, so the device can belong to a group as a real one does. An ordinary
    // user may not reach the build (below a home folder only its owner enters): a copy may.
    const group* dialout = ::getgrnam("dialout");
    const bool grouped = ::geteuid() == 0 && dialout && ::chown(locked.c_str(), 0, dialout->gr_gid) == 0;
    ::chmod(locked.c_str(), grouped ? 0660 : 0);
    ::chmod(dir.c_str(), 0755);
    std::filesystem::copy_file(PHONE_UPDATER_CLI, dir + "/phone-updater-cli");
    const std::tuple<std::string, std::string, bool> rows[] = {
        {dir + "/no-such-port", ": no such device", false},
        {ports[0], ": the port is held by station_test (pid " + std::to_string(::getpid()) + ")", false},
        {locked,
         grouped
             ? ": permission denied: add your user to the dialout group (sudo adduser $USER dialout), then "
               "log in again"
             : ": permission denied",
         true},
        {ports[1],
         ": system console: a login prompt, agetty (pid " + std::to_string(prompt.pid) +
             "), runs on this port, so no update ever uses it: connect the phone through a USB serial "
             "adapter",
         false},
        {ports[2], ": another phone-updater-cli (pid " + std::to_string(first->pid()) + ") is updating on it",
         false}};
    for (const auto& [port, why, unprivileged] : rows) {
        ProgramRun cli(unprivileged ? dir + "/phone-updater-cli" : PHONE_UPDATER_CLI,
                       {"flash", "--port", port, imagePath}, dir, "", unprivileged);
        EXPECT_EQ(cli.finish(), 1);
        EXPECT_EQ(cli.err, "Error: Port is busy\nLink: CLOSED\nReady\n" + port + why + "\n");
    }
    first->signal(SIGINT);
    EXPECT_EQ(first->finish(), 130);
    std::filesystem::create_symlink(ports[2], dir + "/phone");
    for (const Lines& twice : {Lines{dir + "/phone", ports[2]}, Lines{ports[2], "./phone"}}) {
        ProgramRun cli(PHONE_UPDATER_CLI, {"flash", "--port", twice[0], "--port", twice[1], imagePath}, dir);
        EXPECT_EQ(cli.finish(5s), 64);  // refused at once, or it would wait for a phone
        EXPECT_EQ(
            cli.err.substr(0, cli.err.find('\n')),
            "phone-updater-cli: --port " + twice[0] + " and --port " + twice[1] + " are the same device");
    }
}

// An image that does not load, or a log that cannot be appended to, stops the run before any port opens, with
// an exit code of its own.
TEST_F(Station, AnImageOrALogThatCannotBeUsedStopsTheRunBeforeAnyPortOpens) {
    startPhones(1);
    const std::string text = temp.write("text.bin", sample::bytesOf("hello")),
                      missing = dir + "/missing.sbin";
    const std::tuple<Lines, int, std::string> rows[] = {
        {{text},
         65,
         "Unrecognized flash image format\n" + text +
             ": the first bytes, 68 65 6C 6C (\"hell\"), are not the start of an SBIN, SHEX or EMMA image\n"},
        {{missing}, 66, "Unable to open flash image\n" + missing + ": no such file or directory\n"},
        {{"--log", dir + "/missing/log", imagePath},
         73,
         "phone-updater-cli: cannot append to " + dir + "/missing/log: No such file or directory\n"}};
    for (const auto& [args, code, err] : rows) {
        Lines all{"flash", "--port", ports[0]};
        all.insert(all.end(), args.begin(), args.end());
        ProgramRun cli(PHONE_UPDATER_CLI, all, dir);
        EXPECT_EQ(cli.finish(), code);
        EXPECT_EQ(cli.err, err);
    }
    EXPECT_EQ(sims[0]->step(), SimStep::WaitingForUpdater);  // the port was never opened
}

TEST_F(Station, ASignalAtAnyMomentEndsALonePortPromptlyWith130Or143) {
    startPhones(1, [](int, PhoneSimOptions& o) { o.powerOnDelay = std::chrono::hours(1), o.repeat = true; });
    for (int round = 0; round < 30; ++round) {  // from before the program runs to the power-on wait
        const int signal = round % 2 ? SIGTERM : SIGINT;
        auto cli = flashOne(ports[0], imagePath);
        std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
        cli->signal(signal);
        EXPECT_EQ(cli->finish(5s), 128 + signal) << "signal " << 300 * round << " us after the start";
    }
}

// Ports side by side, a phone on each. A wrong reply in each state that checks one ends its own session only:
// the end record names the step and the bytes that came instead, and the trace shows them arrive. The phones
// with no fault get the whole session, their lines, their record and an event for each state. The run exits
// with the first failure's code.
TEST_F(Station, EachPortRunsItsOwnSessionToItsOwnRecord) {
    struct Fault {
        SimStep step;
        const char* failedStep;
        int code;
    };
    const Fault faults[] = {
        {SimStep::BootParameters, "boot-mode", 2},    {SimStep::SecondZeroBlock, "handshake", 2},
        {SimStep::BootApplication, "boot-loader", 2}, {SimStep::WakeUp, "speed-change", 2},
        {SimStep::ServiceStart, "service-loader", 2}, {SimStep::Imei, "imei", 2},
        {SimStep::EraseDone, "erase", 2},             {SimStep::BlankCheck, "blank-check", 2},
        {SimStep::Frames, "streaming", 2},            {SimStep::FinalCheck, "final-check", 4},
    };
    const int faulty = static_cast<int>(std::size(faults));
    startPhones(faulty + 2, [&](int k, PhoneSimOptions& o) {
        if (k <= faulty) o.replyFaults[faults[k - 1].step] = ReplyFault::Wrong;
    });
    const std::string tracePath = dir + "/trace.txt";
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--events", "--trace", tracePath}));
    EXPECT_EQ(cli.finish(), 2) << cli.err;
    const std::vector<Record> records = logRecords();
    ASSERT_EQ(records.size(), sims.size());
    const std::string trace = temp.read(tracePath);
    for (std::size_t i = 0; i < std::size(faults); ++i) {
        const std::string wrong = wrongReply(faults[i].step, PhoneKind::T1x, imeiOf(int(i) + 1));
        std::string hex;
        for (unsigned char c : wrong) {
            char pair[4];
            std::snprintf(pair, sizeof pair, hex.empty() ? "%02x" : " %02x", c);
            hex += pair;
        }
        expectFields(recordFor(records, ports[i]), "result=failure|code=" + std::to_string(faults[i].code) +
                                                       "|failed_step=" + faults[i].failedStep +
                                                       "|received=" + hex);
        EXPECT_NE(trace.find(" " + ports[i] + " <- " + std::to_string(wrong.size()) + ": " + hex + "  |"),
                  std::string::npos)
            << stepName(faults[i].step);
    }
    EXPECT_NE(trace.find("(frame 400)"), std::string::npos);  // the frame stream is there, a line a frame

    const Lines printed = linesOf(cli.err), events = linesOf(cli.out);
    for (int k = faulty + 1; k <= faulty + 2; ++k) {
        PhoneSim& sim = *sims[k - 1];
        ASSERT_TRUE(sim.waitForEnd(5s));
        EXPECT_EQ(sim.verdict().outcome, SimOutcome::Success) << sim.verdict().text();  // every byte checked
        const std::string& port = ports[k - 1];
        Lines own;  // this port's lines, as a lone session prints them
        for (const std::string& line : printed)
            if (line.rfind(port + ": ", 0) == 0) own.push_back(line.substr(port.size() + 2));
        EXPECT_EQ(own, sessionLines(imeiOf(k)));

        const Record r = recordFor(records, port);
        expectFields(r,
                     "event=end|state=ended|status=CRC checking ...|model=T1x|format=SBIN|version=null|"
                     "frames=400|checksums_ok=true|frames_sent=400|result=success|code=0|"
                     "text=Software updated completed|failed_step=null|received=null|imei=" +
                         imeiOf(k) + "|file=" + imagePath + "|size=" + std::to_string(image.size) +
                         "|bytes_sent=" + std::to_string(sim.bytesReceived()));
        // ISO times in UTC sort as text: started <= detected <= ended, and the seconds are their span.
        EXPECT_LE(r.at("started"), r.at("detected"));
        EXPECT_LE(r.at("detected"), r.at("ended"));
        EXPECT_TRUE(std::stod(r.at("seconds")) > 0 && std::stod(r.at("seconds")) < 60) << r.at("seconds");

        // The events: each state once, in order, then the same end record as the log.
        Lines states, endLines;
        for (const std::string& line : events) {
            const Record e = parseRecord(line);
            if (e.count("port") && e.at("port") == port)
                (e.at("event") == "end" ? endLines : states).push_back(e.at("state"));
        }
        EXPECT_EQ(states,
                  linesOf("waiting detected boot-mode handshake boot-loader speed-change service-loader "
                          "imei erase blank-check streaming format final-check",
                          ' '));
        EXPECT_EQ(endLines, Lines{"ended"});
    }
}

// Ctrl-C, SIGTERM and a hang-up (the terminal closed, an ssh session dropped) alike, on a station and on a
// lone port; and Ctrl-C while the terminal is stopped (Ctrl-S, XOFF from its reader), which holds up neither
// the abort nor the end.
struct Stop {
    const char* name;
    int signal;
    bool terminalStopped;
    int ports;
};
class StopSignal : public Station, public ::testing::WithParamInterface<Stop> {};

TEST_P(StopSignal, StopsEveryStreamWritesEveryRecordAndNothingIsSentAfterIt) {
    const Stop stop = GetParam();
    startPhones(stop.ports, [](int, PhoneSimOptions& o) { o.emulateLineRate = true; });  // ~9 s of frames
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    const std::string onTerminal =
        stop.terminalStopped ? "exec 2>" + std::string(::ptsname(terminal)) + ";" : "";
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs(), dir, onTerminal);
    for (const auto& sim : sims) ASSERT_TRUE(sim->waitForStep(SimStep::Frames, 30s));
    if (stop.terminalStopped) {
        ASSERT_EQ(::write(terminal, "\x13", 1), 1);
    }
    std::this_thread::sleep_for(1s);  // the display or the progress bar draws into the terminal meanwhile
    std::vector<std::size_t> atSignal;
    for (const auto& sim : sims) atSignal.push_back(sim->bytesReceived());
    cli.signal(stop.signal);
    EXPECT_EQ(cli.finish(10s), 128 + stop.signal) << cli.err;
    ::close(terminal);
    // What the ports had handed to the line before the signal still drains from the pseudo-terminal's 4 KB
    // buffer, and a busy machine may take a moment to deliver the signal; a port still streaming would add
    // 11.5 KB a second until the line is quiet (about 100 KB in all).
    const std::vector<std::size_t> quiet = receivedOnceQuiet();
    for (std::size_t i = 0; i < sims.size(); ++i) EXPECT_LE(quiet[i] - atSignal[i], 4096u + 5760u) << i;
    const std::vector<Record> records = logRecords();
    for (std::size_t i = 0; i < sims.size(); ++i) {
        EXPECT_NE(sims[i]->verdict().outcome, SimOutcome::Mismatch) << sims[i]->verdict().text();
        EXPECT_EQ(sims[i]->step(), SimStep::Frames);
        const Record r = recordFor(records, ports[i]);
        expectFields(r, "result=aborted|code=null|status=Updating software ...");
        EXPECT_LT(std::stoll(r.at("frames_sent")), 400);
    }
    if (stop.ports == 1 && !stop.terminalStopped) {
        EXPECT_TRUE(cli.err.ends_with("Updating software ...\nAbort: " + kHint + "\nLink: CLOSED\nReady\n"))
            << cli.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal,
                         ::testing::Values(Stop{"HangUp", SIGHUP, false, 3},
                                           Stop{"CtrlCOnAStoppedTerminal", SIGINT, true, 3},
                                           Stop{"LonePortCtrlCOnAStoppedTerminal", SIGINT, true, 1},
                                           Stop{"LonePortTerminate", SIGTERM, false, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// A reader that goes away (`2>&1 | head -3`) costs no phone: every session goes on to its end and its record,
// and the run exits with a code of its own.
class PipedToHead : public Station, public ::testing::WithParamInterface<int> {};

TEST_P(PipedToHead, EverySessionEndsAndIsRecordedAndTheRunExits75) {
    useImage(sample::image(40));
    startPhones(GetParam());
    std::string command = "\"$0\"";
    for (const std::string& arg : flashArgs()) command += " '" + arg + "'";
    ProgramRun run("/bin/bash",
                   {"-c", command + " 2>&1 | head -3; exit ${PIPESTATUS[0]}", PHONE_UPDATER_CLI});
    EXPECT_EQ(run.finish(), 75) << run.out << run.err;
    EXPECT_EQ(linesOf(run.out).size(), 3u);
    const std::vector<Record> records = logRecords();
    for (std::size_t k = 0; k < sims.size(); ++k) {
        ASSERT_TRUE(sims[k]->waitForEnd(5s));
        EXPECT_EQ(sims[k]->verdict().outcome, SimOutcome::Success) << sims[k]->verdict().text();
        EXPECT_EQ(recordFor(records, ports[k]).at("result"), "success");
    }
}

INSTANTIATE_TEST_SUITE_P(Ports, PipedToHead, ::testing::Values(1, 2), ::testing::PrintToStringParamName());

// Started with standard descriptors closed (by a service manager, a launcher, `>&-`), neither the updater nor
// the simulated phone lets its own output reach the line, the wake-up pipe or the log. Without care the log
// takes descriptor 1 (the events land in it), or the wake-up pipe takes 1 and 2 (the status lines wake every
// read window), or the phone's stop pipe takes 0 and 1 (its own first line stops it).
TEST_F(Station, ClosedStandardDescriptorsReachNeitherTheLineNorTheLog) {
    useImage(sample::image(20));
    for (const char* closed : {"exec 1>&- 2>&-;", "exec 0<&- 1>&- 2>&-;"}) {
        startPhones(1);
        ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--events"}), dir, closed);
        if (!sims.back()->waitForEnd(30s)) cli.signal(SIGKILL);  // a worker spinning in its power-on wait
        EXPECT_EQ(cli.finish(), 0) << closed;
        EXPECT_EQ(sims.back()->verdict().outcome, SimOutcome::Success)
            << closed << sims.back()->verdict().text();
        EXPECT_EQ(linesOf(temp.read(logPath)).size(), 1u)
            << closed << ": " << temp.read(logPath);  // no events
        std::filesystem::remove(logPath);
        sims.clear(), ports.clear();
    }
    const std::string link = dir + "/phone";
    ProgramRun phone(PHONE_SIM, {"--model", "T1x", "--no-throttle", "--erase-ms", "2000", "--link", link},
                     dir, "exec 0<&- 1>&-;");
    for (int i = 0; i < 250 && !std::filesystem::exists(link); ++i) std::this_thread::sleep_for(20ms);
    ProgramRun cli(PHONE_UPDATER_CLI, {"flash", "--port", link, imagePath});
    EXPECT_EQ(cli.finish(15s), 0) << cli.err;
    EXPECT_EQ(phone.finish(5s), 0);
}

// A killed run (SIGKILL, a power cut) leaves only whole records in the log.
TEST_F(Station, ThreePhonesInARowAndOneThatStayedConnectedAndAKilledRunsWholeRecords) {
    std::ofstream(logPath) << "{\"earlier\": true}\n";  // appended to, never replaced
    // The first phone restarts on the cable and announces itself again before the operator swaps it.
    startPhones(1, [](int, PhoneSimOptions& o) {
        o.repeat = true;
        o.imeiCycle = {imeiOf(1), imeiOf(1), imeiOf(2), imeiOf(3)};
    });
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--repeat"}));
    ASSERT_TRUE(waitForLogLines(5)) << cli.err;
    cli.signal(SIGKILL);
    cli.finish();

    const std::vector<Record> records = logRecords();
    ASSERT_GE(records.size(), 5u);
    EXPECT_EQ(records[0], (Record{{"earlier", "true"}}));
    EXPECT_EQ(temp.read(logPath).back(), '\n');
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_EQ(records[i].size(), 24u) << i;
    const Lines results{"success", "same-phone", "success", "success"};
    for (std::size_t i = 0; i < results.size(); ++i) {
        expectFields(records[i + 1], "result=" + results[i] + "|imei=" + imeiOf(i == 0 ? 1 : int(i)));
    }
    // Held after the IMEI read: nothing erased or streamed, not a failure.
    expectFields(records[2],
                 "status=Reading IMEI ...|code=null|frames_sent=0|"
                 "text=same phone again: switch it off and connect the next one");
    EXPECT_LT(std::stoll(records[2].at("bytes_sent")), std::stoll(records[1].at("bytes_sent")) - 20000);
    const Lines printed = linesOf(cli.err);
    const auto held = std::find(printed.begin(), printed.end(), ports[0] + ": " + records[2].at("text"));
    ASSERT_NE(held, printed.end()) << cli.err;
    // Then the port waits for the next power-on.
    EXPECT_EQ(*std::find_if(held, printed.end(),
                            [](const std::string& l) { return l.find("Power ON") != std::string::npos; }),
              ports[0] + ": Power ON the phone ...");
}

// A reader of --events that stops reading cannot keep the run from ending: once it has taken nothing for a
// while, the lines still queued are dropped, standard error says so, and the records count as not written.
TEST_F(Station, AnEventsReaderThatStopsReadingCannotHoldUpTheEnd) {
    useImage(sample::image(20));
    startPhones(1);
    const std::string fifo = dir + "/events";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // never reads
    ASSERT_GE(::fcntl(reader, F_SETPIPE_SZ, 4096), 0);               // less than one session's events
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--events"}), dir, "exec >'" + fifo + "';");
    EXPECT_EQ(cli.finish(15s), 74) << cli.err;
    EXPECT_NE(cli.err.find("phone-updater-cli: the reader of the events stopped reading: "),
              std::string::npos)
        << cli.err;
    ASSERT_TRUE(sims[0]->waitForEnd(5s));
    EXPECT_EQ(sims[0]->verdict().outcome, SimOutcome::Success);
    ::close(reader);
}

// Every state a port can show, with a long name: the essentials survive 80 columns.
TEST(PortLine, KeepsItsEssentialsAt80Columns) {
    PortView updating;
    updating.state = PortActivity::Updating;
    updating.step = "service-loader";
    updating.imei = "490154203237518";
    updating.range = 400;
    updating.position = 399;
    updating.elapsed = 6039s;  // 100:39
    updating.last = {Outcome::Failure, "490154203237517", "Data transmit error encountered.\nCheck ..."};
    const auto with = [&](PortActivity state, std::string detail = "") {
        PortView v = updating;
        v.state = state;
        v.detail = std::move(detail);
        return v;
    };
    const std::string name = shortPortName("/dev/serial/by-id/usb-Prolific_USB_serial_cable_A1B2-if00-port0");
    EXPECT_EQ(name, "~-if00-port0");
    const std::pair<PortView, std::string> rows[] = {
        {updating, "service-loader"},
        {with(PortActivity::Stalled), "STALLED"},
        {with(PortActivity::Failed, "Wrong responce (at imei, got 31 32)"), "FAILED"},
        {with(PortActivity::NoDevice, "no such device"), "no device"},
        {with(PortActivity::SamePhone), "same phone"},
        {with(PortActivity::Done), "done"},
        {with(PortActivity::Waiting), "waiting"},
    };
    for (const auto& [view, state] : rows) {
        const std::string line = portLine(name, view, 79);
        EXPECT_LE(line.size(), 79u) << line;
        // What is shown of the details is whole, or says it was shortened: no "for a pho".
        const std::string whole = portLine(name, view, 300);
        EXPECT_TRUE(line.ends_with("...") || line.size() == whole.size() || whole[line.size()] == ' ') << line;
        for (const std::string& part : {name, state, std::string("490154203237518"), std::string("99%"),
                                        std::string("100:39"), std::string("last:FAIL")})
            EXPECT_NE(line.find(part), std::string::npos) << part << " missing from: " << line;
    }
    // Wider, the failure's text and the last phone come too.
    const std::string wide = portLine(name, with(PortActivity::Failed, "Wrong responce (at imei)"), 200);
    EXPECT_TRUE(wide.ends_with("Wrong responce (at imei)  last phone 490154203237517: Data transmit error "
                               "encountered.  [###################.] 399/400"))
        << wide;
    EXPECT_EQ(totalsLine({12, 1, 2, 3600s}, 16, 79),
              "done 12  failed 1  same phone 2  12.0 phones/h  running 01:00:00  16 ports");
}

// A station of simulated phones, its display on a pseudo-terminal of 80 x 24: in-process (a short stall
// time), or the program with its standard error there.
class StationScreen : public Station {
  protected:
    void SetUp() override {
        Station::SetUp();
        winsize size{24, 80, 0, 0};  // rows, columns
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        events = ends[0];
        eventsWrite = ends[1];
    }
    void TearDown() override {
        // The display and the events write until the end: keep reading them while the station stops.
        std::atomic<bool> stopped{false};
        std::thread drain([&] {
            while (!stopped) readUntil([](const Record&) { return false; }, 1s);
        });
        if (station) station->stop(SIGTERM);
        if (runner.joinable()) runner.join();
        station.reset();
        stopped = true;
        drain.join();
        for (int fd : {master, slave, events, eventsWrite}) ::close(fd);
    }
    void startStation() {
        StationOptions o;
        o.ports = ports;
        o.repeat = o.events = true;
        o.eventsFd = eventsWrite;
        o.displayFd = slave;
        o.stallAfter = 4s;
        station = std::make_unique<::Station>(image, RecordImage{imagePath, {}}, o, nullptr);
        runner = std::thread([this] { station->run(); });
        for (const std::string& port : ports) names.push_back(shortPortName(port));
    }
    // Reads the screen and the events as they come; stops when `done` says so (true) or after `limit`.
    bool readUntil(const std::function<bool(const Record& event)>& done, std::chrono::seconds limit = 30s) {
        for (const auto until = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < until;) {
            pollfd fds[2] = {{master, POLLIN, 0}, {events, POLLIN, 0}};
            if (::poll(fds, 2, 100) <= 0) continue;
            char buffer[65536];
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) screen.feed({buffer, static_cast<std::size_t>(n)});
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = ::read(events, buffer, sizeof buffer);
                if (n > 0) pendingEvents.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t end; (end = pendingEvents.find('\n')) != std::string::npos;) {
                    const Record event = parseRecord(pendingEvents.substr(0, end));
                    pendingEvents.erase(0, end + 1);
                    if (done(event)) return true;
                }
            }
        }
        return false;
    }
    // Feeds the screen until `shown` holds for it, at most a few redraws; the events wait.
    bool screenShows(const std::function<bool()>& shown) {
        for (const auto until = std::chrono::steady_clock::now() + 2s; !shown();) {
            if (std::chrono::steady_clock::now() > until) return false;
            pollfd fd{master, POLLIN, 0};
            char buffer[65536];
            const ssize_t n = ::poll(&fd, 1, 50) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
            if (n > 0) screen.feed({buffer, static_cast<std::size_t>(n)});
        }
        return true;
    }
    // The block: the totals, then one row per port, each starting with its padded name and two spaces.
    std::string portRow(std::size_t port) const {
        const std::vector<std::string> rows = screen.rows();
        const std::string start = paddedName(port) + "  ";
        std::string found;
        for (const std::string& row : rows)
            if (row.rfind(start, 0) == 0) found = row;  // the last one: the block is at the bottom
        return found;
    }
    // The block whole at the bottom: the totals, then each port's line; above it only messages, with
    // nothing left of an earlier drawing (a port's line, whole or in pieces), and every row within the width.
    // Empty when so, else what is wrong.
    std::string blockProblem(std::size_t columns) const {
        const std::vector<std::string> rows = screen.rows();
        const auto totals = std::find_if(rows.begin(), rows.end(),
                                         [](const std::string& row) { return row.rfind("done ", 0) == 0; });
        if (totals == rows.end()) return "no totals";
        const std::size_t top = static_cast<std::size_t>(totals - rows.begin());
        static const std::regex lineLike(R"(last:|phones/h|\b\d{15}\b|\b\d\d:\d\d\b)");
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const bool block = r >= top && r <= top + names.size();
            if (rows[r].size() > columns) return "too wide: " + rows[r];
            if (r > top && block && rows[r].rfind(paddedName(r - top - 1) + "  ", 0) != 0)
                return "not its port's line: " + rows[r];
            if (!block && std::regex_search(rows[r], lineLike)) return "a piece of a port's line: " + rows[r];
            if (r > top + names.size() && !rows[r].empty()) return "below the block: " + rows[r];
        }
        return "";
    }
    void expectWholeBlock(std::size_t columns) {
        EXPECT_TRUE(screenShows([&] { return blockProblem(columns).empty(); }))
            << blockProblem(columns) << "\n"
            << screen.text();
    }
    std::string paddedName(std::size_t port) const {
        std::size_t width = 0;
        for (const std::string& n : names) width = std::max(width, n.size());
        return names[port] + std::string(width - names[port].size(), ' ');
    }
    std::size_t portOf(const Record& event) const {
        for (std::size_t i = 0; i < ports.size(); ++i)
            if (event.count("port") && event.at("port") == ports[i]) return i;
        return ports.size();
    }

    int master = -1, slave = -1, events = -1, eventsWrite = -1;
    std::unique_ptr<::Station> station;
    std::thread runner;
    Screen screen{80, 24};
    std::string pendingEvents;
    std::vector<std::string> names;
};

TEST_F(StationScreen, APulledCableStaysOnItsLineUntilTheNextPhonesOutcomeAndAStallShows) {
    // The second port's cable is pulled mid-stream: its device goes away until a new one is plugged in. The
    // third port's first phone fails its final check (a two-line message and a hint wider than the screen).
    // The fourth port's phone stops reading: stalled on its line and in the events, its session going on.
    const auto phone = [this](int k, PhoneSimOptions& o) {
        o.repeat = true;
        o.imeiCycle = {imeiOf(k), imeiOf(k + 4)};
        if (k == 4) o.stallAfterFrames = 10;
        if (k == 2) {
            o.linkPath = dir + "/p2";
            o.vanishAfterFrames = 20;
        }
        if (k == 3) {
            o.replyFaults[SimStep::FinalCheck] = ReplyFault::Wrong;
            o.faultSessions = 1;
        }
    };
    startPhones(4, phone);
    startStation();
    int ends = 0;  // the second port's phones
    bool stalled = false;
    const bool seen = readUntil([&](const Record& event) {
        const std::size_t port = portOf(event);
        if (event.count("state") && event.at("state") == "stalled") {
            EXPECT_EQ(port, 3u);
            EXPECT_EQ(event.at("status"), "Updating software ...");
            EXPECT_TRUE(screenShows([&] { return portRow(3).find("STALLED") != std::string::npos; }))
                << screen.text();
            stalled = true;
        }
        if (port >= sims.size() || (port == 1 && event.at("code") == "1")) return false;  // the reopen tries
        if (port == 1 && event.at("event") == "end") {
            ++ends;
            if (ends == 1) {
                EXPECT_EQ(event.at("code"), "5");
                // The port now waits for its device, and still shows the phone that failed.
                EXPECT_TRUE(screenShows([&] {
                    const std::string row = portRow(1);
                    return row.find("no device") != std::string::npos &&
                           row.find("last:FAIL") != std::string::npos;
                })) << screen.text();
                startPhones(1, [&](int, PhoneSimOptions& o) {  // a new phone on a new adapter, same name
                    phone(2, o);
                    o.imeiCycle = {imeiOf(9)};
                    o.vanishAfterFrames = -1;
                });
                sims[1] = std::move(sims.back());
                sims.pop_back(), ports.pop_back();
            }
        }
        // The screen after each event: the failure shows from its end to the next phone's end, and the
        // block is whole (one row per port, nothing left of an earlier drawing).
        if (ends == 1) {
            EXPECT_TRUE(screenShows([&] { return portRow(1).find("last:FAIL") != std::string::npos; }))
                << screen.text();
        }
        expectWholeBlock(80);
        return ends == 2 && stalled;
    });
    ASSERT_TRUE(seen) << screen.text();
    EXPECT_TRUE(screenShows([&] { return portRow(1).find("last:ok") != std::string::npos; }))
        << screen.text();
    EXPECT_TRUE(screenShows([&] {
        return screen.text().find("failed 2  same phone 0") != std::string::npos;
    })) << screen.text();
}

// The program's screen: a narrower terminal that rewraps its rows is repainted whole (noticed at a redraw); a
// resize signal (SIGWINCH) repaints it whole at once, even when the size is back to what it was by the next
// redraw (the terminal may have rewrapped its rows meanwhile). Ports that never saw a phone, stopped by
// SIGTERM, end with a result of their own, not as aborted phones.
TEST_F(StationScreen, AResizeRepaintsTheScreenWholeAndPortsWithNoPhoneEndIdle) {
    int idle[2][2];
    for (auto& pty : idle) ASSERT_EQ(::openpty(&pty[0], &pty[1], nullptr, nullptr, nullptr), 0);
    for (auto& pty : idle) ports.push_back(::ttyname(pty[1])), ::close(pty[1]);
    for (const std::string& port : ports) names.push_back(shortPortName(port));
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--repeat"}), dir,
                   "exec 2>" + std::string(::ttyname(slave)) + ";");
    expectWholeBlock(80);
    const winsize size{20, 60, 0, 0};
    ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
    screen.resize(60, 20);
    expectWholeBlock(60);
    ASSERT_EQ(::write(slave, "\r\nscribbled\r\n", 13), 13);  // the rows as a rewrap might leave them
    EXPECT_TRUE(screenShows([&] { return screen.text().find("scribbled") != std::string::npos; }));
    cli.signal(SIGWINCH);
    EXPECT_TRUE(screenShows([&] { return screen.text().find("scribbled") == std::string::npos; }))
        << screen.text();
    expectWholeBlock(60);
    cli.signal(SIGTERM);
    EXPECT_EQ(cli.finish(), 143);
    for (auto& pty : idle) ::close(pty[0]);
    for (const std::string& port : ports)
        expectFields(recordFor(logRecords(), port),
                     "result=idle|code=null|detected=null|model=null|text=stopped while waiting for a phone|"
                     "failed_step=null|received=null");
}

// Ctrl-C between a frame's write and the count's update: the end record counts the frame the line took, as
// its bytes do.
TEST_F(Station, AFrameWrittenJustBeforeTheAbortIsCountedInTheRecord) {
    struct Sink : PortEvents {
        void stateChanged(std::size_t, const SessionRecord&) override {}
        void sessionEnded(std::size_t, const SessionRecord& record) override { ended = record; }
        void portLine(std::size_t, const std::string&, bool) override {}
        SessionRecord ended;
    };
    // Stops the port from another thread while the fifth frame's write still holds the line, so the abort
    // is raised before that write returns.
    struct StopAtFifthFrame : LinkObserver {
        void opened(const std::string&, std::uint32_t, OpenError) override {}
        void closed() override {}
        void received(const std::uint8_t*, std::size_t) override {}
        void wrote(const std::uint8_t* bytes, std::size_t count, bool ok) override {
            if (ok) written += count;
            if (bytes < image->bytes() || bytes >= image->bytes() + image->size || ++imageWrites != 6) return;
            stopper = std::thread([this] { port->stop(); });  // the first image write is the stream's head
            std::this_thread::sleep_for(300ms);
        }
        const FlashImage* image = nullptr;
        StationPort* port = nullptr;
        int imageWrites = 0;
        std::uint64_t written = 0;
        std::thread stopper;
    };
    startPhones(1);
    Sink sink;
    StopAtFifthFrame observer;
    observer.image = &image;
    StationPort port(PortSetup{0, ports[0], image, false, 30s, sink, nullptr, &observer});
    observer.port = &port;
    port.start();
    port.join();
    ASSERT_TRUE(observer.stopper.joinable());
    observer.stopper.join();
    EXPECT_EQ(sink.ended.result, SessionResult::Aborted);
    EXPECT_EQ(sink.ended.framesSent, 5);
    EXPECT_EQ(sink.ended.bytesSent, observer.written);
}

}  // namespace
