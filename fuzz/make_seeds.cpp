// Writes a small seed corpus for the readImage fuzzer: one valid file of each format plus the odd cases the
// readers treat specially.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frame(char type, const Bytes& body, bool goodChecksum = true) {
    Bytes out{'S', static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(body.size() + 1)};
    std::uint8_t sum = out[2];
    for (std::uint8_t b : body) sum = static_cast<std::uint8_t>(sum + b);
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(static_cast<std::uint8_t>(goodChecksum ? ~sum : sum));
    return out;
}

Bytes sbin(bool goodChecksums) {
    Bytes out = frame('0', {0x00, 0x00, 'C', 'X', 'C', '1', '2', '3', '4', '5', '6'});
    for (int i = 0; i < 4; ++i) {
        Bytes body{0x00, static_cast<std::uint8_t>(i * 16)};
        for (int k = 0; k < 16; ++k) body.push_back(static_cast<std::uint8_t>(i * 31 + k));
        Bytes f = frame('1', body, goodChecksums || i != 2);
        out.insert(out.end(), f.begin(), f.end());
    }
    Bytes end = frame('9', {0x00, 0x00});
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

Bytes toText(const Bytes& binary, const std::string& lineEnd) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    std::size_t position = 0;
    while (position < binary.size()) {
        const std::size_t length = std::size_t{binary[position + 2]} + 3;
        text.push_back('S');
        text.push_back(static_cast<char>(binary[position + 1]));
        for (std::size_t i = 2; i < length; ++i) {
            text.push_back(digits[binary[position + i] >> 4]);
            text.push_back(digits[binary[position + i] & 15]);
        }
        text += lineEnd;
        position += length;
    }
    return Bytes(text.begin(), text.end());
}

Bytes emma(const Bytes& binary) {
    Bytes out(40, ' ');
    out[0] = '%';
    const std::string f1 = "R1A", f2 = "020304_0506";
    std::copy(f1.begin(), f1.end(), out.begin() + 23);
    std::copy(f2.begin(), f2.end(), out.begin() + 27);
    out.push_back('#');
    out.push_back('%');
    std::size_t position = 0;
    while (position < binary.size()) {
        const std::size_t length = std::size_t{binary[position + 2]} + 3;
        out.push_back(binary[position + 1]);
        for (std::size_t i = 2; i < length; ++i) out.push_back(binary[position + i] ^ 0xA7);
        out.push_back('\r');
        out.push_back('\n');
        position += length;
    }
    return out;
}

bool write(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 64;
    }
    const std::string dir = argv[1];
    const Bytes good = sbin(true);
    Bytes lower = toText(good, "\n");
    for (auto& c : lower) c = static_cast<std::uint8_t>(c >= 'A' && c <= 'F' ? c + 32 : c);
    Bytes truncated = good;
    truncated.resize(truncated.size() - 3);
    Bytes longWindow = toText(good, std::string(2100, ' ') + "\n");
    const struct {
        const char* name;
        Bytes bytes;
    } seeds[] = {
        {"sbin", good},
        {"sbin-bad-checksum", sbin(false)},
        {"sbin-truncated", truncated},
        {"shex-lf", toText(good, "\n")},
        {"shex-crlf", toText(good, "\r\n")},
        {"shex-lower", lower},
        {"shex-wide", longWindow},
        {"emma", emma(good)},
        {"junk", Bytes{'h', 'e', 'l', 'l', 'o'}},
    };
    for (const auto& seed : seeds) {
        if (!write(dir + "/" + seed.name, seed.bytes)) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), seed.name);
            return 1;
        }
    }
    return 0;
}
