// A simulated phone on a pseudo-terminal, built from the phone's side of the wire protocol: it announces
// itself at power-on, answers every command, takes both loaders and the frame stream at the real line rate
// and checks every byte it receives. Runs in-process (tests) or as the phone-sim program.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "sim_steps.h"

// What a loader upload must look like: exact bytes when given, otherwise its size and identification text.
struct ExpectedPayload {
    std::vector<std::uint8_t> bytes;
    std::size_t size = 0;
    std::string mark;
    bool markAtEnd = false;
};

enum class ReplyFault { Wrong, Missing };

struct PhoneSimOptions {
    PhoneKind model = PhoneKind::T1x;
    std::string imei = "490154203237518";
    // When given, session k (from 0) reports laterImeis[k % size] instead: the phones on a station's cable,
    // one after another (the same one twice for a phone that restarted while still connected).
    std::vector<std::string> imeiCycle;
    std::string linkPath;  // when set, a symlink to the pseudo-terminal's slave

    // The image the updater is expected to stream. Without one, frames are checked by their checksums and
    // the stream's end is recognised by the line going quiet after a frame's first two bytes.
    bool haveImage = false;
    FlashImage image;
    ExpectedPayload boot{{}, 926, "980520 0842 PRGCXC132611", true};
    ExpectedPayload service{{}, 17324, "990802 0849 PRGCXC1320633", false};
    std::string savePath;  // the frames received, back to back, written when the stream ends or breaks

    // Faults.
    std::string noise;                          // sent once before the first power-on byte
    std::map<SimStep, ReplyFault> replyFaults;  // a wrong or missing reply at a step
    bool eraseRepliesClose = false;             // acknowledge and prompt 50 ms apart instead of ~0.6 s
    long stallAfterFrames = -1;                 // stop reading after this many frames
    long vanishAfterFrames = -1;                // close the pseudo-terminal after this many frames

    // Timing.
    bool emulateLineRate = true;                     // 960 B/s before "C27", 11,520 B/s after
    std::chrono::milliseconds powerOnDelay{100};     // from the updater's open to the first power-on byte
    // Between power-on bytes: longer than a read window (200 ms) plus the time the updater takes to answer
    // the byte it saw, however busy the machine; a byte sent again while the answer is on its way would land
    // in the updater's next reply (measured here: 180-215 ms from a byte to the answer, on two busy cores).
    std::chrono::milliseconds powerOnInterval{1000};
    std::chrono::milliseconds eraseTime{600};
    // After "C27" the updater closes and reopens its end; a closed line lasting longer ends the session.
    std::chrono::milliseconds hangupGrace{1000};
    // After a session, wait for the next one. The phone notices a close by polling every few milliseconds,
    // so the next session must not reopen the line within microseconds of the last close.
    bool repeat = false;
};

// Parses one --fault value: noise[=TEXT], wrong:STEP, silent:STEP, erase-fast, bad-check, stall:N, vanish:N.
bool applyFault(PhoneSimOptions& options, const std::string& faultText, std::string& error);
// Expects `image` to be streamed; false (with a reason) when its frames do not walk to a termination frame.
bool setExpectedImage(PhoneSimOptions& options, const FlashImage& image, std::string& error);

enum class SimOutcome {
    Running,
    Success,     // the whole session, byte-exact, up to the last "Q"
    Mismatch,    // the first byte that differed from what the phone expected (or a wrong line speed)
    LineClosed,  // the updater went away while the phone waited (after an injected fault, or a failure)
    Stalled,     // the stall fault stopped reading; the updater then went away
    Vanished,    // the vanish fault closed the line
    Stopped,     // stop() was called
};

struct SimVerdict {
    SimOutcome outcome = SimOutcome::Running;
    SimStep step = SimStep::WaitingForUpdater;  // where it happened
    std::size_t offset = 0;                     // bytes of that step's input received before it
    long long imageOffset = -1;                 // in the frame stream: the offset within the image
    int expected = -1;                          // mismatching bytes, -1 when there is none
    int received = -1;
    std::string detail;
    long framesReceived = 0;

    std::string text() const;
};

class PhoneSim {
  public:
    explicit PhoneSim(PhoneSimOptions options);
    ~PhoneSim();  // stops and joins
    PhoneSim(const PhoneSim&) = delete;
    PhoneSim& operator=(const PhoneSim&) = delete;

    // Creates the pseudo-terminal and starts the phone's thread; it then waits for the updater to open it.
    bool start(std::string& error);
    const std::string& slavePath() const;
    void stop();

    // Called on the phone's thread after every session (set before start()).
    void onSessionEnd(std::function<void(const SimVerdict&)> callback);

    bool waitForEnd(std::chrono::milliseconds timeout);
    bool waitForStep(SimStep step, std::chrono::milliseconds timeout);  // reached it or any later step
    SimStep step() const;
    SimVerdict verdict() const;
    std::vector<std::uint8_t> received() const;  // every byte taken from the line this session, in order
    std::size_t bytesReceived() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};
