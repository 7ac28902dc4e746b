// UTF-8, the programs' own encoding of every text and path, to and from UTF-16, what Windows' wide
// functions take. Text that is not valid UTF-8 turns into U+FFFD rather than being dropped.
#pragma once

#include <string>

std::wstring utf16(const std::string& utf8);
std::string utf8(const std::wstring& utf16);
