#include "phone_sim.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "image/byte_ops.h"
#include "sim_line.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kSlowBaud = 9600;  // the speed the updater opens the line at
constexpr double kSlowRate = 960;          // 9600 baud, 10 bits a byte
constexpr double kFastRate = 11520;  // 115200 baud
constexpr std::size_t kZeroBlockSize = 64;
constexpr std::size_t kReadChunk = 256;
constexpr auto kStreamEndQuiet =
    150ms;  // no image given: a frame start followed by this much silence ends it

std::string hexByte(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace

std::string SimVerdict::text() const {
    std::string out;
    switch (outcome) {
        case SimOutcome::Running:
            return "running, at " + std::string(stepName(step));
        case SimOutcome::Success:
            return "success: " + std::to_string(framesReceived) + " frames received and checked";
        case SimOutcome::Mismatch:
            out = "mismatch at " + std::string(stepName(step));
            if (imageOffset >= 0) {
                out += ", image offset " + std::to_string(imageOffset);
            } else {
                out += ", byte " + std::to_string(offset);
            }
            if (expected >= 0) out += ": expected " + hexByte(expected) + ", received " + hexByte(received);
            if (!detail.empty()) out += ": " + detail;
            return out;
        case SimOutcome::LineClosed:
            return "the updater closed the line while the phone waited at " + std::string(stepName(step)) +
                   " (" + std::to_string(offset) + " bytes of it received)";
        case SimOutcome::Stalled:
            return "stalled after " + std::to_string(framesReceived) +
                   " frames as asked; the updater then closed the line";
        case SimOutcome::Vanished:
            return "vanished after " + std::to_string(framesReceived) + " frames as asked";
        case SimOutcome::Stopped:
            return "stopped at " + std::string(stepName(step));
    }
    return out;
}

bool applyFault(PhoneSimOptions& options, const std::string& faultText, std::string& error) {
    const auto number = [&](const std::string& text, long& out) {
        try {
            std::size_t used = 0;
            out = std::stol(text, &used);
            return used == text.size() && out >= 0;
        } catch (...) {
            return false;
        }
    };
    if (faultText == "noise") {
        options.noise = "TU";
    } else if (faultText.rfind("noise=", 0) == 0) {
        options.noise = faultText.substr(6);
    } else if (faultText == "erase-fast") {
        options.eraseRepliesClose = true;
    } else if (faultText == "bad-check") {
        options.replyFaults[SimStep::FinalCheck] = ReplyFault::Wrong;
    } else if (faultText.rfind("wrong:", 0) == 0 || faultText.rfind("silent:", 0) == 0) {
        const std::string name = faultText.substr(faultText.find(':') + 1);
        const auto step = stepFromName(name);
        if (!step || correctReply(*step, options.model, options.imei).empty()) {
            error = "no reply to fault at step '" + name + "'";
            return false;
        }
        options.replyFaults[*step] = faultText[0] == 'w' ? ReplyFault::Wrong : ReplyFault::Missing;
    } else if (faultText.rfind("stall:", 0) == 0) {
        if (!number(faultText.substr(6), options.stallAfterFrames)) {
            error = "stall needs a frame count";
            return false;
        }
    } else if (faultText.rfind("vanish:", 0) == 0) {
        if (!number(faultText.substr(7), options.vanishAfterFrames)) {
            error = "vanish needs a frame count";
            return false;
        }
    } else {
        error = "unknown fault '" + faultText + "'";
        return false;
    }
    return true;
}

bool setExpectedImage(PhoneSimOptions& options, const FlashImage& image, std::string& error) {
    // Walk header, frameCount frames and the termination frame's first two bytes, all inside the image.
    std::size_t at = 0;
    for (long frame = 0; frame <= image.frameCount; ++frame) {
        if (at + Frame::kOverhead > image.size || image.size > image.data.size()) {
            error = "the image's frames run past its end";
            return false;
        }
        at += Frame::length(image.bytes() + at);
    }
    if (image.frameCount < 0 || at + 2 > image.size) {
        error = "the image has no termination frame";
        return false;
    }
    options.haveImage = true;
    options.image = image;
    return true;
}

struct PhoneSim::Impl {
    explicit Impl(PhoneSimOptions o) : options(std::move(o)) {}

    PhoneSimOptions options;
    SimLine line;
    std::thread worker;
    std::function<void(const SimVerdict&)> sessionEnded;

    mutable std::mutex mutex;
    std::condition_variable changed;
    SimStep step = SimStep::WaitingForUpdater;  // guarded by mutex, with everything below
    SimVerdict verdict;
    bool ended = false;
    std::vector<std::uint8_t> received;
    std::atomic<std::size_t> receivedCount{0};

    std::string imei;                  // this session's
    std::vector<std::uint8_t> frames;  // the frame stream as received, for savePath
    bool framesStarted = false;
    long framesDone = 0;
    int sessions = 0;

    void run();
    bool converse();
    void finish(SimVerdict result);

    void setStep(SimStep next) {
        // The updater closes its end mid-session only to reopen it at 115200 right after "C27"; anywhere else
        // a closed line means the session is over (and the next one may open it again at once).
        const bool speedChange = next == SimStep::SpeedChange || next == SimStep::WakeUp;
        line.setHangupGrace(speedChange ? options.hangupGrace : std::chrono::milliseconds(0));
        {
            std::lock_guard lock(mutex);
            step = next;
        }
        changed.notify_all();
    }
    void record(const std::uint8_t* bytes, std::size_t count) {
        {
            std::lock_guard lock(mutex);
            received.insert(received.end(), bytes, bytes + count);
        }
        receivedCount += count;
    }

    // Keeps `result` as the conversation's end; always false so callers can return it.
    bool fail(SimVerdict result) {
        result.framesReceived = framesDone;
        pending = result;
        return false;
    }
    bool failWaiting(SimLine::Status status, SimStep at, std::size_t got) {
        SimVerdict v;
        v.outcome = status == SimLine::Status::Stopped ? SimOutcome::Stopped : SimOutcome::LineClosed;
        v.step = at;
        v.offset = got;
        return fail(v);
    }
    bool mismatch(SimStep at, std::size_t offset, int expected, int got, std::string detail = {}) {
        SimVerdict v;
        v.outcome = SimOutcome::Mismatch;
        v.step = at;
        v.offset = offset;
        v.expected = expected;
        v.received = got;
        v.detail = std::move(detail);
        if (at == SimStep::Frames && options.haveImage)
            v.imageOffset = static_cast<long long>(streamStart + offset);
        return fail(v);
    }
    SimVerdict pending;
    std::size_t streamStart = 0;  // image offset of the first frame after the header

    bool reply(SimStep at) {
        const auto fault = options.replyFaults.find(at);
        if (fault != options.replyFaults.end() && fault->second == ReplyFault::Missing) return true;
        const std::string text = fault != options.replyFaults.end() ? wrongReply(at, options.model, imei)
                                                                    : correctReply(at, options.model, imei);
        line.send(text);
        return true;
    }

    // Takes exactly `expected.size()` bytes and compares them as they come.
    bool expect(SimStep at, const std::vector<std::uint8_t>& expected) {
        setStep(at);
        std::size_t got = 0;
        std::uint8_t chunk[kReadChunk];
        while (got < expected.size()) {
            std::size_t n = 0;
            const auto status =
                line.readSome(chunk, std::min(sizeof chunk, expected.size() - got), SimLine::never(), n);
            if (status != SimLine::Status::Ok) return failWaiting(status, at, got);
            record(chunk, n);
            for (std::size_t i = 0; i < n; ++i, ++got) {
                if (chunk[i] != expected[got]) return mismatch(at, got, expected[got], chunk[i]);
            }
        }
        return true;
    }
    bool expect(SimStep at, const std::string& text) { return expect(at, bytesOf(text)); }

    bool expectPayload(SimStep at, const ExpectedPayload& payload) {
        if (!payload.bytes.empty()) return expect(at, payload.bytes);
        setStep(at);
        std::vector<std::uint8_t> block(payload.size);
        std::size_t got = 0;
        const auto status = line.readExact(block.data(), block.size(), SimLine::never(), got);
        record(block.data(), got);
        if (status != SimLine::Status::Ok) return failWaiting(status, at, got);
        const std::string text(block.begin(), block.end());
        const auto found = text.find(payload.mark);
        const bool ok = payload.markAtEnd
                            ? found != std::string::npos && found + payload.mark.size() == text.size()
                            : found != std::string::npos;
        if (!ok) return mismatch(at, got, -1, -1, "identification text \"" + payload.mark + "\" missing");
        return true;
    }

    bool checkSpeed(SimStep at, std::uint32_t wanted) {
        const std::uint32_t speed = line.updaterSpeed();
        if (speed == wanted) return true;
        return mismatch(
            at, 0, -1, -1,
            "line set to " + std::to_string(speed) + " baud, phone listens at " + std::to_string(wanted));
    }

    // Applies the stall or vanish fault once `framesDone` reaches its count; false ends the conversation.
    bool frameFaults() {
        if (options.vanishAfterFrames >= 0 && framesDone >= options.vanishAfterFrames) {
            line.vanish();
            SimVerdict v;
            v.outcome = SimOutcome::Vanished;
            v.step = SimStep::Frames;
            return fail(v);
        }
        if (options.stallAfterFrames >= 0 && framesDone >= options.stallAfterFrames) {
            const auto status = line.waitWithoutReading();
            SimVerdict v;
            v.outcome = status == SimLine::Status::Stopped ? SimOutcome::Stopped : SimOutcome::Stalled;
            v.step = SimStep::Frames;
            return fail(v);
        }
        return true;
    }

    bool streamAgainstImage();
    bool streamByStructure();
    void drainUntilClosed();
    void saveFrames();
};

void PhoneSim::Impl::run() {
    do {
        {
            std::lock_guard lock(mutex);
            received.clear();
            verdict = SimVerdict{};
            ended = false;
        }
        receivedCount = 0;
        frames.clear();
        framesStarted = false;
        framesDone = 0;
        pending = SimVerdict{};
        const auto& cycle = options.imeiCycle;
        imei = cycle.empty() ? options.imei : cycle[static_cast<std::size_t>(sessions) % cycle.size()];
        setStep(SimStep::WaitingForUpdater);
        // The line starts out idle. For a later session, mark it idle again unless the next updater has
        // already opened it.
        if (sessions++ > 0 && line.farEndClosed()) line.markIdle();
        line.setRate(options.emulateLineRate ? kSlowRate : 0);

        const auto status = line.waitForOpen(kSlowBaud);
        SimVerdict result;
        if (status != SimLine::Status::Ok) {
            failWaiting(status, SimStep::WaitingForUpdater, 0);
            result = pending;
        } else if (converse()) {
            result.outcome = SimOutcome::Success;
            result.step = SimStep::Done;
            result.framesReceived = framesDone;
        } else {
            result = pending;
            if (result.outcome == SimOutcome::Mismatch) drainUntilClosed();
        }
        if (framesStarted) saveFrames();
        finish(result);
        if (result.outcome == SimOutcome::Stopped || result.outcome == SimOutcome::Vanished) break;
        if (options.repeat && result.outcome == SimOutcome::Success) drainUntilClosed();
    } while (options.repeat);
}

void PhoneSim::Impl::finish(SimVerdict result) {
    // Before the end is announced: whoever waits for it (phone-sim's exit status) finds the callback's work
    // done.
    if (sessionEnded) sessionEnded(result);
    {
        std::lock_guard lock(mutex);
        verdict = result;
        ended = true;
        if (result.outcome == SimOutcome::Success) step = SimStep::Done;
    }
    changed.notify_all();
}

void PhoneSim::Impl::drainUntilClosed() {
    // A phone that lost track just swallows what comes, so the updater's writes do not block on it.
    std::uint8_t sink[kReadChunk];
    for (;;) {
        std::size_t n = 0;
        if (line.readSome(sink, sizeof sink, SimLine::never(), n) != SimLine::Status::Ok) return;
        record(sink, n);
    }
}

bool PhoneSim::Impl::converse() {
    const std::string powerOn = correctReply(SimStep::PowerOn, options.model, imei);
    if (!line.pause(options.powerOnDelay)) return failWaiting(SimLine::Status::Stopped, SimStep::PowerOn, 0);
    if (!options.noise.empty()) {
        line.send(options.noise);
        if (!line.pause(options.powerOnInterval))
            return failWaiting(SimLine::Status::Stopped, SimStep::PowerOn, 0);
    }

    // Power-on: one byte at a time, spaced wider than the updater's read window, until it speaks.
    setStep(SimStep::PowerOn);
    std::uint8_t request[2];
    std::size_t got = 0;
    for (;;) {
        reply(SimStep::PowerOn);
        const auto status =
            line.readSome(request, sizeof request, SimLine::Clock::now() + options.powerOnInterval, got);
        if (status == SimLine::Status::Ok) break;
        if (status != SimLine::Status::Timeout) return failWaiting(status, SimStep::PowerOn, 0);
    }
    record(request, got);
    setStep(SimStep::LoadRequest);
    if (got < sizeof request) {
        std::size_t more = 0;
        const auto status = line.readExact(request + got, sizeof request - got, SimLine::never(), more);
        record(request + got, more);
        got += more;
        if (status != SimLine::Status::Ok) return failWaiting(status, SimStep::LoadRequest, got);
    }
    for (std::size_t i = 0; i < sizeof request; ++i) {
        if (request[i] != "0B"[i]) return mismatch(SimStep::LoadRequest, i, "0B"[i], request[i]);
    }
    if (!checkSpeed(SimStep::LoadRequest, kSlowBaud)) return false;
    reply(SimStep::LoadRequest);

    const std::vector<std::uint8_t> zeros(kZeroBlockSize, 0);
    if (!expect(SimStep::BootParameters, std::string("\x00\x03", 2)) || !reply(SimStep::BootParameters))
        return false;
    if (!expect(SimStep::ZeroBlock, zeros) || !reply(SimStep::ZeroBlock)) return false;
    if (!expect(SimStep::SecondZeroBlock, zeros) || !reply(SimStep::SecondZeroBlock)) return false;
    if (!expectPayload(SimStep::BootApplication, options.boot) || !reply(SimStep::BootApplication))
        return false;

    if (!expect(SimStep::SpeedChange, "C27")) return false;
    line.setRate(options.emulateLineRate ? kFastRate : 0);
    if (!expect(SimStep::WakeUp, "\r") || !checkSpeed(SimStep::WakeUp, 115200) || !reply(SimStep::WakeUp)) {
        return false;
    }
    if (!expect(SimStep::ServiceLoadRequest, "0B") || !reply(SimStep::ServiceLoadRequest)) return false;
    if (!expectPayload(SimStep::ServiceApplication, options.service) || !reply(SimStep::ServiceApplication)) {
        return false;
    }
    if (!expect(SimStep::ServiceStart, "Q") || !reply(SimStep::ServiceStart)) return false;
    const char* imeiRequest = options.model == PhoneKind::T1x ? "I1" : "I0";
    if (!expect(SimStep::Imei, imeiRequest) || !reply(SimStep::Imei)) return false;

    if (!expect(SimStep::Erase, "D") || !reply(SimStep::Erase)) return false;
    setStep(SimStep::EraseDone);
    if (!line.pause(options.eraseRepliesClose ? std::chrono::milliseconds(50) : options.eraseTime)) {
        return failWaiting(SimLine::Status::Stopped, SimStep::EraseDone, 0);
    }
    reply(SimStep::EraseDone);
    if (!expect(SimStep::BlankCheck, "E") || !reply(SimStep::BlankCheck)) return false;

    if (!(options.haveImage ? streamAgainstImage() : streamByStructure())) return false;

    if (!expect(SimStep::Format, "N") || !reply(SimStep::Format)) return false;
    if (!expect(SimStep::FinalCheck, "E") || !reply(SimStep::FinalCheck)) return false;
    return expect(SimStep::Quit, "Q");
}

bool PhoneSim::Impl::streamAgainstImage() {
    const FlashImage& image = options.image;
    if (!expect(SimStep::StreamStart, std::vector<std::uint8_t>(image.bytes(), image.bytes() + 2)))
        return false;
    reply(SimStep::StreamStart);

    // Frame ends, as offsets in the stream that follows the header frame.
    streamStart = Frame::length(image.bytes());
    std::vector<std::size_t> frameEnds;
    std::size_t at = streamStart;
    for (long k = 0; k < image.frameCount; ++k) {
        at += Frame::length(image.bytes() + at);
        frameEnds.push_back(at - streamStart);
    }
    const std::vector<std::uint8_t> expected(image.bytes() + streamStart, image.bytes() + at + 2);

    setStep(SimStep::Frames);
    framesStarted = true;
    std::size_t got = 0;
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        while (framesDone < static_cast<long>(frameEnds.size()) && got >= frameEnds[framesDone]) ++framesDone;
        if (!frameFaults()) return false;
        if (got == expected.size()) break;
        // Never read past the frame at which a fault is due.
        std::size_t limit = expected.size() - got;
        long faultAt = -1;
        for (const long due : {options.stallAfterFrames, options.vanishAfterFrames}) {
            if (due >= 0 && (faultAt < 0 || due < faultAt)) faultAt = due;
        }
        if (faultAt > framesDone && faultAt <= static_cast<long>(frameEnds.size())) {
            limit = std::min(limit, frameEnds[faultAt - 1] - got);
        }
        std::size_t n = 0;
        const auto status = line.readSome(chunk, std::min(sizeof chunk, limit), SimLine::never(), n);
        if (status != SimLine::Status::Ok) return failWaiting(status, SimStep::Frames, got);
        record(chunk, n);
        for (std::size_t i = 0; i < n; ++i, ++got) {
            while (framesDone < static_cast<long>(frameEnds.size()) && got >= frameEnds[framesDone])
                ++framesDone;
            if (chunk[i] != expected[got]) return mismatch(SimStep::Frames, got, expected[got], chunk[i]);
            if (got + 2 < expected.size()) frames.push_back(chunk[i]);
        }
    }
    return reply(SimStep::Frames);
}

bool PhoneSim::Impl::streamByStructure() {
    std::uint8_t header[2];
    setStep(SimStep::StreamStart);
    std::size_t got = 0;
    auto status = line.readExact(header, 2, SimLine::never(), got);
    record(header, got);
    if (status != SimLine::Status::Ok) return failWaiting(status, SimStep::StreamStart, got);
    if (header[0] != Frame::kStart) return mismatch(SimStep::StreamStart, 0, Frame::kStart, header[0]);
    reply(SimStep::StreamStart);

    setStep(SimStep::Frames);
    framesStarted = true;
    std::size_t offset = 0;
    for (;;) {
        if (!frameFaults()) return false;
        std::uint8_t frame[Frame::kMaxLength];
        status = line.readExact(frame, 2, SimLine::never(), got);
        record(frame, got);
        if (status != SimLine::Status::Ok) return failWaiting(status, SimStep::Frames, offset + got);
        if (frame[0] != Frame::kStart) return mismatch(SimStep::Frames, offset, Frame::kStart, frame[0]);
        status = line.readExact(frame + 2, 1, SimLine::Clock::now() + kStreamEndQuiet, got);
        if (status == SimLine::Status::Timeout) break;  // the termination frame's first two bytes
        record(frame + 2, got);
        if (status != SimLine::Status::Ok) return failWaiting(status, SimStep::Frames, offset + 2);
        const std::size_t rest = frame[2];
        status = line.readExact(frame + 3, rest, SimLine::never(), got);
        record(frame + 3, got);
        if (status != SimLine::Status::Ok) return failWaiting(status, SimStep::Frames, offset + 3 + got);
        if (!frameChecksumValid(frame + 2, rest + 1)) {
            return mismatch(SimStep::Frames, offset, -1, -1,
                            "frame " + std::to_string(framesDone + 1) + " fails its checksum");
        }
        frames.insert(frames.end(), frame, frame + 3 + rest);
        offset += 3 + rest;
        ++framesDone;
    }
    return reply(SimStep::Frames);
}

void PhoneSim::Impl::saveFrames() {
    if (options.savePath.empty()) return;
    if (std::FILE* out = std::fopen(options.savePath.c_str(), "wb")) {
        if (!frames.empty()) std::fwrite(frames.data(), 1, frames.size(), out);
        std::fclose(out);
    }
}

PhoneSim::PhoneSim(PhoneSimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

PhoneSim::~PhoneSim() {
    stop();
    if (impl_->worker.joinable()) impl_->worker.join();
}

bool PhoneSim::start(std::string& error) {
    Impl& d = *impl_;
    std::vector<std::string> imeis = d.options.imeiCycle;
    imeis.push_back(d.options.imei);
    for (const std::string& imei : imeis) {
        if (imei.size() != 15 ||
            !std::all_of(imei.begin(), imei.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            error = "an IMEI has 15 digits";
            return false;
        }
    }
    if (!d.line.create(d.options.linkPath, error)) return false;
    d.line.setHangupGrace(d.options.hangupGrace);
    d.worker = std::thread([&d] { d.run(); });
    return true;
}

const std::string& PhoneSim::slavePath() const {
    return impl_->line.slavePath();
}

void PhoneSim::stop() {
    impl_->line.stop();
}

void PhoneSim::onSessionEnd(std::function<void(const SimVerdict&)> callback) {
    impl_->sessionEnded = std::move(callback);
}

bool PhoneSim::waitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [this] { return impl_->ended; });
}

bool PhoneSim::waitForStep(SimStep wanted, std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->step >= wanted || impl_->ended; }) &&
           impl_->step >= wanted;
}

SimStep PhoneSim::step() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->step;
}

SimVerdict PhoneSim::verdict() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->verdict;
}

std::vector<std::uint8_t> PhoneSim::received() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

std::size_t PhoneSim::bytesReceived() const {
    return impl_->receivedCount;
}
