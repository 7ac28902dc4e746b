// The two phone families, told apart by the byte the phone sends at power-on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

enum class PhoneModel { T1x, A1018s };

struct PhoneModelInfo {
    std::uint8_t powerOnByte;
    const char* detectedText;  // shown in IDC_PHONE
    std::string_view imeiRequest;
    std::uint32_t imageSizeLimit;  // 0: no limit
};

const PhoneModelInfo& phoneModelInfo(PhoneModel model);
// The model a power-on reply announces: exactly one byte, 'T' or 'U'.
std::optional<PhoneModel> modelFromPowerOn(const std::uint8_t* reply, std::size_t count);
