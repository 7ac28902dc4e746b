#include "terminal_panel.h"

#include <algorithm>

namespace {
constexpr int kBarWidth = 40;
// A terminal stopped for minutes must not make the program hoard its lines.
constexpr std::size_t kMaxQueued = 10'000;
}  // namespace

const char* terminalFieldLabel(int control) {
    switch (control) {
        case IDC_PHONE:
            return "Phone";
        case IDC_IMEI:
            return "IMEI";
        case IDC_LINKSTATE:
            return "Link";
        case IDC_LOADER:
            return "Loader";
        default:
            return nullptr;
    }
}

std::string trimmedField(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

TerminalPanel::TerminalPanel(int fd, bool drawProgress, char portDigit)
    : drawProgress_(drawProgress), portDigit_(portDigit), out_(fd, kMaxQueued, [](std::size_t count) {
          return "(" + std::to_string(count) + " lines dropped)\n";
      }) {}

void TerminalPanel::setStatus(const std::string& text) {
    std::lock_guard lock(mutex_);
    printLine(text);
}

void TerminalPanel::setFieldText(int control, const std::string& text) {
    std::lock_guard lock(mutex_);
    const char* label = terminalFieldLabel(control);
    if (!label) return;
    std::string& shown = fields_[control];
    if (shown == text) return;
    shown = text;
    const std::string value = trimmedField(text);
    if (!value.empty()) printLine(std::string(label) + ": " + value);
}

void TerminalPanel::progressStart(std::uint32_t range) {
    std::lock_guard lock(mutex_);
    range_ = range;
    position_ = 0;
    if (drawProgress_) {
        barShown_ = true;
        lastDrawnWidth_ = -1;
        drawBar();
    }
}

void TerminalPanel::progressStep() {
    std::lock_guard lock(mutex_);
    // A step past the top starts the bar over, as the window's bar does.
    position_ = position_ + 1 > range_ ? 0 : position_ + 1;
    if (barShown_) drawBar();
}

void TerminalPanel::progressReset() {
    std::lock_guard lock(mutex_);
    position_ = 0;
    if (barShown_) clearBar();
    barShown_ = false;
}

void TerminalPanel::showMessage(const std::string& text, const std::string& caption, MessageIcon) {
    std::lock_guard lock(mutex_);
    printLine(caption + ": " + text);
}

void TerminalPanel::note(const std::string& line) {
    std::lock_guard lock(mutex_);
    printLine(line);
}

bool TerminalPanel::finish() {
    return out_.finish() == 0 && out_.ok();
}

void TerminalPanel::printLine(const std::string& line) {
    if (barShown_) clearBar();
    out_.push(line + "\n");
    if (barShown_) {
        lastDrawnWidth_ = -1;
        drawBar();
    }
}

void TerminalPanel::drawBar() {
    const int filled = range_ == 0 ? 0 : static_cast<int>(std::uint64_t{position_} * kBarWidth / range_);
    // Redraw only when the bar or its count changes visibly: a frame stream steps thousands of times.
    if (filled == lastDrawnWidth_ && position_ != range_ && position_ % 64 != 0) return;
    lastDrawnWidth_ = filled;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    out_.push("\r[" + bar + "] " + std::to_string(position_) + "/" + std::to_string(range_) + "\033[K");
}

void TerminalPanel::clearBar() {
    out_.push("\r\033[K");
}
