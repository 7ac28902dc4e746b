// A session record as one JSON line; stable names of the status lines; ISO times.
#include "station/session_record.h"

#include <cstdio>
#include <string_view>

#include "station/json_text.h"
#include "image/module_name.h"
#include "session/session_constants.h"

namespace {

std::string nullOr(bool present, const std::string& json) {
    return present ? json : "null";
}

// Paths and version marks are bytes; shown as UTF-8 when they are, else taken as Latin-1.
std::string textJson(const std::string& text) {
    return jsonString(isValidUtf8(text) ? text : latin1ToUtf8(text));
}

std::string timeJson(const std::optional<WallClock::time_point>& time) {
    return time ? jsonString(isoTime(*time)) : "null";
}

const char* resultName(SessionResult result) {
    switch (result) {
        case SessionResult::Success:
            return "success";
        case SessionResult::Failure:
            return "failure";
        case SessionResult::Aborted:
            return "aborted";
        case SessionResult::Idle:
            return "idle";
        case SessionResult::SamePhone:
            break;
    }
    return "same-phone";
}

}  // namespace

std::string stateName(const std::string& status) {
    using namespace session;
    static constexpr std::pair<std::string_view, const char*> kNames[] = {
        {kStatusPowerOn, "waiting"},
        {kStatusBootMode, "boot-mode"},
        {kStatusHandshake, "handshake"},
        {kStatusBootApplication, "boot-loader"},
        {kStatusBaudRate, "speed-change"},
        {kStatusServiceApplication, "service-loader"},
        {kStatusImei, "imei"},
        {kStatusErase, "erase"},
        {kStatusBlankCheck, "blank-check"},
        {kStatusUpdating, "streaming"},
        {kStatusFormat, "format"},
        {kStatusCrc, "final-check"},
        {kStatusReady, "idle"},
    };
    for (const auto& [text, name] : kNames)
        if (status == text) return name;
    return "busy";
}

std::string isoTime(WallClock::time_point time) {
    // The civil calendar of the standard library: no platform time functions, the same on every system.
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string recordJson(const SessionRecord& r, const RecordImage& image) {
    std::string seconds = "null";
    if (r.detected && r.endedAt) {
        char text[32];
        const double elapsed = std::chrono::duration<double>(*r.endedAt - *r.detected).count();
        std::snprintf(text, sizeof text, "%.3f", elapsed);
        seconds = text;
    }
    const ImageSummary& s = image.summary;
    const std::string version = displayVersion(s);
    std::string out = "{\"event\": ";
    out += r.ended ? "\"end\"" : "\"state\"";
    out += ", \"time\": " + jsonString(isoTime(r.time));
    out += ", \"port\": " + textJson(r.port);
    out += ", \"state\": " + jsonString(r.state);
    out += ", \"status\": " + jsonString(r.status);
    out += ", \"started\": " + jsonString(isoTime(r.started));
    out += ", \"detected\": " + timeJson(r.detected);
    out += ", \"ended\": " + timeJson(r.endedAt);
    out += ", \"seconds\": " + seconds;
    out += ", \"model\": " + nullOr(!r.model.empty(), jsonString(r.model));
    out += ", \"imei\": " + nullOr(!r.imei.empty(), jsonString(r.imei));
    out += ", \"file\": " + textJson(image.file);
    out += ", \"format\": " + jsonString(formatName(s.format));
    out += ", \"version\": " + nullOr(!version.empty(), jsonString(latin1ToUtf8(version)));
    out += ", \"size\": " + std::to_string(s.size);
    out += ", \"frames\": " + std::to_string(s.frameCount);
    out += ", \"checksums_ok\": " + std::string(s.checksumsOk ? "true" : "false");
    out += ", \"frames_sent\": " + std::to_string(r.framesSent);
    out += ", \"bytes_sent\": " + std::to_string(r.bytesSent);
    out += ", \"result\": " + nullOr(r.result.has_value(), r.result ? jsonString(resultName(*r.result)) : "");
    out += ", \"code\": " + nullOr(r.code >= 0, std::to_string(r.code));
    out += ", \"text\": " + nullOr(r.result.has_value(), jsonString(r.text));
    out += ", \"failed_step\": " + nullOr(!r.failedStep.empty(), jsonString(r.failedStep));
    out += ", \"received\": " + (r.received ? jsonString(*r.received) : "null") + "}";
    return out;
}
