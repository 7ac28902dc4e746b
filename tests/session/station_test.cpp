// phone-updater-cli flash over several simulated phones at once, and as a station (--repeat): what each phone
// receives, the exit code, and the records of --log and --events read back field by field.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/program_run.h"
#include "tests/support/sample_image.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using Record = std::map<std::string, std::string>;  // values as written; strings unquoted

std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

Lines linesOf(const std::string& text, char separator = '\n') {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line, separator);) lines.push_back(line);
    return lines;
}

// One flat JSON object, as the program writes it; empty when `line` is not one whole.
Record parseRecord(const std::string& line) {
    static const std::regex member(R"re("(\w+)": ("((?:[^"\\]|\\.)*)"|[-\w.]+)(, |\}$))re");
    Record record;
    std::smatch m;
    if (line.rfind('{', 0) != 0) return {};
    for (auto at = line.begin() + 1;
         at < line.end() &&
         std::regex_search(at, line.end(), m, member, std::regex_constants::match_continuous);
         at += m.length()) {
        record[m[1]] = m[3].matched ? m[3].str() : m[2].str();
        if (m[4] == "}") return record;
    }
    return {};
}

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
            std::string error;
            ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
            if (tune) tune(k, o);
            sims.push_back(std::make_unique<PhoneSim>(o));
            ASSERT_TRUE(sims.back()->start(error)) << error;
            ports.push_back(sims.back()->slavePath());
        }
    }
    Lines flashArgs(Lines extra = {}) const {
        Lines args{"flash", "--log", logPath};
        for (const std::string& port : ports) args.insert(args.end(), {"--port", port});
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(imagePath);
        return args;
    }
    std::vector<Record> logRecords() const {
        std::vector<Record> records;
        for (const std::string& line : linesOf(readFile(logPath))) records.push_back(parseRecord(line));
        return records;
    }
    // The record of the session on `port`, with nothing missing from its shape.
    static Record recordFor(const std::vector<Record>& records, const std::string& port) {
        for (const Record& r : records)
            if (r.count("port") && r.at("port") == port) {
                EXPECT_EQ(r.size(), 22u);
                return r;
            }
        ADD_FAILURE() << "no record for " << port;
        return {};
    }
    bool waitForLogLines(std::size_t count) const {
        for (auto until = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < until;
             std::this_thread::sleep_for(20ms))
            if (linesOf(readFile(logPath)).size() >= count) return true;
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

class SeveralPhones : public Station, public ::testing::WithParamInterface<int> {};

TEST_P(SeveralPhones, EachGetsTheWholeSessionAndARecord) {
    startPhones(GetParam());
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--events"}));
    ASSERT_EQ(cli.finish(), 0) << cli.err;

    const std::vector<Record> records = logRecords();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(GetParam()));
    const Lines printed = linesOf(cli.err), events = linesOf(cli.out);
    for (int k = 1; k <= GetParam(); ++k) {
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
                     "text=Software updated completed|imei=" +
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

INSTANTIATE_TEST_SUITE_P(TwoAndFour, SeveralPhones, ::testing::Values(2, 4));

// A fault on the middle one of three phones ends its session only; the run exits with its code.
struct PortFault {
    const char* name;
    void (*apply)(PhoneSimOptions&);
    int code;
};

class OneFaultyPhone : public Station, public ::testing::WithParamInterface<PortFault> {};

TEST_P(OneFaultyPhone, EndsOnlyItsOwnSession) {
    startPhones(3, [](int k, PhoneSimOptions& o) {
        if (k == 2) GetParam().apply(o);
    });
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs());
    EXPECT_EQ(cli.finish(), GetParam().code) << cli.err;
    const std::vector<Record> records = logRecords();
    for (int k : {1, 3}) {
        ASSERT_TRUE(sims[k - 1]->waitForEnd(5s));
        EXPECT_EQ(sims[k - 1]->verdict().outcome, SimOutcome::Success) << sims[k - 1]->verdict().text();
        EXPECT_EQ(recordFor(records, ports[k - 1]).at("result"), "success");
    }
    expectFields(recordFor(records, ports[1]), "result=failure|code=" + std::to_string(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OneFaultyPhone,
    ::testing::Values(
        PortFault{"vanish", [](PhoneSimOptions& o) { o.vanishAfterFrames = 20; }, 5},
        PortFault{"wrong_imei", [](PhoneSimOptions& o) { o.replyFaults[SimStep::Imei] = ReplyFault::Wrong; },
                  2},
        PortFault{"bad_check",
                  [](PhoneSimOptions& o) { o.replyFaults[SimStep::FinalCheck] = ReplyFault::Wrong; }, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C, and a hang-up (the terminal closed, an ssh session dropped) alike.
class StopSignal : public Station, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, StopsEveryStreamWritesEveryRecordAndNothingIsSentAfterIt) {
    startPhones(3, [](int, PhoneSimOptions& o) { o.emulateLineRate = true; });  // ~9 s of frames each
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs());
    for (const auto& sim : sims) ASSERT_TRUE(sim->waitForStep(SimStep::Frames, 30s));
    std::this_thread::sleep_for(300ms);
    std::vector<std::size_t> atSignal;
    for (const auto& sim : sims) atSignal.push_back(sim->bytesReceived());
    cli.signal(GetParam());
    EXPECT_EQ(cli.finish(), 128 + GetParam()) << cli.err;
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
}

INSTANTIATE_TEST_SUITE_P(IntAndHup, StopSignal, ::testing::Values(SIGINT, SIGHUP));

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

INSTANTIATE_TEST_SUITE_P(OneAndTwoPorts, PipedToHead, ::testing::Values(1, 2));

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
        EXPECT_EQ(linesOf(readFile(logPath)).size(), 1u) << closed << ": " << readFile(logPath);  // no events
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

TEST_F(Station, ThreePhonesInARowAndOneThatStayedConnected) {
    std::ofstream(logPath) << "{\"earlier\": true}\n";  // appended to, never replaced
    // The first phone restarts on the cable and announces itself again before the operator swaps it.
    startPhones(1, [](int, PhoneSimOptions& o) {
        o.repeat = true;
        o.imeiCycle = {imeiOf(1), imeiOf(1), imeiOf(2), imeiOf(3)};
    });
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--repeat"}));
    ASSERT_TRUE(waitForLogLines(5)) << cli.err;
    cli.signal(SIGTERM);
    EXPECT_EQ(cli.finish(), 143) << cli.err;

    const std::vector<Record> records = logRecords();
    ASSERT_GE(records.size(), 5u);
    EXPECT_EQ(records[0], (Record{{"earlier", "true"}}));
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

TEST_F(Station, AKilledRunLeavesOnlyWholeLines) {
    useImage(sample::image(20));
    startPhones(3, [](int k, PhoneSimOptions& o) {
        o.repeat = true;
        o.imeiCycle = {imeiOf(k), imeiOf(k + 3)};
    });
    ProgramRun cli(PHONE_UPDATER_CLI, flashArgs({"--repeat"}));
    ASSERT_TRUE(waitForLogLines(7)) << cli.err;
    cli.signal(SIGKILL);
    cli.finish();
    const std::string log = readFile(logPath);
    EXPECT_EQ(log.back(), '\n');
    for (const std::string& line : linesOf(log)) EXPECT_EQ(parseRecord(line).size(), 22u) << line;
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

TEST_F(Station, ALogThatCannotBeOpenedStopsTheRunBeforeAnyPortOpens) {
    startPhones(1);
    ProgramRun cli(PHONE_UPDATER_CLI,
                   {"flash", "--port", ports[0], "--log", dir + "/missing/log", imagePath});
    EXPECT_EQ(cli.finish(), 73);
    EXPECT_EQ(cli.err,
              "phone-updater-cli: cannot append to " + dir + "/missing/log: No such file or directory\n");
    EXPECT_EQ(sims[0]->step(), SimStep::WaitingForUpdater);
}

}  // namespace
