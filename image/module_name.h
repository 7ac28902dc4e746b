// The module name shown beside a loaded image: a space, the file's name without its directory, upper-cased,
// cut at its first '.'.
#pragma once

#include <string>

// A name that is valid UTF-8 is upper-cased per code point (ASCII, Latin-1, Latin Extended-A, Greek,
// Cyrillic); any other name is taken as Latin-1 bytes. Letters without a single upper-case partner stay as
// they are.
std::string moduleName(const std::string& path);

// The upper-casing alone, for a name already stripped of its directory.
std::string upperCaseName(const std::string& name);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF). A module
// name is UTF-8 when this holds for it, and Latin-1 otherwise.
bool isValidUtf8(const std::string& text);
