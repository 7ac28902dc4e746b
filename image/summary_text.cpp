#include "image/summary_text.h"

SummaryTexts summaryTexts(const ImageSummary& summary) {
    SummaryTexts texts;
    texts.format = formatName(summary.format);
    texts.version = displayVersion(summary);
    // The size is unsigned: printed as a signed number an image past 2 GiB would show a negative size.
    texts.size = " " + std::to_string(summary.size) + " bytes";
    texts.frames = std::to_string(summary.frameCount);
    texts.crc = summary.checksumsOk ? "OK" : "ERROR";
    return texts;
}
