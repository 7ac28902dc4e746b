// phone-updater-cli flash over PORTS simulated phones (default 4) at the emulated line rate, the program run as
// it ships, with an image of FRAMES frames of 258 bytes (default 775, ~200 KB; 7752 is a 2,000,000-byte image):
//   bench_station [PORTS [FRAMES]] [benchmark options]
// - every session must succeed (exit 0, every phone's verdict a success);
// - each session's streaming efficiency: (frame bytes / 11,520 B/s) / the time the frames took to reach its
//   phone, measured by the phone from the first frame byte to the last (target >= 0.99 each);
// - the CPU the program used for the whole run, as a share of one core (target < 5 %);
// - phones per hour: PORTS x 3600 / (a session's mean span from opening its port to its end, plus the pause
//   before a port opens again); BM_StationPhonesPerHour (run it with --benchmark_filter) measures it in
//   station mode (--repeat) instead.
// The simulated phones run at nice -10 when the limits allow (a phone has a processor of its own); the
// program at nice 0, as a user starts it. Manual time: one iteration = one whole run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/frame_builder.h"
#include "image/read_image.h"
#include "session/payloads.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kFastLineRate = 11'520.0;  // bytes per second at 115200 baud, 8N1
constexpr double kReopenPause = 0.25;       // a station port's pause between two sessions (station/)
constexpr int kPhonesNice = -10;
int portCount = 4;
std::size_t frameCount = 775;

// Header frame of 20 bytes, `frames` frames of 258 bytes, termination frame of 8.
std::vector<std::uint8_t> makeRun(std::size_t frames) {
    std::vector<std::uint8_t> run;
    appendFrame(run, '0', 20, 0);
    for (std::size_t k = 0; k < frames; ++k) appendFrame(run, '3', 258, static_cast<std::uint32_t>(k));
    appendFrame(run, '7', 8, 0);
    return run;
}

// Bytes the updater sends before the first data frame (both loaders' sizes included).
std::size_t bytesBeforeFrames() {
    const Payloads p = loadPayloads();
    return 2 + 2 + 64 + 64 + p.boot.size + 3 + 1 + 2 + p.service.size + 1 + 2 + 1 + 1 + 2;
}

struct Rig {
    explicit Rig(std::size_t frames, bool station) {
        const std::vector<std::uint8_t> run = makeRun(frames);
        path = "/tmp/bench-station-" + std::to_string(::getpid());
        std::ofstream(path + ".sbin", std::ios::binary)
            .write(reinterpret_cast<const char*>(run.data()), run.size());
        image = readImage(run).image;
        for (int k = 0; k < portCount; ++k) {
            PhoneSimOptions o;
            o.powerOnDelay = 20ms;
            std::string error;
            setExpectedImage(o, image, error);
            o.repeat = station;
            // A new phone each time: two IMEIs in turn never repeat back to back.
            char first[24], second[24];  // room for any int; the ports stay below 100
            std::snprintf(first, sizeof first, "4901542032371%02d", k);
            std::snprintf(second, sizeof second, "4901542032372%02d", k);
            o.imeiCycle = {first, second};
            sims.push_back(std::make_unique<PhoneSim>(o));
            if (!sims.back()->start(error)) {
                std::fprintf(stderr, "phone %d: %s\n", k + 1, error.c_str());
                ok = false;
            }
        }
    }
    ~Rig() {
        if (pid > 0) ::kill(pid, SIGKILL), finish();
        sims.clear();
        std::remove((path + ".sbin").c_str());
        std::remove((path + ".jsonl").c_str());
    }
    void launch(bool station) {
        std::vector<std::string> args{PHONE_UPDATER_CLI, "flash", "--log", path + ".jsonl"};
        if (station) args.push_back("--repeat");
        for (const auto& sim : sims) args.insert(args.end(), {"--port", sim->slavePath()});
        args.push_back(path + ".sbin");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        started = Clock::now();
        if ((pid = ::fork()) == 0) {
            // The program runs as a user would start it, whatever the phones' priority.
            ::setpriority(PRIO_PROCESS, 0, 0);
            std::freopen("/dev/null", "w", stderr);
            ::execv(PHONE_UPDATER_CLI, argv.data());
            ::_exit(127);
        }
    }
    // The exit code; `cpu` gets the program's user + system seconds.
    int finish(double* cpu = nullptr) {
        int status = 0;
        rusage usage{};
        if (::wait4(pid, &status, 0, &usage) != pid) return -1;
        pid = -1;
        wall = std::chrono::duration<double>(Clock::now() - started).count();
        if (cpu)
            *cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string path;
    FlashImage image;
    std::vector<std::unique_ptr<PhoneSim>> sims;
    pid_t pid = -1;
    Clock::time_point started;
    double wall = 0;
    bool ok = true;
};

// Seconds of the day of an ISO time in the log ("...T12:34:56.789Z"): enough within one run.
double secondsOfDay(const std::string& line, const std::string& key) {
    const std::size_t at = line.find("\"" + key + "\": \"");
    if (at == std::string::npos) return -1;
    const std::string t = line.substr(at + key.size() + 5 + 11, 12);
    return std::stod(t.substr(0, 2)) * 3600 + std::stod(t.substr(3, 2)) * 60 + std::stod(t.substr(6, 6));
}

void BM_PhonesAtOnce(benchmark::State& state) {
    const std::size_t frameBytes = frameCount * 258;
    double worst = 1, sum = 0, cpuShare = 0, span = 0;
    for (auto _ : state) {
        Rig rig(frameCount, false);
        if (!rig.ok) return state.SkipWithError("a simulated phone did not start");
        rig.launch(false);
        double cpu = 0;
        const int code = rig.finish(&cpu);
        int failed = code != 0;
        for (int k = 0; k < portCount; ++k) {
            rig.sims[k]->waitForEnd(5s);
            const SimVerdict v = rig.sims[k]->verdict();
            if (v.outcome != SimOutcome::Success) {
                ++failed;
                std::fprintf(stderr, "port %d: %s\n", k + 1, v.text().c_str());
                continue;
            }
            const double took = std::chrono::duration<double>(v.lastFrameByte - v.firstFrameByte).count();
            const double efficiency = (static_cast<double>(frameBytes) / kFastLineRate) / took;
            state.counters["eff_port" + std::to_string(k + 1)] = efficiency;
            worst = std::min(worst, efficiency);
            sum += efficiency;
        }
        state.counters["failed"] = failed;
        if (failed) std::fprintf(stderr, "exit code %d, %d sessions failed\n", code, failed);
        std::ifstream log(rig.path + ".jsonl");
        int sessions = 0;
        for (std::string line; std::getline(log, line); ++sessions)
            span += secondsOfDay(line, "ended") - secondsOfDay(line, "started");
        span /= std::max(sessions, 1);
        cpuShare = cpu / rig.wall;
        state.SetIterationTime(rig.wall);
    }
    state.counters["eff_worst"] = worst;
    state.counters["eff_mean"] = sum / (portCount * static_cast<double>(state.iterations()));
    state.counters["cli_cpu_pct_of_core"] = cpuShare * 100;
    state.counters["session_s"] = span;
    state.counters["phones_per_hour"] = portCount * 3600 / (span + kReopenPause);
}
BENCHMARK(BM_PhonesAtOnce)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Station mode for `seconds`: phones per hour from the log's successful endings, per port from its first to
// its last ending, summed over the ports.
void BM_StationPhonesPerHour(benchmark::State& state) {
    const auto seconds = std::chrono::seconds(state.range(0));
    for (auto _ : state) {
        Rig rig(frameCount, true);
        if (!rig.ok) return state.SkipWithError("a simulated phone did not start");
        rig.launch(true);
        std::this_thread::sleep_for(seconds);
        ::kill(rig.pid, SIGTERM);
        double cpu = 0;
        rig.finish(&cpu);
        std::ifstream log(rig.path + ".jsonl");
        std::vector<std::vector<double>> ends(static_cast<std::size_t>(portCount));
        int failures = 0;
        for (std::string line; std::getline(log, line);) {
            const auto field = [&](const std::string& key) {
                const std::size_t at = line.find("\"" + key + "\": ");
                return at == std::string::npos ? std::string() : line.substr(at + key.size() + 4, 40);
            };
            if (field("result").rfind("\"success\"", 0) != 0) {
                failures += field("result").rfind("\"aborted\"", 0) != 0;
                continue;
            }
            for (int k = 0; k < portCount; ++k)
                if (field("port").rfind("\"" + rig.sims[k]->slavePath() + "\"", 0) == 0) {
                    // "...T12:34:56.789Z": seconds of the day are enough within one run.
                    const std::string t = field("ended").substr(12, 12);
                    ends[k].push_back(std::stod(t.substr(0, 2)) * 3600 + std::stod(t.substr(3, 2)) * 60 +
                                      std::stod(t.substr(6, 6)));
                }
        }
        double perHour = 0, phones = 0;
        for (const auto& e : ends) {
            phones += static_cast<double>(e.size());
            if (e.size() >= 2) perHour += static_cast<double>(e.size() - 1) / (e.back() - e.front()) * 3600;
        }
        state.counters["phones"] = phones;
        state.counters["failures"] = failures;
        state.counters["phones_per_hour"] = perHour;
        state.counters["cli_cpu_pct_of_core"] = cpu / rig.wall * 100;
        state.SetIterationTime(rig.wall);
    }
}
BENCHMARK(BM_StationPhonesPerHour)->Arg(150)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // PORTS and FRAMES come first; the rest is the benchmark library's. Only the run of PORTS phones at once
    // unless a filter is given.
    std::vector<char*> args{argv[0]};
    int positional = 0;
    bool filtered = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!arg.empty() && arg[0] != '-' && positional < 2) {
            ++positional;
            if (positional == 1) portCount = std::max(1, std::atoi(arg.c_str()));
            if (positional == 2) frameCount = static_cast<std::size_t>(std::max(1, std::atoi(arg.c_str())));
            continue;
        }
        filtered = filtered || arg.rfind("--benchmark_filter", 0) == 0;
        args.push_back(argv[i]);
    }
    static char onlyAtOnce[] = "--benchmark_filter=BM_PhonesAtOnce";
    if (!filtered) args.push_back(onlyAtOnce);
    // A real phone has a processor of its own: the simulated ones must not be what a busy machine starves,
    // or the figures would tell of them and not of the program. Their threads inherit this (when allowed).
    ::setpriority(PRIO_PROCESS, 0, kPhonesNice);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    std::printf("%d ports, %zu frames of 258 bytes\n", portCount, frameCount);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
