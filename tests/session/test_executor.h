// A stand-in for a window's event loop: one thread that runs posted closures in order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "session/session_control.h"

// A panel thread that runs posted closures one after another, like a window's event loop.
class TestExecutor {
  public:
    TestExecutor() : thread_([this] { loop(); }) {}
    ~TestExecutor() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    UiExecutor executor() {
        return [this](std::function<void()> f) {
            {
                std::lock_guard lock(mutex_);
                queue_.push_back(std::move(f));
            }
            changed_.notify_all();
        };
    }
    // Runs `f` on the panel thread and waits for it.
    void runOnPanelThread(std::function<void()> f) {
        std::atomic<bool> done{false};
        executor()([&] {
            f();
            done = true;
        });
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void pause(bool paused) {
        {
            std::lock_guard lock(mutex_);
            paused_ = paused;
        }
        changed_.notify_all();
    }
    std::thread::id id() const { return thread_.get_id(); }

  private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || (!paused_ && !queue_.empty()); });
            if (stop_) return;
            auto f = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            f();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool stop_ = false;
    bool paused_ = false;
    std::thread thread_;
};
