// Text helpers for output: JSON string literals and Latin-1 to UTF-8.
#pragma once

#include <string>

// Each byte taken as a Latin-1 character.
std::string latin1ToUtf8(const std::string& text);

// A quoted JSON string for UTF-8 text: quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& utf8);
