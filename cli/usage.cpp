#include "cli/usage.h"

#include "cli/exit_codes.h"

namespace {
constexpr const char* kUsageLine =
    "usage: phone-updater-cli info [--json] FILE | convert FILE OUT | flash --port DEVICE FILE | --help | "
    "--version\n";
}

void printHelp(std::FILE* out) {
    std::fputs(kUsageLine, out);
    std::fputs(
        "\n"
        "Reads A1018s/T1x flash images (SBIN, SHEX or EMMA; the format is taken from the content).\n"
        "\n"
        "  info [--json] FILE   show the image's module, format, version, size, frames and checksum result\n"
        "  convert FILE OUT     write the image's frame run to OUT as an SBIN file (OUT is replaced "
        "atomically)\n"
        "  flash --port DEVICE FILE\n"
        "                       update the phone on DEVICE (a device path, or COM1..COM4) with FILE; Ctrl-C\n"
        "                       aborts. Exit 0 updated, 1-5 the session's failure code, 130/143 aborted\n"
        "  --help               show this help\n"
        "  --version            show the program's version\n"
        "\n"
        "Exit codes: 0 ok, 1 OUT could not be written, 2 unable to open FILE, 3 unrecognized format,\n"
        "4 corrupt file, 64 bad command line.\n",
        out);
}

int usageError(const std::string& reason) {
    std::fprintf(stderr, "phone-updater-cli: %s\n", reason.c_str());
    std::fputs(kUsageLine, stderr);
    return kExitUsage;
}
