#include "image_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

Bytes frame(char type, const Bytes& addressAndData, bool goodChecksum) {
    const auto count = static_cast<std::uint8_t>(addressAndData.size() + 1);
    Bytes out{'S', static_cast<std::uint8_t>(type), count};
    std::uint8_t sum = count;
    for (std::uint8_t b : addressAndData) {
        out.push_back(b);
        sum = static_cast<std::uint8_t>(sum + b);
    }
    out.push_back(static_cast<std::uint8_t>(goodChecksum ? 255 - sum : 254 - sum));
    return out;
}

Bytes sbinImage(const std::string& header, int dataFrames, bool goodChecksums) {
    Bytes headerData(2 + header.size(), 0);  // address 0, then the header text
    for (std::size_t i = 0; i < header.size(); ++i) headerData[2 + i] = static_cast<std::uint8_t>(header[i]);
    Bytes image = frame('0', headerData);
    for (int k = 0; k < dataFrames; ++k) {
        Bytes data{0, 0, static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k * 16)};
        for (int i = 0; i < 16; ++i) data.push_back(static_cast<std::uint8_t>(k + i));
        const Bytes f = frame('3', data, goodChecksums || k + 1 < dataFrames);
        image.insert(image.end(), f.begin(), f.end());
    }
    const Bytes end = frame('7', {0, 0, 0, 0});
    image.insert(image.end(), end.begin(), end.end());
    return image;
}

std::string shexText(const Bytes& sbin) {
    std::string text;
    std::size_t at = 0;
    while (at < sbin.size()) {
        const std::size_t count = sbin[at + 2];
        text += 'S';
        text += static_cast<char>(sbin[at + 1]);
        for (std::size_t i = 0; i <= count; ++i) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", sbin[at + 2 + i]);
            text += pair;
        }
        text += "\r\n";
        at += count + 3;
    }
    return text;
}

Bytes emmaFile(const Bytes& sbin) {
    Bytes out(40, ' ');
    out[0] = '%';
    const std::string field1 = "R2A", field2 = "20000426TST";
    std::copy(field1.begin(), field1.end(), out.begin() + 23);
    std::copy(field2.begin(), field2.end(), out.begin() + 27);
    out.push_back('#');
    out.push_back('%');
    std::size_t at = 0;
    while (at < sbin.size()) {
        const std::size_t count = sbin[at + 2];
        out.push_back('\n');
        out.push_back(sbin[at + 1]);
        for (std::size_t i = 0; i <= count; ++i)
            out.push_back(static_cast<std::uint8_t>(sbin[at + 2 + i] ^ 0xA7));
        at += count + 3;
    }
    return out;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ui-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const Bytes& content) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    return file.string();
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    return write(name, Bytes(content.begin(), content.end()));
}
