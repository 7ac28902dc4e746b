// The module name, format name and version as info and the window show them.
#include "image/module_name.h"

#include <cstdint>
#include <optional>

namespace {

// Latin-1 rule for single bytes: ASCII letters and the Latin-1 small letters 0xE0..0xFE except the
// division sign 0xF7.
char upperLatin1(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
        return static_cast<char>(byte - 0x20);
    }
    return c;
}

char32_t upperCodePoint(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;  // y with diaeresis
    if (c == 0x131) return 'I';   // dotless i
    if (c == 0x17F) return 'S';   // long s
    // Latin Extended-A: pairs of capital then small, shifted by one between 0x139 and 0x148 and past 0x178.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c % 2 == 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
    // Greek: final sigma joins sigma; the rest of the small letters sit 0x20 above their capitals.
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x3B1 && c <= 0x3C9) return c - 0x20;
    // Cyrillic basic and the extra letters of 0x450..0x45F.
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

// Decodes one well-formed UTF-8 sequence at text[i] (no overlongs, no surrogates, at most U+10FFFF).
std::optional<char32_t> decodeUtf8(const std::string& text, std::size_t& i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    std::size_t extra = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - i - 1 < extra) return std::nullopt;
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char next = at(i + k);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    i += extra + 1;
    return value;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::optional<std::string> upperUtf8(const std::string& name) {
    std::string out;
    out.reserve(name.size() + 4);
    std::size_t i = 0;
    while (i < name.size()) {
        const std::optional<char32_t> c = decodeUtf8(name, i);
        if (!c) return std::nullopt;
        appendUtf8(out, upperCodePoint(*c));
    }
    return out;
}

}  // namespace

bool isValidUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (!decodeUtf8(text, i)) return false;
    }
    return true;
}

std::string upperCaseName(const std::string& name) {
    if (std::optional<std::string> utf8 = upperUtf8(name)) return *utf8;
    std::string out = name;
    for (char& c : out) c = upperLatin1(c);
    return out;
}

// Windows paths separate directories with either slash; elsewhere a backslash belongs to the name.
#ifdef _WIN32
constexpr const char* kDirectorySeparators = "/\\";
#else
constexpr const char* kDirectorySeparators = "/";
#endif

std::string moduleName(const std::string& path) {
    const std::size_t slash = path.find_last_of(kDirectorySeparators);
    const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    // '.' never occurs inside a multi-byte UTF-8 sequence, so cutting by byte is safe for either reading.
    std::string name = " " + upperCaseName(fileName);
    return name.substr(0, name.find('.'));
}
