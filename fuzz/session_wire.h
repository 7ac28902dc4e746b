// The session fuzzer's model of the wire: every exchange after the phone is detected, in order, with the
// reply it accepts and the failure code when it gets another.
#pragma once

#include <string_view>

namespace wire {

enum class Out { Command, Zeros, Boot, Service, Reopen, Imei, Header, Frames, Nothing };
enum class In { Exact, ThreeBytes, Imei, Any, None };
struct Row {
    const char* status;  // shown when the row begins; none: the step goes on
    Out out;
    std::string_view command;
    In in;
    std::string_view want;  // the reply accepted (Exact) or one a sound phone gives
    int code;               // when the reply is not accepted
    int field = 0;          // set once the reply is accepted
    const char* text = "";
};

inline constexpr std::string_view kPrompt = "\r\n>", kAcknowledge = "\r\n!", kCheckPassed = "\r\nE9\r\n>";
inline constexpr Row kRows[] = {
    {"Entering boot mode ...", Out::Command, "0B", In::Exact, "R", 2},
    {nullptr, Out::Command, {"\x00\x03", 2}, In::Exact, {"\x00\x02", 2}, 2},
    {nullptr, Out::Zeros, {}, In::ThreeBytes, "ok>", 2},
    {nullptr, Out::Zeros, {}, In::None, {}, 0},
    {"Waiting for handshake ...", Out::Nothing, {}, In::Exact, "S", 2},
    {"Sending boot appliation ...", Out::Boot, {}, In::Exact, kPrompt, 2, 1004, "BOOT CXC132611"},
    {"Changing baud rate ...", Out::Command, "C27", In::None, {}, 0},
    {nullptr, Out::Reopen, "\r", In::Exact, kPrompt, 2, 1003, "115200"},
    {"Sending service application ...", Out::Command, "0B", In::Exact, "R", 2},
    {nullptr, Out::Service, {}, In::Exact, kPrompt, 2, 1004, "SAPP CXC1320633"},
    {nullptr, Out::Command, "Q", In::Exact, kPrompt, 2},
    {"Reading IMEI ...", Out::Imei, {}, In::Imei, "490154203237518\r\n>", 2},
    {"Erasing flash ...", Out::Command, "D", In::Exact, kAcknowledge, 2},
    {nullptr, Out::Nothing, {}, In::Exact, kPrompt, 2},
    {"Blank checking ...", Out::Command, "E", In::Exact, kCheckPassed, 2},
    {"Updating software ...", Out::Header, {}, In::Exact, kAcknowledge, 2},
    {nullptr, Out::Frames, {}, In::Exact, kPrompt, 2},
    {"Formating EEPROM ...", Out::Command, "N", In::Any, kPrompt, 2},
    {"CRC checking ...", Out::Command, "E", In::Exact, kCheckPassed, 4},
};

}  // namespace wire
