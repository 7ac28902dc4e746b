// The names of the phone's steps and the replies, right and wrong, it gives at each.
#include "sim_steps.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<SimStep, const char*>, 22> kNames = {{
    {SimStep::WaitingForUpdater, "waiting"},
    {SimStep::PowerOn, "power-on"},
    {SimStep::LoadRequest, "load-request"},
    {SimStep::BootParameters, "boot-parameters"},
    {SimStep::ZeroBlock, "zero-block"},
    {SimStep::SecondZeroBlock, "handshake"},
    {SimStep::BootApplication, "boot-application"},
    {SimStep::SpeedChange, "speed-change"},
    {SimStep::WakeUp, "wake-up"},
    {SimStep::ServiceLoadRequest, "service-load-request"},
    {SimStep::ServiceApplication, "service-application"},
    {SimStep::ServiceStart, "service-start"},
    {SimStep::Imei, "imei"},
    {SimStep::Erase, "erase"},
    {SimStep::EraseDone, "erase-done"},
    {SimStep::BlankCheck, "blank-check"},
    {SimStep::StreamStart, "stream-start"},
    {SimStep::Frames, "frames"},
    {SimStep::Format, "format"},
    {SimStep::FinalCheck, "final-check"},
    {SimStep::Quit, "quit"},
    {SimStep::Done, "done"},
}};

}  // namespace

const char* stepName(SimStep step) {
    for (const auto& [known, name] : kNames) {
        if (known == step) return name;
    }
    return "?";
}

std::optional<SimStep> stepFromName(const std::string& name) {
    for (const auto& [step, known] : kNames) {
        if (name == known) return step;
    }
    return std::nullopt;
}

std::string correctReply(SimStep step, PhoneKind kind, const std::string& imei) {
    switch (step) {
        case SimStep::PowerOn:
            return kind == PhoneKind::T1x ? "T" : "U";
        case SimStep::LoadRequest:
            return "R";
        case SimStep::BootParameters:
            return std::string("\x00\x02", 2);
        case SimStep::ZeroBlock:
            return "ok>";  // three bytes; the updater only counts them
        case SimStep::SecondZeroBlock:
            return "S";
        case SimStep::BootApplication:
        case SimStep::WakeUp:
        case SimStep::ServiceApplication:
        case SimStep::ServiceStart:
        case SimStep::EraseDone:
        case SimStep::Frames:
        case SimStep::Format:
            return kPrompt;
        case SimStep::ServiceLoadRequest:
            return "R";
        case SimStep::Imei:
            return imei + kPrompt;
        case SimStep::Erase:
        case SimStep::StreamStart:
            return kAcknowledge;
        case SimStep::BlankCheck:
        case SimStep::FinalCheck:
            return kCheckPassed;
        case SimStep::WaitingForUpdater:
        case SimStep::SpeedChange:
        case SimStep::Quit:
        case SimStep::Done:
            break;
    }
    return {};
}

std::string wrongReply(SimStep step, PhoneKind kind, const std::string& imei) {
    switch (step) {
        case SimStep::PowerOn:
            return "X";
        case SimStep::LoadRequest:
        case SimStep::ServiceLoadRequest:
            return "?";
        case SimStep::BootParameters:
            return std::string("\x00\x03", 2);
        case SimStep::ZeroBlock:
            return "ok";  // content is free, the length is not
        case SimStep::SecondZeroBlock:
            return "s";
        case SimStep::Imei:
            return imei.substr(0, imei.size() - 1) + kPrompt;  // a digit short
        case SimStep::BlankCheck:
        case SimStep::FinalCheck:
            return "\r\nE1\r\n>";  // the check found a difference
        case SimStep::BootApplication:
        case SimStep::WakeUp:
        case SimStep::ServiceApplication:
        case SimStep::ServiceStart:
        case SimStep::EraseDone:
        case SimStep::Frames:
        case SimStep::Erase:
        case SimStep::StreamStart:
        case SimStep::Format:
            return "\r\n?";
        case SimStep::WaitingForUpdater:
        case SimStep::SpeedChange:
        case SimStep::Quit:
        case SimStep::Done:
            break;
    }
    return correctReply(step, kind, imei);
}
