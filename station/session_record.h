// The records of a multi-port run: one JSON object per line, the same shape for the state changes that
// --events prints and the finished sessions that --log appends. The shape is documented in cli/help.txt;
// keep the two in step.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "image/flash_image.h"

using WallClock = std::chrono::system_clock;

// The image every port sends, as the records name it.
struct RecordImage {
    std::string file;  // as given on the command line
    ImageSummary summary;
};

// How a session ended, for the record.
// Idle: stopped before any phone announced itself (a port waiting at Ctrl-C), not an abort of a phone.
enum class SessionResult { Success, Failure, Aborted, SamePhone, Idle };

struct SessionRecord {
    bool ended = false;  // an "end" record, else a "state" record
    WallClock::time_point time;
    std::string port;
    std::string state;   // stable name, see stateName()
    std::string status;  // the status line as shown
    WallClock::time_point started;
    std::optional<WallClock::time_point> detected;
    std::optional<WallClock::time_point> endedAt;
    std::string model;  // "T1x" / "A1018s"; empty before detection
    std::string imei;   // 15 digits; empty before it is read
    std::int64_t framesSent = 0;
    std::uint64_t bytesSent = 0;
    std::optional<SessionResult> result;
    int code = -1;     // 0 or the failure code; -1 when there is none (aborted, same phone, running)
    std::string text;  // the ending's message
    // A failure's step (stable name, or "open", "image", "detected"); empty otherwise.
    std::string failedStep;
    // For a reply that failed its step: the bytes that came instead, in hex ("" when none came).
    std::optional<std::string> received;
};

// The stable name of a status line ("Erasing flash ..." -> "erase"); "busy" for a text it does not know.
std::string stateName(const std::string& status);

// One JSON object, no line end.
std::string recordJson(const SessionRecord& record, const RecordImage& image);

// 2026-01-31T23:59:59.123Z
std::string isoTime(WallClock::time_point time);
