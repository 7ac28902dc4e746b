// Image and file texts as one safe line: control bytes replaced by visible stand-ins.
#include "image/display_text.h"

#include "image/module_name.h"

namespace {

void appendCodePoint(std::string& out, unsigned c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The code point shown for `c` (a Latin-1 character or a code point below 0x100).
unsigned shown(unsigned c) {
    if (c < 0x20) return 0x2400 + c;
    if (c == 0x7F) return 0x2421;
    if (c >= 0x80 && c < 0xA0) return 0xFFFD;
    return c;
}

}  // namespace

std::string displayText(std::string_view bytes, TextBytes kind) {
    std::string out;
    out.reserve(bytes.size() * 2);
    const bool utf8 = kind == TextBytes::Utf8OrLatin1 && isValidUtf8(std::string(bytes));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!utf8 || byte < 0x80) {
            appendCodePoint(out, shown(byte));
        } else if (byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0) {
            // U+0080..U+009F, the only two-byte sequences of C1 controls.
            appendCodePoint(out, 0xFFFD);
            ++i;
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}
