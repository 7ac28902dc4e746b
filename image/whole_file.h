// Reading an image file whole into one buffer of exactly its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/load_failure.h"

// Called with the buffer's memory once it is allocated and before anything is written to it, so that a caller
// can give the system a hint about it (large pages, for instance).
using BufferHint = void (*)(std::uint8_t* data, std::size_t size);

// False when the file cannot be opened, is not a regular file, or cannot be read whole (short read, a size
// that changed while reading, or no memory for it); `out` is then empty and `failure`, if given, says why.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, BufferHint hint = nullptr,
                   LoadFailure* failure = nullptr);
