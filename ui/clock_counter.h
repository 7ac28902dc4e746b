// The elapsed-time clock of a session: counts ticks from the phone's detection, minutes 8 bits wide.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class ClockCounter {
  public:
    // One 1000 ms tick. While running, returns the text to show (the count before this tick's increase,
    // "%.2d:%.2d"); while stopped, zeroes the counters and returns nothing, so the field keeps its text.
    std::optional<std::string> tick(bool running);

    std::uint8_t minutes() const { return minutes_; }
    std::uint8_t seconds() const { return seconds_; }

  private:
    std::uint8_t minutes_ = 0;
    std::uint8_t seconds_ = 0;
};
