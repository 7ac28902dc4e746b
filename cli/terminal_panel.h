// The panel as a terminal shows it: status texts and changed fields one per line on stderr, message boxes as
// "Caption: text", and a progress bar when stderr is a terminal. Thread-safe: the session's worker calls it
// directly, under the lock that Abort takes, so it only queues the text; a thread of its own writes it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "cli/output_queue.h"
#include "session/panel.h"

// The fields a terminal user wants to follow, with the label each line gets; null for the others.
const char* terminalFieldLabel(int control);
// Field texts start with a space where the window pads them; a line does not need it.
std::string trimmedField(const std::string& text);

class TerminalPanel final : public Panel {
  public:
    TerminalPanel(int fd, bool drawProgress, char portDigit);

    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void clearImageFields() override {}
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    char selectedPortDigit() override { return portDigit_; }
    void setControlEnabled(int, bool) override {}
    void setControlVisible(int, bool) override {}
    void redrawPanel() override {}

    // Writes a line of its own (e.g. why a port would not open), keeping the bar out of the way.
    void note(const std::string& line);
    // Writes what is queued (see OutputQueue::finish); false when not all of it could be written.
    bool finish();

  private:
    void printLine(const std::string& line);  // mutex held
    void drawBar();                           // mutex held
    void clearBar();                          // mutex held

    std::mutex mutex_;
    const bool drawProgress_;
    const char portDigit_;
    std::map<int, std::string> fields_;
    std::uint32_t range_ = 0;
    std::uint32_t position_ = 0;
    bool barShown_ = false;
    int lastDrawnWidth_ = -1;
    OutputQueue out_;  // last: its writer stops before the state above goes
};
