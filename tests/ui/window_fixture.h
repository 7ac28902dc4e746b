// A real main window for tests: timers stopped (tests tick by hand), message boxes and the file dialog
// replaced by recorders.
#pragma once

#include <QString>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ui/main_window.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageIcon icon;
    bool operator==(const ShownMessage&) const = default;
};

class WindowFixture {
  public:
    WindowFixture() {
        window.panel().stopTimers();
        show();
        window.panel().setMessageBoxFunction(
            [this](const std::string& text, const std::string& caption, MessageIcon icon) {
                messages.push_back({text, caption, icon});
                // What each box saw of the panel while it was up (the order of fields and boxes matters).
                statusAtMessage.push_back(panel().text(IDC_STATUS).toStdString());
                moduleAtMessage.push_back(panel().text(IDC_MODULE).toStdString());
                updateCaptionAtMessage.push_back(panel().text(IDC_UPDATE).toStdString());
            });
        window.setOpenFileFunction([this]() -> std::optional<std::string> {
            ++dialogsShown;
            statusAtDialog = panel().text(IDC_STATUS).toStdString();
            if (dialogAnswers.empty()) return std::nullopt;
            std::optional<std::string> answer = dialogAnswers.front();
            dialogAnswers.pop_front();
            return answer;
        });
    }

    ControlPanel& panel() { return window.panel(); }
    std::string text(int id) { return panel().text(id).toStdString(); }
    bool enabled(int id) { return panel().control(id)->isEnabled(); }

    // Presses Load SW with the dialog answering `path` (nothing: cancelled).
    void load(std::optional<std::string> path) {
        dialogAnswers.push_back(std::move(path));
        clickButton(IDC_LOADSW);
    }
    void clickButton(int id);
    void show();

    MainWindow window;
    std::vector<ShownMessage> messages;
    std::vector<std::string> statusAtMessage;
    std::vector<std::string> moduleAtMessage;
    std::vector<std::string> updateCaptionAtMessage;
    std::deque<std::optional<std::string>> dialogAnswers;
    int dialogsShown = 0;
    std::string statusAtDialog;
};
