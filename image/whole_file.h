// Reading an image file whole into one buffer of exactly its size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// False when the file cannot be opened, is not a regular file, or cannot be read whole (short read, a size
// that changed while reading, or no memory for it); `out` is then empty.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out);
