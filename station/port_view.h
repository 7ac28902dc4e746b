// What a station shows of each port and of itself: the port's state now, kept apart from the outcome of the
// last phone it had, and the station's totals.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

enum class PortActivity {
    Waiting,    // for a phone to announce itself
    Updating,   // a phone is being updated (the step says where)
    Stalled,    // updating, but not a byte moved either way for a while
    Done,       // the phone was updated
    Failed,     // the session failed (the detail says how)
    SamePhone,  // the phone just updated announced itself again
    NoDevice,   // the port cannot be opened (missing, held, no permission): tried again every second
    Stopped,    // aborted
};

enum class Outcome { None, Success, Failure, SamePhone, Aborted };

// The last phone a port had, once its session ended.
struct LastPhone {
    Outcome outcome = Outcome::None;
    std::string imei;  // 15 digits, or empty when it was not read
    std::string text;  // the ending's message
};

// One port, as its line shows it.
struct PortView {
    PortActivity state = PortActivity::Waiting;
    std::string step;    // while updating: the step's stable name ("streaming")
    std::string detail;  // failed: the message and where; no device: why; updating: the status line
    std::string model;   // "T1x" / "A1018s"
    std::string imei;    // 15 digits, once read
    std::uint32_t range = 0;
    std::uint32_t position = 0;
    std::chrono::seconds elapsed{-1};  // since the phone was detected; negative: no phone this session
    LastPhone last;
};

// The station's counts since it started: the header line.
struct StationTotals {
    int done = 0;
    int failed = 0;
    int samePhone = 0;
    std::chrono::seconds running{0};
};
