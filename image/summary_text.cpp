// The texts of an image's summary (size, frames, checksum result).
#include "image/summary_text.h"

#include "image/display_text.h"

SummaryTexts summaryTexts(const ImageSummary& summary) {
    SummaryTexts texts;
    texts.format = formatName(summary.format);
    texts.version = displayText(displayVersion(summary), TextBytes::Latin1);
    // The size is unsigned: printed as a signed number an image past 2 GiB would show a negative size.
    texts.size = " " + std::to_string(summary.size) + " bytes";
    texts.frames = std::to_string(summary.frameCount);
    texts.crc = summary.checksumsOk ? "OK" : "ERROR";
    return texts;
}

const char* loadFailureText(ReadOutcome outcome) {
    switch (outcome) {
        case ReadOutcome::Ok:
            return "";
        case ReadOutcome::UnrecognizedFormat:
            return "Unrecognized flash image format";
        case ReadOutcome::CorruptFile:
            return "File is corrupt or unknown format";
        case ReadOutcome::OutOfMemory:
            break;
    }
    return kCannotOpenText;
}
