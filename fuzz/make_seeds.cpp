// Writes the seed corpus for the readImage fuzzer: one file of each format plus the cases the readers treat
// specially.
#include <cstdio>
#include <string>

#include "tests/support/sample_image.h"

using namespace sample;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 64;
    }
    const Bytes good = image(4, "CXC123456");
    const std::pair<const char*, Bytes> seeds[] = {
        {"sbin", good},
        {"sbin-bad-checksum", image(4, "CXC123456", 16, false)},
        {"sbin-truncated", cut(good, 3)},
        {"shex-crlf", toShex(good)},
        {"shex-lower", toShex(good, "\n", true)},
        {"shex-wide", toShex(good, std::string(2100, ' ') + "\n")},
        {"emma", toEmma(good)},
        {"junk", bytesOf("hello")},
    };
    for (const auto& seed : seeds) {
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        const bool ok =
            file && std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) == seed.bytes.size();
        if (!file || std::fclose(file) != 0 || !ok) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
