// The reply rule on a scripted line: what bytes that come as a read window closes become.
#include <gtest/gtest.h>

#include "serial/scripted_port.h"
#include "serial/serial_link.h"

namespace {

using scripted_port::Window;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

struct LateCase {
    const char* name;
    std::vector<Window> windows;
    std::vector<std::string> replies;  // of successive readReply calls; "<none>" for a failed one
};

void PrintTo(const LateCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplyRule : public ::testing::TestWithParam<LateCase> {};

TEST_P(ReplyRule, BytesThatComeAsAWindowCloses) {
    const std::vector<Window> windows = GetParam().windows;
    std::size_t next = 0;
    scripted_port::play({[&] { return next < windows.size() ? windows[next++] : Window{}; }, {}, {}});
    SerialLink link;
    link.setReadRule({2, 200});
    ASSERT_TRUE(link.open('1', kSlowSpeed));
    for (const std::string& want : GetParam().replies) {
        const bool got = link.readReply();
        const ReplyBuffer& reply = link.reply();
        EXPECT_EQ(got ? std::string(reply.bytes.begin(), reply.bytes.begin() + reply.count) : "<none>", want);
    }
}

// After a silent window they are the reply awaited (a USB driver still had them on their way when the wait
// ended); after a reply's window they are stale and purged.
INSTANTIATE_TEST_SUITE_P(
    Windows, ReplyRule,
    ::testing::Values(LateCase{"AfterSilence", {Window{Window::Kind::Silence, {}, bytesOf("\r\n>")}}, {"\r\n>"}},
                      LateCase{"AfterAReply",
                               {Window{Window::Kind::Data, bytesOf("\r\n!"), bytesOf("\r\n>")}},
                               {"\r\n!", "<none>"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
