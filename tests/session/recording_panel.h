// A panel that records every call as one line of text, in order (the session tests and the session fuzz
// target compare whole transcripts with it).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "session/panel.h"

// Records every panel call as one line of text, in order. Thread-safe: the worker calls it directly.
class RecordingPanel : public Panel {
  public:
    void setStatus(const std::string& text) override { add("status " + text); }
    void setFieldText(int id, const std::string& text) override {
        add("field " + std::to_string(id) + " '" + text + "'");
    }
    void clearImageFields() override { add("clearImageFields"); }
    void progressStart(std::uint32_t range) override { add("progressStart " + std::to_string(range)); }
    void progressStep() override { add("progressStep"); }
    void progressReset() override { add("progressReset"); }
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        add("message " + caption + (icon == MessageIcon::Error ? " (error) " : " (none) ") + text);
    }
    void showDetailedMessage(const std::string& text, const std::string& detail, const std::string& caption,
                             MessageIcon icon) override {
        showMessage(text + "\n" + detail, caption, icon);
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

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t size() const { return calls().size(); }
    // Waits until a line recorded at index `from` or later equals `line`.
    bool waitFor(const std::string& line, std::chrono::milliseconds timeout, std::size_t from = 0) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::find(calls_.begin() + from, calls_.end(), line) != calls_.end();
        });
    }

  private:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(line));
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
};
