// The two phone-side loaders, built into the program as data.
#pragma once

#include <cstddef>
#include <cstdint>

struct Payload {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

struct Payloads {
    Payload boot;     // BootApplication, sent in 16-byte chunks
    Payload service;  // ServiceApplication, sent in 128-byte chunks
};

inline constexpr std::size_t kBootChunk = 16;
inline constexpr std::size_t kServiceChunk = 128;

// Locates the built-in payloads; they live as long as the program.
Payloads loadPayloads();
