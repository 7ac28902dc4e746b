// Builders for image files in the three formats, so that each test states its input in a line or two.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "image/read_image.h"

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes& operator+=(Bytes& left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

inline Bytes operator+(Bytes left, const Bytes& right) {
    return left += right;
}

// A binary frame: 'S', type, count, body, checksum (correct unless goodChecksum is false).
inline Bytes frame(char type, const Bytes& body, bool goodChecksum = true) {
    Bytes out(body.size() + 3);
    out[0] = 'S';
    out[1] = static_cast<std::uint8_t>(type);
    out[2] = static_cast<std::uint8_t>(body.size() + 1);
    std::copy(body.begin(), body.end(), out.begin() + 3);
    std::uint8_t sum = out[2];
    for (std::uint8_t b : body) sum = static_cast<std::uint8_t>(sum + b);
    out.push_back(static_cast<std::uint8_t>(goodChecksum ? ~sum : sum));  // sum != ~sum always
    return out;
}

// A data record at `address` with `length` bytes of a simple pattern.
inline Bytes dataFrame(std::uint16_t address, std::size_t length, std::uint8_t seed = 0) {
    Bytes body{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    for (std::size_t i = 0; i < length; ++i) body.push_back(static_cast<std::uint8_t>(seed + 7 * i));
    return frame('1', body);
}

inline Bytes headerFrame(const std::string& text = "HDR") {
    Bytes body{0, 0};
    body += bytesOf(text);
    return frame('0', body);
}

inline Bytes endFrame() {
    return frame('9', {0, 0});
}

// Header, `dataFrames` data frames of 16 bytes, termination.
inline Bytes sampleImage(int dataFrames = 3, const std::string& header = "HDR") {
    Bytes out = headerFrame(header);
    for (int i = 0; i < dataFrames; ++i)
        out += dataFrame(static_cast<std::uint16_t>(16 * i), 16, std::uint8_t(i));
    out += endFrame();
    return out;
}

// The S-record text of a binary frame run, each record followed by `lineEnd`.
inline Bytes toShex(const Bytes& run, const std::string& lineEnd = "\n", bool lowercase = false) {
    const char* digits = lowercase ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string text;
    std::size_t position = 0;
    while (position < run.size()) {
        const std::size_t length = std::size_t{run[position + 2]} + 3;
        text.push_back('S');
        text.push_back(static_cast<char>(run[position + 1]));
        for (std::size_t i = 2; i < length; ++i) {
            text.push_back(digits[run[position + i] >> 4]);
            text.push_back(digits[run[position + i] & 15]);
        }
        text += lineEnd;
        position += length;
    }
    return bytesOf(text);
}

// An EMMA header of 38 bytes with both fields, `padding` more header bytes, the marker, then the records of
// `run` masked, each followed by `separator`.
inline Bytes toEmma(const Bytes& run, const std::string& field1 = "R2A",
                    const std::string& field2 = "000102_0304", std::size_t padding = 0,
                    const Bytes& separator = {'\r', '\n'}) {
    Bytes out(38 + padding, '.');
    out[0] = '%';
    std::copy(field1.begin(), field1.end(), out.begin() + 23);
    std::copy(field2.begin(), field2.end(), out.begin() + 27);
    out.push_back('#');
    out.push_back('%');
    std::size_t position = 0;
    while (position < run.size()) {
        const std::size_t length = std::size_t{run[position + 2]} + 3;
        out.push_back(run[position + 1]);
        for (std::size_t i = 2; i < length; ++i) out.push_back(run[position + i] ^ EMMA_MASK);
        out += separator;
        position += length;
    }
    return out;
}

// The bytes of the image that count.
inline Bytes runOf(const ReadResult& result) {
    return Bytes(result.image.data.begin(), result.image.data.begin() + result.image.size);
}

}  // namespace fixtures
