// The panel as a terminal shows it: status texts and changed fields one per line on stderr, message boxes as
// "Caption: text", and a progress bar when stderr is a terminal. Thread-safe: the session's worker calls it
// directly, under the lock that Abort takes, so it only queues the text; a thread of its own writes it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "station/output_queue.h"
#include "station/station_port.h"

class TerminalPanel final : public LonePanel {
  public:
    TerminalPanel(int fd, bool drawProgress);

    void setStatus(const std::string& text) override;
    void setFieldText(int control, const std::string& text) override;
    void progressStart(std::uint32_t range) override;
    void progressStep() override;
    void progressReset() override;
    void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;

    // Writes a line of its own (e.g. why a port would not open), keeping the bar out of the way.
    void note(const std::string& line) override;
    // Writes what is queued (see OutputQueue::finish); false when not all of it could be written.
    bool finish();

  private:
    void printLine(const std::string& line);  // mutex held
    void drawBar();                           // mutex held
    void clearBar();                          // mutex held

    std::mutex mutex_;
    const bool drawProgress_;
    std::map<int, std::string> fields_;
    std::uint32_t range_ = 0;
    std::uint32_t position_ = 0;
    bool barShown_ = false;
    int lastDrawnWidth_ = -1;
    OutputQueue out_;  // last: its writer stops before the state above goes
};
