// Large-page advice for the buffer a big image file is read into.
#pragma once

#include <cstddef>
#include <cstdint>

// Asks for large pages behind a big file buffer: on virtual machines first touching and walking many small
// pages costs more than parsing the file. Does nothing where the system has no such advice.
void adviseLargePages(std::uint8_t* data, std::size_t size);
