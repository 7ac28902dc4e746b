// Texts from an image (and the file it came from) as a one-line field or a terminal line shows them.
#pragma once

#include <string>
#include <string_view>

enum class TextBytes {
    Latin1,        // image texts: one byte, one character
    Utf8OrLatin1,  // file names: UTF-8 when they are valid UTF-8, otherwise Latin-1
};

// The text in UTF-8, every control character replaced by a visible stand-in of its own width: the control
// pictures U+2400..U+241F for 0x00..0x1F and U+2421 for DEL, U+FFFD for the C1 range (0x80..0x9F). A line
// feed or an escape sequence among the bytes can thus neither split a field nor reach a terminal.
std::string displayText(std::string_view bytes, TextBytes kind);
