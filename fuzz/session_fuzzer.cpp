// Whole update sessions against a phone that answers whatever the input says, on the scripted line. Input:
// one setup byte (bits 0-2: image, modulo 6; bit 3: loaders cut to whole chunks), then
// the phone's script as scripted_port::ByteScript reads it. A small model of the conversation, kept apart
// from the session's code, predicts the opens, every block written and every panel call; the run aborts at
// the first difference. The model writes and shows nothing after Abort, so equal transcripts also mean
// nothing was written after it.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial/scripted_port.h"
#include "session/payloads.h"
#include "session/update_session.h"
#include "session_wire.h"
#include "tests/session/recording_panel.h"

int lastSessionResult = 0;  // for the seed replay

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using wire::In;
using wire::Out;
using Fate = scripted_port::ByteScript::Fate;
using Window = scripted_port::Window;

// Header, data frames, termination: each of the given length. `extra` frames more are claimed than exist.
// Padding after the termination frame gives the size the A1018s limit looks at without a 2 MB stream.
FlashImage imageOf(const std::vector<std::size_t>& lengths, int extra = 0, std::uint32_t size = 0) {
    FlashImage image;
    for (std::size_t length : lengths) {
        const std::size_t at = image.data.size();
        image.data.resize(at + length, static_cast<std::uint8_t>(at));
        image.data[at] = 'S';
        image.data[at + 2] = static_cast<std::uint8_t>(length - 3);
    }
    image.data.resize(std::max<std::size_t>(size, image.data.size()));
    image.size = static_cast<std::uint32_t>(image.data.size());
    image.frameCount = static_cast<std::int32_t>(lengths.size()) - 2 + extra;
    return image;
}

struct Setup {
    const FlashImage* image;
    bool streamable;  // the frames lie within the image
    Payloads payloads;
};

Setup setupFor(std::uint8_t bits) {
    static const FlashImage images[] = {
        imageOf({20, 8}),
        imageOf({20, 6, 258, 40, 8}),
        imageOf(std::vector<std::size_t>(42, 40)),
        imageOf({20, 6, 258, 40, 8}, 0, 2'000'000),
        imageOf({20, 6, 258, 40, 8}, 0, 2'000'001),
        imageOf({20, 6, 258, 40, 8}, 1),
    };
    const int index = (bits & 7) % 6;
    Setup setup{&images[index], index != 5, loadPayloads()};
    if (bits & 8) {
        setup.payloads.boot.size -= setup.payloads.boot.size % 16;
        setup.payloads.service.size -= setup.payloads.service.size % 128;
    }
    return setup;
}

const Lines kIdle = {"progressReset",       "field 1051 'Update'", "enable 1056 on", "enable 1018 on",
                     "enable 1019 on",      "enable 1020 on",      "enable 1021 on", "field 1007 ''",
                     "field 1003 'CLOSED'", "field 1004 ''",       "status Ready",   "redraw"};

// The session as the protocol has it, over its own reading of the script.
struct Model {
    Model(const Setup& setup, scripted_port::ByteScript tape) : s(setup), tape(tape) {}

    void line(std::string text) { panel.push_back(std::move(text)); }
    void field(int control, const std::string& text) {
        line("field " + std::to_string(control) + " '" + text + "'");
    }
    // Every close of an open line lets what was written go out first, unless Abort came.
    void close() {
        if (open_ && !aborted) sent.drains.push_back(sent.bytes.size());
        open_ = false;
    }
    bool open(std::uint32_t speed) {
        close();
        open_ = !aborted && !tape.openFails();
        gone = false;
        if (open_) sent.opens.push_back("COM1@" + std::to_string(speed));
        return open_;
    }
    void abort() {
        aborted = true;
        panelAtAbort = panel.size();
    }
    bool write(const std::uint8_t* bytes, std::size_t count) {
        if (aborted || !open_) return false;
        const Fate fate = tape.write();
        if (fate == Fate::Abort) abort();
        gone = gone || fate == Fate::Vanish;
        if (aborted || gone) return false;
        sent.bytes.insert(sent.bytes.end(), bytes, bytes + count);
        sent.blockEnds.push_back(sent.bytes.size());
        return true;
    }
    bool write(std::string_view text) {
        return write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    // Up to 200 windows; the first that brings data is the reply, cut to 1024 bytes.
    std::optional<Bytes> read() {
        for (int attempt = 0; attempt < 200 && !aborted; ++attempt) {
            std::optional<Window> window = tape.window();
            if (!window) abort();
            gone = gone || (window && window->kind == Window::Kind::Gone);
            if (aborted || !open_ || gone) break;
            const auto& got = window->bytes;
            if (!got.empty())
                return Bytes(got.begin(), got.begin() + std::min<std::size_t>(got.size(), 1024));
        }
        return std::nullopt;
    }
    void upload(const Payload& payload, std::size_t chunk) {
        line("progressStart " + std::to_string(payload.size / chunk));
        for (std::size_t at = 0; at < payload.size; at += chunk) {
            write(payload.data + at, std::min(chunk, payload.size - at));
            line("progressStep");
        }
        line("progressReset");
    }
    int end(int code) {
        close();
        if (code > 0) line(std::string("message Error (error) ") + failureMessage(code));
        // No hint when the phone was never touched: the port would not open, or the image was refused first.
        if (code > 1 && code != kUnusableImage) line(std::string("message Hint (error) ") + kBatteryHint);
        panel.insert(panel.end(), kIdle.begin(), kIdle.end());
        if (code == 0) line("message Success (none) Software updated completed");
        return code;
    }
    static bool accepted(const wire::Row& row, const Bytes& reply) {
        if (row.in == In::Exact)
            return std::equal(reply.begin(), reply.end(), row.want.begin(), row.want.end());
        if (row.in == In::ThreeBytes) return reply.size() == 3;
        if (row.in == In::Imei)
            return reply.size() == 18 && std::equal(reply.end() - 3, reply.end(), wire::kPrompt.begin());
        return true;
    }
    int send(const wire::Row& row, bool t1x);
    int session();

    const Setup& s;
    scripted_port::ByteScript tape;
    scripted_port::Record sent;
    Lines panel;
    std::size_t panelAtAbort = 0;
    bool open_ = false, gone = false, aborted = false, detected = false;
};

int Model::send(const wire::Row& row, bool t1x) {
    const FlashImage& image = *s.image;
    if (row.out == Out::Reopen) open(115200);  // a failed reopen shows up as a missing reply
    if (row.out == Out::Command || row.out == Out::Reopen) write(row.command);
    if (row.out == Out::Zeros) write(Bytes(64, 0).data(), 64);
    if (row.out == Out::Boot) upload(s.payloads.boot, 16);
    if (row.out == Out::Service) upload(s.payloads.service, 128);
    if (row.out == Out::Imei) write(t1x ? "I1" : "I0");
    if (row.out == Out::Header) {
        line("progressStart " + std::to_string(image.frameCount));
        write(image.bytes(), 2);
    }
    if (row.out == Out::Frames) {
        std::size_t at = image.bytes()[2] + 3u;
        for (int k = 1; k <= image.frameCount; ++k) {
            const std::size_t length = image.bytes()[at + 2] + 3u;
            if (!write(image.bytes() + at, length)) return aborted ? kSessionAborted : end(5);
            field(1007, std::to_string(k));
            line("progressStep");
            at += length;
        }
        write(image.bytes() + at, 2);
    }
    return aborted ? kSessionAborted : 0;
}

int Model::session() {
    for (int control : {1058, 1002, 1008}) field(control, "");
    if (!s.streamable) return end(6);
    line("selectedPortDigit");
    if (!open(9600)) return end(1);
    field(1003, "9600");
    line("status Power ON the phone ...");
    // Only a lone 'T' or 'U' announces a phone; anything else, silence included, keeps the wait going; a
    // line that goes away ends it.
    std::optional<Bytes> hello;
    do {
        hello = read();
        if (aborted) return kSessionAborted;
        if (gone) return end(1);  // the adapter was pulled out: waiting on would hold a dead device
    } while (!hello || (*hello != Bytes{'T'} && *hello != Bytes{'U'}));
    const bool t1x = hello->front() == 'T';
    detected = true;
    field(1058, t1x ? " T1x detected" : " A1018s detected");
    if (!t1x && s.image->size > 2'000'000) return end(3);
    for (const wire::Row& row : wire::kRows) {
        if (row.status) line(std::string("status ") + row.status);
        if (int code = send(row, t1x)) return code;
        if (row.in == In::None) continue;
        const std::optional<Bytes> reply = read();
        if (aborted) return kSessionAborted;
        if (!reply || !accepted(row, *reply)) return end(row.code);
        if (row.out == Out::Frames) line("progressReset");
        if (row.in == In::Imei) {
            const std::string d(reply->begin(), reply->end());
            field(1002, " " + d.substr(0, 6) + "-" + d.substr(6, 2) + "-" + d.substr(8, 6) + "-" + d[14]);
        }
        if (row.field) field(row.field, row.text);
    }
    write("Q");
    return aborted ? kSessionAborted : end(0);  // Abort stops the worker at once, even on its last write
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "session fuzzer: %s\n", what);
    std::abort();
}

// Says where two transcripts part before failing.
void same(const Lines& got, const Lines& want, const char* what) {
    const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    if (g == got.end() && w == want.end()) return;
    std::fprintf(stderr, "line %td: [%s], model [%s]\n", g - got.begin(), g == got.end() ? "" : g->c_str(),
                 w == want.end() ? "" : w->c_str());
    check(false, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Setup setup = setupFor(data[0]);
    Model want(setup, scripted_port::ByteScript(data + 1, size - 1));
    const int wanted = want.session();

    RecordingPanel panel;  // port 1
    SerialLink link;
    SessionState state;
    std::atomic<bool> aborted{false}, detected{false};
    std::size_t panelAtAbort = 0;
    scripted_port::ByteScript tape(data + 1, size - 1);
    scripted_port::play(tape.script([&] {
        panelAtAbort = panel.size();
        aborted = true;
        link.interrupt();
    }));
    SessionContext ctx{panel, link, state, setup.payloads, *setup.image, aborted, detected};
    lastSessionResult = runUpdateSession(ctx);

    const scripted_port::Record& line = scripted_port::record();
    if (lastSessionResult != wanted) std::fprintf(stderr, "ended %d, model %d\n", lastSessionResult, wanted);
    check(lastSessionResult == wanted, "the session ended otherwise");
    same(line.opens, want.sent.opens, "opens");
    check(line.drains == want.sent.drains, "the drains before closing differ");
    check(line.bytes == want.sent.bytes && line.blockEnds == want.sent.blockEnds,
          "the blocks written differ");
    check(detected == want.detected, "detection differs");
    Lines calls = panel.calls();
    if (aborted) {
        for (std::size_t i = panelAtAbort; i < calls.size(); ++i)
            check(calls[i].rfind("message", 0) != 0, "a message after Abort");
        calls.resize(panelAtAbort);
        want.panel.resize(want.panelAtAbort);
    } else {
        check(!link.isOpen() && !state.clockRunning,
              "the session ended with the line open or the clock running");
    }
    same(calls, want.panel, "panel");
    return 0;
}
