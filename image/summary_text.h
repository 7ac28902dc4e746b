// The texts a loaded image's particulars are shown with, shared by the window and the command line.
#pragma once

#include <string>

#include "image/flash_image.h"

struct SummaryTexts {
    std::string format;   // "SBIN", "SHEX" or "EMMA"
    std::string version;  // displayVersion(): empty without a version mark; single-byte (Latin-1) text
    std::string size;     // " 1234 bytes"
    std::string frames;   // "12"
    std::string crc;      // "OK" or "ERROR"
};

SummaryTexts summaryTexts(const ImageSummary& summary);
