// Replacing a file so that readers see either the old content or the whole new content, never a part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes to a temporary file beside `path`, flushes it to disk and renames it over `path`. On failure the
// temporary file is removed, `path` is left as it was and `error` says why.
bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error);
