// The two loader payloads as the build embedded them (stand-ins unless real files were configured).
#pragma once

#include <cstddef>
#include <cstdint>

extern const std::uint8_t kBootApplication[];
extern const std::size_t kBootApplicationSize;
extern const std::uint8_t kServiceApplication[];
extern const std::size_t kServiceApplicationSize;
