// A Panel that records every call as one line of text, in order, so a test can compare a whole session's
// panel traffic with the expected transcript. Thread-safe; progress is tracked like the window's bar.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/panel.h"

class RecordingPanel : public Panel {
  public:
    void setStatus(const std::string& text) override { record("status " + text); }
    void setFieldText(int control, const std::string& text) override {
        record("field " + std::to_string(control) + " '" + text + "'");
    }
    void clearImageFields() override { record("clearImageFields"); }
    void progressStart(std::uint32_t range) override {
        std::lock_guard lock(mutex_);
        range_ = range;
        position_ = 0;
        add("progressStart " + std::to_string(range));
    }
    void progressStep() override {
        std::lock_guard lock(mutex_);
        position_ = position_ + 1 > range_ ? 0 : position_ + 1;
        if (position_ == 0) ++wraps_;
        add("progressStep");
    }
    void progressReset() override {
        std::lock_guard lock(mutex_);
        position_ = 0;
        add("progressReset");
    }
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        record("message " + caption + (icon == MessageIcon::Error ? " (error) " : " (none) ") + text);
    }
    char selectedPortDigit() override {
        record("selectedPortDigit");
        return '1';
    }
    void setControlEnabled(int control, bool enabled) override {
        record("enable " + std::to_string(control) + (enabled ? " on" : " off"));
    }
    void setControlVisible(int control, bool visible) override {
        record("visible " + std::to_string(control) + (visible ? " on" : " off"));
    }
    void redrawPanel() override { record("redraw"); }

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    std::uint32_t wraps() const {
        std::lock_guard lock(mutex_);
        return wraps_;
    }
    // Which thread the calls ran on (for the executor tests).
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    // Blocks until a line recorded at index `from` or later equals `line` (or `timeoutMs` passes).
    bool waitFor(const std::string& line, int timeoutMs, std::size_t from = 0) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (std::size_t i = from; i < calls_.size(); ++i)
                if (calls_[i] == line) return true;
            return false;
        });
    }
    void clear() {
        std::lock_guard lock(mutex_);
        calls_.clear();
        threads_.clear();
    }

  private:
    void record(std::string line) {
        std::lock_guard lock(mutex_);
        add(std::move(line));
    }
    void add(std::string line) {
        calls_.push_back(std::move(line));
        threads_.push_back(std::this_thread::get_id());
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::vector<std::thread::id> threads_;
    std::uint32_t range_ = 0;
    std::uint32_t position_ = 0;
    std::uint32_t wraps_ = 0;
};
