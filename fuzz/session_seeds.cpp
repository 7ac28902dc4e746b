// Seeds of the session fuzzer: the scenarios of the end-to-end session tests and the simulated phone's
// faults as byte scripts (scripted_port.h), each with the ending it must reach. `session-fuzz-seeds DIR`
// writes them into DIR; without a folder each is run through the fuzz target and its ending checked.
#include <cstdio>
#include <string>

#include "serial/scripted_port.h"
#include "session/session_control.h"
#include "session_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern int lastSessionResult;

namespace {

using namespace wire;
using enum scripted_port::ByteScript::Tag;
constexpr std::size_t kEnd = std::size(kRows);
// Rows the scenarios name.
constexpr std::size_t kHandshake = 4, kBootPrompt = 5, kReopen = 7, kService = 8, kErase = 12, kStream = 15,
                      kFormat = 17;
constexpr std::uint8_t kNoFrames = 0, kMixedFrames = 1, k40Frames = 2, kAtLimit = 3, kOverLimit = 4,
                       kBroken = 5, kWholeChunks = 8;

struct Script {
    std::string name;
    int ending;
    std::vector<std::uint8_t> bytes;

    Script& add(std::initializer_list<std::uint8_t> more) {
        bytes.insert(bytes.end(), more);
        return *this;
    }
    Script& reply(std::string_view text) {
        bytes.push_back(static_cast<std::uint8_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    // A sound phone's replies to rows [from, to); to the end with one window more, so that the script does
    // not run out (which presses Abort) before the closing "Q".
    Script& good(std::size_t from, std::size_t to = kEnd) {
        for (std::size_t row = from; row < to; ++row)
            if (kRows[row].in != In::None) reply(kRows[row].want);
        return to == kEnd ? add({0xFF}) : *this;
    }
};

Script phone(std::string name, int ending, std::uint8_t setup = k40Frames, std::string_view hello = "T") {
    return Script{std::move(name), ending, {setup}}.reply(hello);
}

std::vector<Script> seeds() {
    std::vector<Script> all = {
        phone("t1x", 0).good(0),
        phone("a1018s", 0, k40Frames, "U").good(0),
        phone("no-frames", 0, kNoFrames).good(0),
        phone("mixed-frames-whole-chunks", 0, kWholeChunks | kMixedFrames).good(0),
        phone("a1018s-at-limit", 0, kAtLimit, "U").good(0),
        phone("a1018s-over-limit", kWrongImageSize, kOverLimit, "U"),
        phone("t1x-over-limit", 0, kOverLimit).good(0),
        Script{"broken-image", kUnusableImage, {kBroken}},
        Script{"port-busy", kPortBusy, {k40Frames, kOpenFails}},
        Script{"abort-at-power-on", kSessionAborted, {k40Frames}},
        Script{"gone-at-power-on", kPortBusy, {k40Frames, kGone, 1, 'T'}},
        phone("noise-tu", 0, k40Frames, "TU").reply("T").good(0),
        phone("noise-x", 0, k40Frames, "X").reply("T").good(0),
        phone("noise-ff-00-t", 0, k40Frames, {"\xFF\x00T", 3}).reply("T").good(0),
        phone("reopen-fails", kWrongResponse).good(0, kReopen).add({kOpenFails}).good(kReopen),
        phone("erase-replies-merged", kWrongResponse).good(0, kErase).reply("\r\n!\r\n>"),
        phone("reply-over-capacity", 0).good(0, kFormat).add({kLong, 30}).good(kFormat + 1),
        phone("split-prompt", kWrongResponse).good(0, kBootPrompt).reply("\r\n").reply(">"),
        phone("prompt-in-last-window", 0).good(0, kBootPrompt).add({kSilence, 198}).good(kBootPrompt),
        phone("gone-mid-upload", kWrongResponse).good(0, kHandshake).add({kGoneAtWrite, 20}).good(kHandshake),
        phone("gone-mid-stream", kTransmitError).good(0, kStream).add({kGoneAtWrite, 9}).good(kStream),
        phone("abort-mid-upload", kSessionAborted).good(0, kService).add({kAbortAtWrite, 3}).good(kService),
        phone("abort-mid-stream", kSessionAborted).good(0, kStream).add({kAbortAtWrite, 20}).good(kStream),
        // Armed writes count from the arming read: the termination frame is the 41st, the last "Q" the 1st.
        phone("gone-at-termination", kWrongResponse).good(0, kStream).add({kGoneAtWrite, 40}).good(kStream),
        phone("abort-armed-past-the-end", 0).good(0, kEnd - 1).add({kAbortAtWrite, 1}).good(kEnd - 1),
        // The input ends with the final check's reply: Abort while the closing "Q" goes out.
        phone("abort-on-closing-quit", kSessionAborted).good(0, kEnd - 1).reply(kCheckPassed),
    };
    for (std::size_t row = 0; row < kEnd; ++row) {
        const Row& r = kRows[row];
        if (r.in == In::None) continue;
        const std::string at = "-" + std::to_string(row);
        // The script ends before the row's command, or while its reply is awaited.
        all.push_back(phone("abort-at" + at, kSessionAborted).good(0, row));
        all.push_back(phone("abort-waiting-at" + at, kSessionAborted).good(0, row).add({kSilence, 0}));
        all.push_back(phone("silent-at" + at, r.code).good(0, row).add({kSilence, 199}));
        all.push_back(phone("gone-at" + at, r.code).good(0, row).add({kGone}));
        if (r.in == In::Any) continue;
        // Three bytes of any content pass: only the length can be wrong there.
        std::string wrong(r.want);
        r.in == In::ThreeBytes ? wrong.pop_back() : void(wrong.back() ^= 0x20);
        all.push_back(phone("wrong-at" + at, r.code).good(0, row).reply(wrong).good(row + 1));
    }
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    int failed = 0;
    for (const Script& s : seeds()) {
        if (argc > 1) {
            FILE* file = std::fopen((std::string(argv[1]) + "/" + s.name).c_str(), "wb");
            if (!file || std::fwrite(s.bytes.data(), 1, s.bytes.size(), file) != s.bytes.size()) return 1;
            std::fclose(file);
            continue;
        }
        std::fprintf(stderr, "%s\n", s.name.c_str());  // a finding aborts: the last name is its seed
        if (LLVMFuzzerTestOneInput(s.bytes.data(), s.bytes.size()); lastSessionResult != s.ending) {
            std::printf("%s: ended %d, not %d\n", s.name.c_str(), lastSessionResult, s.ending);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
