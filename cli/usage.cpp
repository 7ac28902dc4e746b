// The help text and the usage error.
#include "cli/usage.h"

#include "cli/exit_codes.h"
#include "resources/program_text.h"

// The texts live in cli/help.txt, which also makes the manual page.
void printHelp(std::FILE* out) {
    std::fputs(kHelpText, out);
}

int usageError(const std::string& reason) {
    const std::string_view usage = helpUsage();
    std::fprintf(stderr, "phone-updater-cli: %s\n%.*s", reason.c_str(), static_cast<int>(usage.size()),
                 usage.data());
    return kExitUsage;
}
