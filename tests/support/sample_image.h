// Image files built in memory (binary frames, their S-record text, their masked EMMA form) and a temporary
// folder to write them to: the one source of sample images for every test, the fuzz seeds and screenshots.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/read_image.h"

namespace sample {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes operator+(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// `bytes` with the byte at `at` replaced.
inline Bytes with(Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

// `bytes` without its last `count` bytes.
inline Bytes cut(Bytes bytes, std::size_t count = 1) {
    bytes.resize(bytes.size() - count);
    return bytes;
}

// 'S', type, count, body, checksum (wrong on request: sum and its complement always differ).
inline Bytes frame(char type, const Bytes& body, bool goodChecksum = true) {
    Bytes out(body.size() + 4,
              'S');  // filled in place: GCC 12 warns falsely about inserting into a short vector
    out[1] = static_cast<std::uint8_t>(type);
    out[2] = static_cast<std::uint8_t>(body.size() + 1);
    std::copy(body.begin(), body.end(), out.begin() + 3);
    std::uint8_t sum = out[2];
    for (std::uint8_t b : body) sum = static_cast<std::uint8_t>(sum + b);
    out.back() = static_cast<std::uint8_t>(goodChecksum ? ~sum : sum);
    return out;
}

inline Bytes header(const std::string& text = "HDR") {  // address 0, then the text
    return frame('0', bytesOf(std::string(2, '\0') + text));
}

inline Bytes endFrame() {
    return frame('9', {0, 0});
}

// Header, `frames` data frames of `dataBytes` bytes after their address (the last one's checksum wrong on
// request), termination.
inline Bytes image(int frames, const std::string& text = "HDR", std::size_t dataBytes = 16,
                   bool goodChecksums = true) {
    Bytes out = header(text);
    for (int k = 0; k < frames; ++k) {
        Bytes body{static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)};
        for (std::size_t i = 0; i < dataBytes; ++i) body.push_back(static_cast<std::uint8_t>(k * 31 + i * 7));
        const Bytes f = frame('1', body, goodChecksums || k + 1 < frames);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out + endFrame();
}

// The S-record text of a frame run, each record followed by `lineEnd`.
inline Bytes toShex(const Bytes& run, const std::string& lineEnd = "\r\n", bool lowercase = false) {
    const char* digits = lowercase ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string text;
    for (std::size_t at = 0; at < run.size(); at += run[at + 2] + 3u) {
        text += {'S', static_cast<char>(run[at + 1])};
        for (std::size_t i = 2; i < run[at + 2] + 3u; ++i)
            text += {digits[run[at + i] >> 4], digits[run[at + i] & 15]};
        text += lineEnd;
    }
    return bytesOf(text);
}

// An EMMA file: a 38-byte header with both version fields, `padding` more bytes, the "#%" marker, then each
// record's type and masked bytes followed by `separator`.
inline Bytes toEmma(const Bytes& run, const std::string& field1 = "R2A",
                    const std::string& field2 = "000102_0304", std::size_t padding = 0,
                    const Bytes& separator = {'\r', '\n'}) {
    Bytes out(38 + padding, '.');
    out[0] = '%';
    std::copy(field1.begin(), field1.end(), out.begin() + 23);
    std::copy(field2.begin(), field2.end(), out.begin() + 27);
    out = out + bytesOf("#%");
    for (std::size_t at = 0; at < run.size(); at += run[at + 2] + 3u) {
        out.push_back(run[at + 1]);
        for (std::size_t i = 2; i < run[at + 2] + 3u; ++i) out.push_back(run[at + i] ^ 0xA7);
        out = out + separator;
    }
    return out;
}

// What loading `run` gives the session (an empty image when it does not read).
inline FlashImage flashImage(Bytes run) {
    ReadResult read = readImage(std::move(run));
    return read.outcome == ReadOutcome::Ok ? std::move(read.image) : FlashImage{};
}

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir()
        : path_(std::filesystem::temp_directory_path() /
                ("updater-test-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string write(const std::string& name, const Bytes& content) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return (path_ / name).string();
    }
    std::string read(const std::string& name) const {  // a file's whole content ("" when there is none)
        std::ifstream in(path_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

  private:
    std::filesystem::path path_;
};

}  // namespace sample
