// The station library in-process. Its terminal display: each port's line at 80 columns, and a whole station on
// a real pseudo-terminal of 80 x 24 read back as a screen after each event (--events): a failed phone stays on
// its port's line until the next phone's outcome, a stalled phone shows as stalled, a resize repaints cleanly.
// A port's end record against what its link wrote.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <regex>
#include <thread>

#include "station/station.h"
#include "station/station_display.h"
#include "tests/support/records.h"
#include "tests/support/sample_image.h"
#include "tests/support/screen.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using namespace std::chrono_literals;

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
        for (const std::string& part : {name, state, std::string("490154203237518"), std::string("99%"),
                                        std::string("100:39"), std::string("last:FAIL")})
            EXPECT_NE(line.find(part), std::string::npos) << part << " missing from: " << line;
    }
    // Wider, the failure's text and the last phone come too.
    const std::string wide = portLine(name, with(PortActivity::Failed, "Wrong responce (at imei)"), 200);
    EXPECT_NE(wide.find("Wrong responce (at imei)  last phone 490154203237517: Data transmit error"),
              std::string::npos)
        << wide;
    EXPECT_EQ(totalsLine({12, 1, 2, 3600s}, 16, 79),
              "done 12  failed 1  same phone 2  12.0 phones/h  running 01:00:00  16 ports");
}

// One port's display on a pseudo-terminal: a message wider than the screen scrolls above the block and
// leaves no piece of the block it was written over.
TEST(DisplayOnATerminal, AWideMessageLeavesNothingOfTheOldBlock) {
    int master = -1, slave = -1;
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 24;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
    PortView view;
    view.state = PortActivity::Updating;
    view.step = "streaming";
    view.imei = "490154203237518";
    view.elapsed = 61s;
    Screen screen(80, 24);
    const auto readFor = [&](std::chrono::milliseconds time) {
        for (const auto until = std::chrono::steady_clock::now() + time; std::chrono::steady_clock::now() < until;) {
            pollfd fd{master, POLLIN, 0};
            char buffer[4096];
            const ssize_t n = ::poll(&fd, 1, 20) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
            if (n > 0) screen.feed({buffer, static_cast<std::size_t>(n)});
        }
    };
    {
        StationDisplay display(slave, true, {"/dev/ttyUSB0"}, {[&] { return view; }},
                               [] { return StationTotals{}; });
        readFor(500ms);
        display.line(0, "Hint: " + std::string(90, 'x'));
        readFor(500ms);
    }
    readFor(300ms);
    const std::vector<std::string> rows = screen.rows();
    EXPECT_EQ(rows[0], "ttyUSB0 Hint: " + std::string(66, 'x')) << screen.text();
    EXPECT_EQ(rows[1], std::string(24, 'x')) << screen.text();
    EXPECT_EQ(rows[2].rfind("done 0  failed 0", 0), 0u) << screen.text();
    EXPECT_EQ(rows[3].rfind("ttyUSB0  streaming       490154203237518        01:01", 0), 0u) << screen.text();
    EXPECT_EQ(rows[4], "") << screen.text();
    ::close(master);
    ::close(slave);
}

// A station of three ports on simulated phones, its display on a pseudo-terminal of 80 x 24.
class StationScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        const sample::Bytes run = sample::image(400, "HDR", 252);  // ~100 KB: more than a pty buffers
        image = sample::flashImage(run);
        imagePath = temp.write("image.sbin", run);
        summary = readImage(run).summary;
        winsize size{};
        size.ws_col = 80;
        size.ws_row = 24;
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
    void startPhones(int count, const std::function<void(int, PhoneSimOptions&)>& tune) {
        for (int k = 1; k <= count; ++k) {
            PhoneSimOptions o;
            o.emulateLineRate = false;
            o.powerOnDelay = 20ms;
            o.eraseTime = 1500ms;
            o.repeat = true;
            o.imeiCycle = {"49015420323751" + std::to_string(k), "49015420323752" + std::to_string(k)};
            std::string error;
            ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
            tune(k, o);
            sims.push_back(std::make_unique<PhoneSim>(o));
            ASSERT_TRUE(sims.back()->start(error)) << error;
            ports.push_back(o.linkPath.empty() ? sims.back()->slavePath() : o.linkPath);
        }
    }
    void startStation() {
        StationOptions o;
        o.ports = ports;
        o.repeat = o.events = true;
        o.eventsFd = eventsWrite;
        o.displayFd = slave;
        o.stallAfter = 4s;
        station = std::make_unique<Station>(image, RecordImage{imagePath, summary}, o, nullptr);
        runner = std::thread([this] { station->run(); });
        for (const std::string& port : ports) names.push_back(shortPortName(port));
    }
    // Reads the screen and the events as they come; stops when `done` says so (true) or after `limit`.
    bool readUntil(const std::function<bool(const Record& event)>& done, std::chrono::seconds limit = 30s) {
        for (const auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
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
            << blockProblem(columns) << "\n" << screen.text();
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

    sample::TempDir temp;
    FlashImage image;
    ImageSummary summary;
    std::string imagePath;
    int master = -1, slave = -1, events = -1, eventsWrite = -1;
    std::vector<std::unique_ptr<PhoneSim>> sims;
    std::vector<std::string> ports;  // as the station is given them
    std::unique_ptr<Station> station;
    std::thread runner;
    Screen screen{80, 24};
    std::string pendingEvents;
    std::vector<std::string> names;
};

TEST_F(StationScreen, APulledCableStaysOnItsLineUntilTheNextPhonesOutcome) {
    // The second port's cable is pulled mid-stream: its device goes away until a new one is plugged in. The
    // third port's first phone fails its final check (a two-line message and a hint wider than the screen).
    startPhones(3, [this](int k, PhoneSimOptions& o) {
        if (k == 2) {
            o.linkPath = (temp.path() / "p2").string();
            o.vanishAfterFrames = 20;
        }
        if (k == 3) {
            o.replyFaults[SimStep::FinalCheck] = ReplyFault::Wrong;
            o.faultSessions = 1;
        }
    });
    startStation();
    int ends = 0;  // the second port's phones
    const bool seen = readUntil([&](const Record& event) {
        const std::size_t port = portOf(event);
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
                PhoneSimOptions o;
                o.emulateLineRate = false;
                o.powerOnDelay = 20ms;
                o.eraseTime = 1500ms;
                o.imei = "490154203237529";
                o.linkPath = (temp.path() / "p2").string();
                std::string error;
                EXPECT_TRUE(setExpectedImage(o, image, error) && (sims[1] = std::make_unique<PhoneSim>(o))->start(error));
            }
        }
        // The screen after each event: the failure shows from its end to the next phone's end, and the
        // block is whole (one row per port, nothing left of an earlier drawing).
        if (ends == 1) {
            EXPECT_TRUE(screenShows([&] { return portRow(1).find("last:FAIL") != std::string::npos; }))
                << screen.text();
        }
        expectWholeBlock(80);
        return ends == 2;
    });
    ASSERT_TRUE(seen) << screen.text();
    EXPECT_TRUE(screenShows([&] { return portRow(1).find("last:ok") != std::string::npos; })) << screen.text();
    EXPECT_TRUE(screenShows([&] { return screen.text().find("failed 2  same phone 0") != std::string::npos; }))
        << screen.text();

    // A narrower terminal that rewraps its rows: the screen is repainted whole.
    winsize size{};
    size.ws_col = 60;
    size.ws_row = 20;
    ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
    screen.resize(60, 20);
    EXPECT_TRUE(screenShows([&] { return !portRow(2).empty() && portRow(2).size() <= 59; })) << screen.text();
    expectWholeBlock(60);
}

TEST_F(StationScreen, APhoneThatStopsReadingShowsAsStalledOnItsLineAndInTheEvents) {
    startPhones(2, [](int k, PhoneSimOptions& o) {
        if (k == 1) o.stallAfterFrames = 10;
    });
    startStation();
    bool stalled = false;
    ASSERT_TRUE(readUntil([&](const Record& event) {
        if (event.count("state") && event.at("state") == "stalled") {
            EXPECT_EQ(portOf(event), 0u);
            EXPECT_EQ(event.at("status"), "Updating software ...");
            stalled = true;
        }
        return stalled;
    })) << screen.text();
    EXPECT_TRUE(screenShows([&] { return portRow(0).find("STALLED") != std::string::npos; })) << screen.text();
    // The session itself goes on waiting: no end for it.
    EXPECT_TRUE(station->totals().failed == 0);
}

// Ctrl-C between a frame's write and the count's update: the end record counts the frame the line took, as its
// bytes do.
TEST(StationPortRecord, AFrameWrittenJustBeforeTheAbortIsCounted) {
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
    const FlashImage image = sample::flashImage(sample::image(40));
    PhoneSimOptions o;
    o.emulateLineRate = false;
    o.powerOnDelay = 20ms;
    std::string error;
    ASSERT_TRUE(setExpectedImage(o, image, error)) << error;
    PhoneSim sim(o);
    ASSERT_TRUE(sim.start(error)) << error;
    Sink sink;
    StopAtFifthFrame observer;
    observer.image = &image;
    StationPort port(PortSetup{0, sim.slavePath(), image, false, 30s, sink, nullptr, &observer});
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
