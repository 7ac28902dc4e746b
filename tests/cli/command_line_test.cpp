#include "cli/command_line.h"

#include <gtest/gtest.h>

TEST(CommandLine, OptionsAndOperandsInAnyOrder) {
    const ParsedArgs p = parseArgs({"a.shex", "--json", "--port", "COM2", "b"}, {"--json"}, {"--port"});
    EXPECT_TRUE(p.error.empty());
    EXPECT_TRUE(p.has("--json"));
    EXPECT_EQ(p.options.at("--port"), "COM2");
    EXPECT_EQ(p.operands, (std::vector<std::string>{"a.shex", "b"}));
}

TEST(CommandLine, ValueAfterEqualsSignAndDoubleDashEndsOptions) {
    const ParsedArgs p = parseArgs({"--port=/dev/ttyS0", "--", "--json", "-"}, {"--json"}, {"--port"});
    EXPECT_TRUE(p.error.empty());
    EXPECT_EQ(p.options.at("--port"), "/dev/ttyS0");
    EXPECT_FALSE(p.has("--json"));
    EXPECT_EQ(p.operands, (std::vector<std::string>{"--json", "-"}));
}

TEST(CommandLine, UsageErrors) {
    EXPECT_EQ(parseArgs({"--port"}, {}, {"--port"}).error, "--port needs a value");
    EXPECT_EQ(parseArgs({"--jsn"}, {"--json"}).error, "unknown option '--jsn'");
    // A flag does not take a value, and a valued option is not a flag.
    EXPECT_FALSE(parseArgs({"--json=1"}, {"--json"}).error.empty());
    EXPECT_TRUE(parseArgs({"-h"}, {}).help);
}
