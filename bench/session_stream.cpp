// Whole-session figures against the simulated phone on a pseudo-terminal:
// - streaming efficiency: (frame bytes / 11,520 B/s) / the time the frames took to reach the throttled phone,
//   measured at the phone from the first frame byte to the last (target >= 0.99); optionally with CPU-bound
//   threads running beside the session, and with the worker's priority raise undone to compare;
// - abort latency: abortSession() from press to idle, port closed, with the worker in a pending read and in a
//   write stalled on a line that stopped reading (target < 50 ms).
// Manual time: one iteration = one stream or one abort.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/frame_builder.h"
#include "session/control_ids.h"
#include "session/session_control.h"
#include "tools/phone-sim/phone_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kFastLineRate = 11'520.0;  // bytes per second at 115200 baud, 8N1

// A panel that only notices the two things the benchmark waits for.
class WatchPanel : public Panel {
  public:
    void setStatus(const std::string& text) override {
        if (text == "Updating software ...") streaming = true;
    }
    void setFieldText(int control, const std::string& text) override {
        // The worker's first call: undo its priority raise when asked, to measure what the raise is worth.
        if (control == IDC_PHONE && text.empty() && !raised)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), normalNice);
        if (control == IDC_FRAMESSENT && !text.empty()) {
            framesSent = std::stol(text);
            workerNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        }
    }
    void clearImageFields() override {}
    void progressStart(std::uint32_t) override {}
    void progressStep() override {}
    void progressReset() override {}
    void showMessage(const std::string&, const std::string&, MessageIcon) override {}
    char selectedPortDigit() override { return '1'; }
    void setControlEnabled(int, bool) override {}
    void setControlVisible(int, bool) override {}
    void redrawPanel() override {}

    std::atomic<bool> streaming{false};
    std::atomic<long> framesSent{0};
    std::atomic<int> workerNice{0};  // as seen while streaming
    bool raised = true;
    const int normalNice = getpriority(PRIO_PROCESS, 0);  // of the thread that makes the panel
};

// The phone is not on this machine: its simulation (every thread but this one, before the session starts) is
// kept out of the contest for the CPU, the same way whether or not the worker keeps its raise.
void raisePhoneThreads() {
    const auto self = std::to_string(gettid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        if (entry.path().filename() == self) continue;
        sched_param param{};
        param.sched_priority = sched_get_priority_max(SCHED_FIFO) / 2;
        sched_setscheduler(std::stoi(entry.path().filename().string()), SCHED_FIFO, &param);
    }
}

// The calling thread's scheduling for as long as this lives.
class SchedulingFor {
  public:
    SchedulingFor(int policy, int priority) {
        pthread_getschedparam(pthread_self(), &policy_, &param_);
        sched_param param{};
        param.sched_priority = priority;
        pthread_setschedparam(pthread_self(), policy, &param);
    }
    ~SchedulingFor() { pthread_setschedparam(pthread_self(), policy_, &param_); }

  private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
};

// CPU-bound threads at the process's normal priority, as a busy machine has them beside the updater.
class Spinners {
  public:
    explicit Spinners(int count) {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] {
                volatile unsigned long sink = 0;
                while (!stop_) sink = sink + 1;
            });
    }
    ~Spinners() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Header frame of 20 bytes, `frames` frames of `length` bytes, termination frame of 8.
FlashImage makeImage(std::size_t frames, std::size_t length) {
    FlashImage image;
    appendFrame(image.data, '0', 20, 0);
    for (std::size_t k = 0; k < frames; ++k)
        appendFrame(image.data, '3', length, static_cast<std::uint32_t>(k));
    appendFrame(image.data, '7', 8, 0);
    image.size = static_cast<std::uint32_t>(image.data.size());
    image.frameCount = static_cast<std::int32_t>(frames);
    return image;
}

struct Rig {
    Rig(const FlashImage& image, PhoneSimOptions options, ReadRule rule) {
        std::string error;
        setExpectedImage(options, image, error);
        sim = std::make_unique<PhoneSim>(options);
        ok = sim->start(error);
        control = std::make_unique<SessionControl>(panel);
        control->link().setPortResolver([path = sim->slavePath()](char) { return path; });
        control->link().setReadRule(rule);
    }
    ~Rig() {
        control.reset();
        sim.reset();
    }
    WatchPanel panel;
    std::unique_ptr<PhoneSim> sim;
    std::unique_ptr<SessionControl> control;
    bool ok = false;
};

// Bytes the updater sends before the first data frame (both loaders' sizes included).
std::size_t bytesBeforeFrames(const Payloads& p) {
    return 2 + 2 + 64 + 64 + p.boot.size + 3 + 1 + 2 + p.service.size + 1 + 2 + 1 + 1 + 2;
}

// Arguments: frames of 40 bytes, CPU-bound threads beside the session, 1 = the worker keeps its raised
// priority.
void BM_StreamingEfficiency(benchmark::State& state) {
    const FlashImage image =
        makeImage(static_cast<std::size_t>(state.range(0)), 40);  // ~200 KB of 40-byte frames
    const std::size_t frameBytes = image.size - 20 - 8;
    double efficiencySum = 0;
    double niceSum = 0;
    for (auto _ : state) {
        PhoneSimOptions options;
        options.model = PhoneKind::T1x;
        options.powerOnDelay = 20ms;
        Rig rig(image, options, ReadRule{});
        if (!rig.ok) {
            state.SkipWithError("the simulated phone did not start");
            return;
        }
        rig.panel.raised = state.range(2) != 0;
        raisePhoneThreads();
        Spinners busy(static_cast<int>(state.range(1)));
        const std::size_t before = bytesBeforeFrames(rig.control->payloads());
        rig.control->startSession(image);
        // The sampling is part of the phone's side too (after the start: the worker must not inherit it).
        const SchedulingFor sampling(SCHED_FIFO, sched_get_priority_max(SCHED_FIFO) / 2);
        // Sample the phone's intake until every frame byte is in.
        Clock::time_point first{}, last{};
        for (;;) {
            const std::size_t received = rig.sim->bytesReceived();
            const Clock::time_point now = Clock::now();
            if (first == Clock::time_point{} && received > before) first = now;
            if (received >= before + frameBytes) {
                last = now;
                break;
            }
            if (!rig.control->running()) break;
            std::this_thread::sleep_for(200us);
        }
        const int result = rig.control->waitForEnd();
        if (result != 0 || last == Clock::time_point{}) {
            state.SkipWithError("the session did not succeed");
            return;
        }
        // The first sample already saw one byte arrive: count the stream from one byte earlier.
        const double measured = std::chrono::duration<double>(last - first).count() + 1.0 / kFastLineRate;
        state.SetIterationTime(measured);
        efficiencySum += (static_cast<double>(frameBytes) / kFastLineRate) / measured;
        niceSum += rig.panel.workerNice;
    }
    state.counters["worker_nice"] = niceSum / static_cast<double>(state.iterations());
    state.counters["image_bytes"] = static_cast<double>(image.size);
    state.counters["efficiency"] = efficiencySum / static_cast<double>(state.iterations());
}
BENCHMARK(BM_StreamingEfficiency)
    ->ArgNames({"frames", "busy_threads", "raised"})
    ->Args({5000, 0, 1})
    ->Args({5000, 2, 1})
    ->Args({5000, 2, 0})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

bool waitUntilQuiet(Rig& rig, const PhoneSimOptions& options) {
    const auto deadline = Clock::now() + 20s;
    if (options.stallAfterFrames >= 0) {
        // Stalled: the frame counter stops moving once the line's buffers are full.
        while (rig.panel.framesSent < options.stallAfterFrames && Clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        long seen = -1;
        while (rig.panel.framesSent != seen && Clock::now() < deadline) {
            seen = rig.panel.framesSent;
            std::this_thread::sleep_for(150ms);
        }
        return Clock::now() < deadline;
    }
    const bool reached = rig.sim->waitForStep(SimStep::Imei, 20s);
    std::this_thread::sleep_for(100ms);  // the IMEI request is in; the worker now waits in its read
    return reached;
}

// Press Abort once the session sits in its wait; the iteration's time is abortSession()'s duration.
template <typename Setup>
void measureAbort(benchmark::State& state, const FlashImage& image, Setup setup) {
    double worst = 0;
    for (auto _ : state) {
        PhoneSimOptions options;
        options.model = PhoneKind::A1018s;
        options.emulateLineRate = false;
        options.powerOnDelay = 10ms;
        setup(options);
        Rig rig(image, options, ReadRule{});  // the shipped 200 x 200 ms rule: a read would wait 40 s
        if (!rig.ok) {
            state.SkipWithError("the simulated phone did not start");
            return;
        }
        rig.control->startSession(image);
        if (!waitUntilQuiet(rig, options)) {
            state.SkipWithError("the session never reached the wait");
            return;
        }
        const Clock::time_point pressed = Clock::now();
        rig.control->abortSession();
        const double took = std::chrono::duration<double>(Clock::now() - pressed).count();
        if (rig.control->link().isOpen()) state.SkipWithError("the port was left open");
        state.SetIterationTime(took);
        worst = std::max(worst, took);
    }
    state.counters["worst_ms"] = worst * 1000;
}

void BM_AbortFromPendingRead(benchmark::State& state) {
    const FlashImage image = makeImage(50, 40);
    measureAbort(state, image,
                 [](PhoneSimOptions& o) { o.replyFaults[SimStep::Imei] = ReplyFault::Missing; });
}
BENCHMARK(BM_AbortFromPendingRead)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_AbortFromStalledWrite(benchmark::State& state) {
    const FlashImage image = makeImage(4000, 258);
    measureAbort(state, image, [](PhoneSimOptions& o) { o.stallAfterFrames = 20; });
}
BENCHMARK(BM_AbortFromStalledWrite)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
