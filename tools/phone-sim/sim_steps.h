// The conversation as the phone sees it: what it waits for at each step and what it answers.
#pragma once

#include <optional>
#include <string>

// In the order they happen. Each step names what the phone waits for; its reply follows that input.
enum class SimStep {
    WaitingForUpdater,   // nobody has opened the line yet
    PowerOn,             // sends its power-on byte ('T' or 'U') until the updater speaks
    LoadRequest,         // "0B" -> "R"
    BootParameters,      // 0x00 0x03 -> 0x00 0x02
    ZeroBlock,           // 64 zero bytes -> any 3 bytes
    SecondZeroBlock,     // 64 zero bytes -> handshake "S"
    BootApplication,     // the boot application -> prompt
    SpeedChange,         // "C27", no reply; the line goes to 115200
    WakeUp,              // "\r" -> prompt
    ServiceLoadRequest,  // "0B" -> "R"
    ServiceApplication,  // the service application -> prompt
    ServiceStart,        // "Q" -> prompt
    Imei,                // "I1" (T1x) or "I0" (A1018s) -> 15 digits and prompt
    Erase,               // "D" -> acknowledge
    EraseDone,           // (nothing) -> prompt, ~0.6 s after the acknowledge
    BlankCheck,          // "E" -> "\r\nE9\r\n>"
    StreamStart,         // the header frame's first 2 bytes -> acknowledge
    Frames,              // every frame, then the termination frame's first 2 bytes -> prompt
    Format,              // "N" -> prompt
    FinalCheck,          // "E" -> "\r\nE9\r\n>"
    Quit,                // "Q", no reply
    Done,
};

const char* stepName(SimStep step);  // e.g. "final-check"
std::optional<SimStep> stepFromName(const std::string& name);

enum class PhoneKind { T1x, A1018s };

inline constexpr char kPrompt[] = "\r\n>";
inline constexpr char kAcknowledge[] = "\r\n!";
inline constexpr char kCheckPassed[] = "\r\nE9\r\n>";

// The reply a sound phone gives at `step` (empty for steps without one). Imei needs the phone's digits.
std::string correctReply(SimStep step, PhoneKind kind, const std::string& imei);
// A reply the updater must not accept: same shape, wrong content (or wrong length where content is free).
std::string wrongReply(SimStep step, PhoneKind kind, const std::string& imei);
