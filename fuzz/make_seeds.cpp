// Writes the seed corpus for the readImage fuzzer into DIR: one file of each format plus the cases the
// readers treat specially, made by the tests' own sample builders.
#include <cstdio>

#include "tests/support/sample_image.h"

using namespace sample;

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
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
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        if (!out.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()))) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name);
            return 1;
        }
    }
    return 0;
}
