// How fast an interrupt frees the serial link: from interrupt() to the return of a pending readReply (shipped
// 200 x 200 ms rule) and of a write stalled on a full pseudo-terminal. Also the simulated phone's intake rate
// at 115200 baud, which the streaming figures rest on. Manual time: one iteration = one latency.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "serial/serial_link.h"
#include "sim_line.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::grantpt(master);
        ::unlockpt(master);
        path = ::ptsname(master);
        termios raw{};
        ::tcgetattr(master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master, TCSANOW, &raw);
    }
    ~Pty() { ::close(master); }
    int master = -1;
    std::string path;
};

// `operation` blocks on the link; the interrupt comes `lead` later; the iteration's time is interrupt ->
// return.
template <typename Operation>
void measureWake(benchmark::State& state, Operation operation) {
    Pty pty;
    SerialLink link;
    link.setPortResolver([&](char) { return pty.path; });
    if (!link.open('1', kFastSpeed)) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        link.clearInterrupt();
        auto pending = std::async(std::launch::async, [&] {
            operation(link);
            return Clock::now();
        });
        std::this_thread::sleep_for(30ms);
        const Clock::time_point interrupted = Clock::now();
        link.interrupt();
        const Clock::time_point returned = pending.get();
        latencies.push_back(std::chrono::duration<double>(returned - interrupted).count());
        state.SetIterationTime(latencies.back());
        ::tcflush(pty.master, TCIOFLUSH);
    }
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) return;
    state.counters["median_us"] = latencies[latencies.size() / 2] * 1e6;
    state.counters["max_us"] = latencies.back() * 1e6;
}

void PendingReadWake(benchmark::State& state) {
    measureWake(state, [](SerialLink& link) { link.readReply(); });
}
BENCHMARK(PendingReadWake)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

void StalledWriteWake(benchmark::State& state) {
    const std::vector<std::uint8_t> block(1 << 20,
                                          0x5A);  // nobody reads: the write stalls once the buffer is full
    measureWake(state, [&](SerialLink& link) { link.write(block.data(), block.size()); });
}
BENCHMARK(StalledWriteWake)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// Bytes per second the simulated phone takes in at 115200 baud while a writer keeps its line full.
void SimIntakeAtFastRate(benchmark::State& state) {
    const std::size_t total = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        SimLine line;
        std::string error;
        if (!line.create("", error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        line.setRate(11520);
        const int slave = ::open(line.slavePath().c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        auto writer = std::async(std::launch::async, [&] {
            const std::vector<std::uint8_t> data(total, 0xA5);
            for (std::size_t at = 0; at < total;) {
                const ssize_t n = ::write(slave, data.data() + at, total - at);
                if (n <= 0) break;
                at += static_cast<std::size_t>(n);
            }
        });
        std::vector<std::uint8_t> sink(4096);
        std::size_t taken = 0;
        const Clock::time_point start = Clock::now();
        while (taken < total) {
            std::size_t n = 0;
            if (line.readSome(sink.data(), sink.size(), Clock::now() + 2s, n) != SimLine::Status::Ok) break;
            taken += n;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        writer.get();
        ::close(slave);
        state.SetIterationTime(seconds);
        state.counters["bytes_per_second"] = static_cast<double>(taken) / seconds;
        state.counters["vs_11520"] = static_cast<double>(taken) / seconds / 11520.0;
    }
}
BENCHMARK(SimIntakeAtFastRate)->Arg(200000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
