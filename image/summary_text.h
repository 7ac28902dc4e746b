// The texts a loaded image's particulars are shown with, shared by the window and the command line.
#pragma once

#include <string>

#include "image/flash_image.h"
#include "image/read_image.h"

struct SummaryTexts {
    std::string format;   // "SBIN", "SHEX" or "EMMA"
    std::string version;  // displayVersion() as displayText() shows it; empty without a version mark
    std::string size;     // " 1234 bytes"
    std::string frames;   // "12"
    std::string crc;      // "OK" or "ERROR"
};

// UTF-8, ready for a field or a terminal line.
SummaryTexts summaryTexts(const ImageSummary& summary);

inline constexpr const char* kCannotOpenText = "Unable to open flash image";
// The message for an image that did not load (a file that cannot be held in memory counts as one that
// cannot be opened); empty for Ok.
const char* loadFailureText(ReadOutcome outcome);
