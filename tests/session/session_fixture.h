// One updater (SessionControl and a recording panel) against one simulated phone on a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <thread>

#include "session/session_control.h"
#include "tests/support/sample_image.h"
#include "tools/phone-sim/phone_sim.h"

namespace session_test {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using sample::Bytes;

// Records every panel call as one line of text, in order, with the thread it ran on. Thread-safe; progress is
// tracked like the window's bar.
class RecordingPanel : public Panel {
  public:
    void setStatus(const std::string& text) override { add("status " + text); }
    void setFieldText(int id, const std::string& text) override {
        add("field " + std::to_string(id) + " '" + text + "'");
    }
    void clearImageFields() override { add("clearImageFields"); }
    void progressStart(std::uint32_t range) override {
        add("progressStart " + std::to_string(range), [&] { range_ = range, position_ = 0; });
    }
    void progressStep() override {
        add("progressStep", [&] { wraps_ += (position_ = position_ + 1 > range_ ? 0 : position_ + 1) == 0; });
    }
    void progressReset() override {
        add("progressReset", [&] { position_ = 0; });
    }
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        add("message " + caption + (icon == MessageIcon::Error ? " (error) " : " (none) ") + text);
    }
    char selectedPortDigit() override {
        add("selectedPortDigit");
        return '1';
    }
    void setControlEnabled(int id, bool on) override {
        add("enable " + std::to_string(id) + (on ? " on" : " off"));
    }
    void setControlVisible(int id, bool on) override {
        add("visible " + std::to_string(id) + (on ? " on" : " off"));
    }
    void redrawPanel() override { add("redraw"); }

    Lines calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t size() const { return calls().size(); }
    unsigned wraps() const {
        std::lock_guard lock(mutex_);
        return wraps_;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    // Waits until a line recorded at index `from` or later equals `line`.
    bool waitFor(const std::string& line, std::chrono::milliseconds timeout, std::size_t from = 0) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::find(calls_.begin() + from, calls_.end(), line) != calls_.end();
        });
    }

  private:
    void add(std::string line, const std::function<void()>& also = {}) {
        std::lock_guard lock(mutex_);
        if (also) also();
        calls_.push_back(std::move(line));
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Lines calls_;
    std::vector<std::thread::id> threads_;
    std::uint32_t range_ = 0, position_ = 0;
    unsigned wraps_ = 0;
};

// A panel thread that runs posted closures in order, like a window's event loop; it can be held busy.
class TestExecutor {
  public:
    TestExecutor() : thread_([this] { loop(); }) {}
    ~TestExecutor() {
        post({});
        thread_.join();
    }
    UiExecutor executor() {
        return [this](std::function<void()> f) { post(std::move(f)); };
    }
    void run(const std::function<void()>& f) {  // on the panel thread, waiting for it
        std::promise<void> done;
        post([&] { f(), done.set_value(); });
        done.get_future().wait();
    }
    void pause(bool paused) {
        std::lock_guard lock(mutex_);
        paused_ = paused;
        changed_.notify_all();
    }
    std::thread::id id() const { return thread_.get_id(); }

  private:
    void post(std::function<void()> f) {  // an empty closure stops the loop
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(f));
        changed_.notify_all();
    }
    void loop() {
        for (std::unique_lock lock(mutex_);;) {
            changed_.wait(lock, [&] { return !paused_ && !queue_.empty(); });
            auto f = std::move(queue_.front());
            queue_.pop_front();
            if (!f) return;
            lock.unlock();
            f();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool paused_ = false;
    std::thread thread_;
};

inline const std::string kHint = kBatteryHint;

inline Lines startLines() {
    return {"field 1051 'Abort'", "enable 1056 off", "enable 1018 off", "enable 1019 off",
            "enable 1020 off",    "enable 1021 off", "progressReset",   "redraw"};
}

inline Lines idleLines() {
    return {"progressReset",       "field 1051 'Update'", "enable 1056 on", "enable 1018 on",
            "enable 1019 on",      "enable 1020 on",      "enable 1021 on", "field 1007 ''",
            "field 1003 'CLOSED'", "field 1004 ''",       "status Ready",   "redraw"};
}

inline Lines operator+(Lines left, const Lines& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// Up to the power-on wait.
inline Lines openingLines() {
    return startLines() + Lines{"field 1058 ''",     "field 1002 ''",     "field 1008 ''",
                                "selectedPortDigit", "field 1003 '9600'", "status Power ON the phone ..."};
}

// The whole panel transcript of a successful session.
inline Lines successTranscript(bool a1018s, std::int32_t frames, const std::string& imei) {
    Lines t = openingLines() + Lines{a1018s ? "field 1058 ' A1018s detected'" : "field 1058 ' T1x detected'",
                                     "status Entering boot mode ...", "status Waiting for handshake ...",
                                     "status Sending boot appliation ...", "progressStart 57"};
    t.insert(t.end(), 58, "progressStep");
    t = t + Lines{"progressReset",
                  "field 1004 'BOOT CXC132611'",
                  "status Changing baud rate ...",
                  "field 1003 '115200'",
                  "status Sending service application ...",
                  "progressStart 135"};
    t.insert(t.end(), 136, "progressStep");
    t = t + Lines{"progressReset",
                  "field 1004 'SAPP CXC1320633'",
                  "status Reading IMEI ...",
                  "field 1002 '" + imei + "'",
                  "status Erasing flash ...",
                  "status Blank checking ...",
                  "status Updating software ...",
                  "progressStart " + std::to_string(frames)};
    for (std::int32_t k = 1; k <= frames; ++k)
        t = t + Lines{"field 1007 '" + std::to_string(k) + "'", "progressStep"};
    return t + Lines{"progressReset", "status Formating EEPROM ...", "status CRC checking ..."} +
           idleLines() + Lines{"message Success (none) Software updated completed"};
}

// The simulated phone without line-rate emulation; the erase takes well over a 200 ms window, so a busy
// machine cannot merge its two replies.
inline PhoneSimOptions phoneOptions(PhoneKind model = PhoneKind::T1x) {
    PhoneSimOptions o;
    o.model = model;
    o.emulateLineRate = false;
    o.powerOnDelay = 20ms;
    o.powerOnInterval = 300ms;
    o.eraseTime = 1000ms;
    o.hangupGrace = 500ms;
    return o;
}

// Header, `frames` data frames of `length` bytes each (at least 6), termination.
inline FlashImage withFrames(int frames, std::size_t length = 40) {
    return sample::flashImage(sample::image(frames, "HDR", length - 6));
}

class SessionFixture : public ::testing::Test {
  protected:
    void TearDown() override {
        control.reset();  // before the executor and the phone it talks to
        ui.reset();
        sim.reset();
    }
    void startPhone(PhoneSimOptions options) {
        std::string error;
        ASSERT_TRUE(image.size == 0 || setExpectedImage(options, image, error)) << error;
        sim = std::make_unique<PhoneSim>(std::move(options));
        ASSERT_TRUE(sim->start(error)) << error;
        if (control) control->link().setPortResolver([path = sim->slavePath()](char) { return path; });
    }
    // Short windows keep silent-phone cases quick; five of 200 ms still outlast the erase.
    void makeControl(bool withExecutor = false, ReadRule rule = {5, 200}) {
        if (withExecutor) ui = std::make_unique<TestExecutor>();
        control = std::make_unique<SessionControl>(panel, withExecutor ? ui->executor() : UiExecutor{});
        control->link().setPortResolver(
            [path = sim ? sim->slavePath() : "/dev/null/no-such-port"](char) { return path; });
        control->link().setReadRule(rule);
    }
    void onPanelThread(const std::function<void()>& f) { ui ? ui->run(f) : f(); }
    void start() {
        onPanelThread([&] { control->startSession(image); });
    }
    std::chrono::milliseconds abort() {  // how long abortSession took
        const auto begin = std::chrono::steady_clock::now();
        onPanelThread([&] { control->abortSession(); });
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     begin);
    }
    int runToEnd() {
        start();
        return control->waitForEnd();
    }
    // For failure output: where the updater and the phone were.
    std::string diagnosis() const {
        const Lines all = panel.calls();
        std::string text = "last panel calls:";
        for (std::size_t i = all.size() > 12 ? all.size() - 12 : 0; i < all.size(); ++i)
            text += " [" + all[i] + "]";
        return sim ? text + "; phone at " + stepName(sim->step()) + ": " + sim->verdict().text() : text;
    }
    Lines linesFrom(std::size_t from) const {
        const Lines all = panel.calls();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end());
    }
    std::size_t indexOf(const std::string& line) const {
        const Lines all = panel.calls();
        return static_cast<std::size_t>(std::find(all.begin(), all.end(), line) - all.begin());
    }
    std::string lastStatusBefore(std::size_t end) const {
        const Lines all = panel.calls();
        for (std::size_t i = std::min(end, all.size()); i-- > 0;)
            if (all[i].rfind("status ", 0) == 0) return all[i].substr(7);
        return {};
    }
    // The bytes the phone took stop growing: nothing more reaches the line.
    void expectLineQuiet() {
        const std::size_t received = sim->bytesReceived();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(sim->bytesReceived(), received) << "bytes reached the phone after the ending";
    }

    RecordingPanel panel;
    FlashImage image = withFrames(40);
    std::unique_ptr<PhoneSim> sim;
    std::unique_ptr<TestExecutor> ui;
    std::unique_ptr<SessionControl> control;
};

}  // namespace session_test
