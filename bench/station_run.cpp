// phone-updater-cli flash over four simulated phones at the emulated line rate, the program run as it ships:
// - each session's streaming efficiency: (frame bytes / 11,520 B/s) / the time the frames took to reach its
//   phone, measured at the phone from the first frame byte to the last (target >= 0.99 each);
// - the CPU the program used for the whole run, as a share of one core (target < 5 %);
// - in station mode (--repeat, each phone followed by the next), phones per hour over the four ports.
// Manual time: one iteration = one whole run.
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
constexpr int kPorts = 4;

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
        for (int k = 0; k < kPorts; ++k) {
            PhoneSimOptions o;
            o.powerOnDelay = 20ms;
            std::string error;
            setExpectedImage(o, image, error);
            o.repeat = station;
            // A new phone each time: two IMEIs in turn never repeat back to back.
            o.imeiCycle = {"49015420323751" + std::to_string(k), "49015420323752" + std::to_string(k)};
            sims.push_back(std::make_unique<PhoneSim>(o));
            ok = sims.back()->start(error) && ok;
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

void BM_FourPhonesAtOnce(benchmark::State& state) {
    const std::size_t frames = static_cast<std::size_t>(state.range(0));
    const std::size_t before = bytesBeforeFrames(), frameBytes = frames * 258;
    double worst = 1, sum = 0, cpuShare = 0;
    for (auto _ : state) {
        Rig rig(frames, false);
        if (!rig.ok) return state.SkipWithError("a simulated phone did not start");
        rig.launch(false);
        // Sample every phone's intake until each has every frame byte.
        std::vector<Clock::time_point> first(kPorts), last(kPorts);
        for (int done = 0; done < kPorts && Clock::now() - rig.started < 600s;) {
            done = 0;
            const Clock::time_point now = Clock::now();
            for (int k = 0; k < kPorts; ++k) {
                const std::size_t received = rig.sims[k]->bytesReceived();
                if (first[k] == Clock::time_point{} && received > before) first[k] = now;
                if (last[k] == Clock::time_point{} && received >= before + frameBytes) last[k] = now;
                done += last[k] != Clock::time_point{};
            }
            std::this_thread::sleep_for(200us);
        }
        double cpu = 0;
        if (rig.finish(&cpu) != 0) return state.SkipWithError("not every session succeeded");
        for (int k = 0; k < kPorts; ++k) {
            // The first sample already saw one byte arrive: count the stream from one byte earlier.
            const double took =
                std::chrono::duration<double>(last[k] - first[k]).count() + 1.0 / kFastLineRate;
            const double efficiency = (static_cast<double>(frameBytes) / kFastLineRate) / took;
            state.counters["eff_port" + std::to_string(k + 1)] = efficiency;
            worst = std::min(worst, efficiency);
            sum += efficiency;
        }
        cpuShare = cpu / rig.wall;
        state.SetIterationTime(rig.wall);
    }
    state.counters["eff_worst"] = worst;
    state.counters["eff_mean"] = sum / (kPorts * static_cast<double>(state.iterations()));
    state.counters["cli_cpu_pct_of_core"] = cpuShare * 100;
}
BENCHMARK(BM_FourPhonesAtOnce)->Arg(775)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Station mode for `seconds`: phones per hour from the log's successful endings, per port from its first to
// its last ending, summed over the ports.
void BM_StationPhonesPerHour(benchmark::State& state) {
    const auto seconds = std::chrono::seconds(state.range(1));
    for (auto _ : state) {
        Rig rig(static_cast<std::size_t>(state.range(0)), true);
        if (!rig.ok) return state.SkipWithError("a simulated phone did not start");
        rig.launch(true);
        std::this_thread::sleep_for(seconds);
        ::kill(rig.pid, SIGTERM);
        double cpu = 0;
        rig.finish(&cpu);
        std::ifstream log(rig.path + ".jsonl");
        std::vector<std::vector<double>> ends(kPorts);
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
            for (int k = 0; k < kPorts; ++k)
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
BENCHMARK(BM_StationPhonesPerHour)
    ->Args({775, 150})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
