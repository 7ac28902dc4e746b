// The in-memory image and its summary.
#include "image/flash_image.h"

const char* formatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::SBIN:
            return "SBIN";
        case ImageFormat::SHEX:
            return "SHEX";
        case ImageFormat::EMMA:
            return "EMMA";
    }
    return "";
}

std::string displayVersion(const ImageSummary& summary) {
    if (!summary.versionText) return {};
    const std::string& text = *summary.versionText;
    return text.substr(0, text.find('\0'));
}
