// Every number and text of the update session, in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace session {

// An A1018s cannot take images larger than this; a T1x has no limit.
inline constexpr std::uint32_t kA1018sImageLimit = 2'000'000;
inline constexpr std::size_t kZeroBlockSize = 64;
inline constexpr std::size_t kImeiDigits = 15;
inline constexpr std::size_t kImeiReplySize = kImeiDigits + 3;  // digits, then the prompt
inline constexpr std::size_t kBootReplySize = 3;                // after the first zero block, not examined
inline constexpr std::size_t kFrameHeadBytes = 2;               // 'S' and the type character

// Sent to the phone.
inline constexpr std::string_view kLoadRequest = "0B";
inline constexpr std::string_view kBootParameters{"\x00\x03", 2};
inline constexpr std::string_view kSpeedChange = "C27";
inline constexpr std::string_view kWakeUp = "\r";
inline constexpr std::string_view kQuit = "Q";
inline constexpr std::string_view kErase = "D";
inline constexpr std::string_view kCheck = "E";
inline constexpr std::string_view kFormatEeprom = "N";

// Expected from the phone.
inline constexpr std::string_view kLoadReady = "R";
inline constexpr std::string_view kBootParameterReply{"\x00\x02", 2};
inline constexpr std::string_view kHandshake = "S";
inline constexpr std::string_view kPrompt = "\r\n>";
inline constexpr std::string_view kAcknowledge = "\r\n!";
inline constexpr std::string_view kCheckPassed = "\r\nE9\r\n>";

// Status line, one per step.
inline constexpr const char* kStatusPowerOn = "Power ON the phone ...";
inline constexpr const char* kStatusBootMode = "Entering boot mode ...";
inline constexpr const char* kStatusHandshake = "Waiting for handshake ...";
inline constexpr const char* kStatusBootApplication = "Sending boot appliation ...";
inline constexpr const char* kStatusBaudRate = "Changing baud rate ...";
inline constexpr const char* kStatusServiceApplication = "Sending service application ...";
inline constexpr const char* kStatusImei = "Reading IMEI ...";
inline constexpr const char* kStatusErase = "Erasing flash ...";
inline constexpr const char* kStatusBlankCheck = "Blank checking ...";
inline constexpr const char* kStatusUpdating = "Updating software ...";
inline constexpr const char* kStatusFormat = "Formating EEPROM ...";
inline constexpr const char* kStatusCrc = "CRC checking ...";
inline constexpr const char* kStatusReady = "Ready";

// Fields.
inline constexpr const char* kLinkSlow = "9600";
inline constexpr const char* kLinkFast = "115200";
inline constexpr const char* kLinkClosed = "CLOSED";
inline constexpr const char* kBootLoaderName = "BOOT CXC132611";
inline constexpr const char* kServiceLoaderName = "SAPP CXC1320633";
inline constexpr const char* kUpdateCaption = "Update";
inline constexpr const char* kAbortCaption = "Abort";
// A space, then the IMEI in groups 6-2-6-1 separated by '-'.
inline constexpr std::string_view kImeiTemplate = "       -  -      - ";

// Message boxes.
inline constexpr const char* kSuccessText = "Software updated completed";
inline constexpr const char* kSuccessCaption = "Success";
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kHintCaption = "Hint";
inline constexpr const char* kAbortHintCaption = "Abort";

}  // namespace session
