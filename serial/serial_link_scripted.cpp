// Scripted backend of the serial link (see scripted_port.h): the platform half with no device and no clock.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <utility>

#include "serial/port_backend.h"
#include "serial/scripted_port.h"

using scripted_port::Window;

struct PlatformPort {
    bool open = false;
    bool gone = false;                // the device vanished while open; cleared by the next open
    std::atomic<bool> woken{false};   // an interrupt is pending (set from any thread)
    std::vector<std::uint8_t> input;  // arrived and not yet read or purged
};

namespace {
scripted_port::Script script;
scripted_port::Record recorded;

Window nextWindow() {
    return script.nextWindow ? script.nextWindow() : Window{};
}
}  // namespace

void scripted_port::play(Script next) {
    script = std::move(next);
    recorded = {};
}

const scripted_port::Record& scripted_port::record() {
    return recorded;
}

std::optional<Window> scripted_port::ByteScript::window() {
    if (silent_ > 0) {
        --silent_;
        return Window{};
    }
    while (at_ != end_) {
        const std::uint8_t tag = *at_++;
        if (tag == kSilence) {
            silent_ = next();
            return Window{};
        }
        if (tag <= kLongest) {
            const std::uint8_t* from = at_;
            at_ += std::min<std::ptrdiff_t>(tag, end_ - at_);
            return Window{Window::Kind::Data, {from, at_}, {}};
        }
        if (tag == kLong) return Window{Window::Kind::Data, std::vector<std::uint8_t>(1000u + next(), 'L'), {}};
        if (tag == kGone) return Window{Window::Kind::Gone, {}, {}};
        if (tag != kGoneAtWrite && tag != kAbortAtWrite) return Window{};
        (tag == kGoneAtWrite ? goneIn_ : abortIn_) = next();  // takes no window of its own
    }
    return std::nullopt;
}

bool scripted_port::ByteScript::openFails() {
    if (at_ == end_ || *at_ != kOpenFails) return false;
    ++at_;
    return true;
}

scripted_port::ByteScript::Fate scripted_port::ByteScript::write() {
    if (at_ == end_ && silent_ == 0) return Fate::Abort;
    const bool gone = goneIn_ >= 0 && goneIn_-- == 0;
    const bool abort = abortIn_ >= 0 && abortIn_-- == 0;
    return abort ? Fate::Abort : gone ? Fate::Vanish : Fate::Done;
}

scripted_port::Script scripted_port::ByteScript::script(std::function<void()> pressAbort) {
    return {[this, pressAbort] {
                std::optional<Window> window = this->window();
                if (!window) pressAbort();
                return window.value_or(Window{});
            },
            [this] { return !openFails(); },
            [this, pressAbort] {
                const Fate fate = this->write();
                if (fate == Fate::Abort) pressAbort();
                return fate != Fate::Vanish;
            }};
}

void PlatformPortDeleter::operator()(PlatformPort* port) const {
    delete port;
}

// Names only: the scripted line never looks at a device.
std::string defaultPortPath(char portDigit) {
    return std::string("COM") + portDigit;
}

namespace serial_port {

PlatformPortPtr create() {
    return PlatformPortPtr(new PlatformPort);
}

bool supportedSpeed(std::uint32_t speed) {
    return speed == kSlowSpeed || speed == kFastSpeed;
}

PortOpenResult open(PlatformPort& port, const std::string& path, std::uint32_t speed, bool) {
    if (script.openSucceeds && !script.openSucceeds()) return {OpenError::Busy, EBUSY};
    port.open = true;
    port.gone = false;
    port.input.clear();
    recorded.opens.push_back(path + "@" + std::to_string(speed));
    return {};
}

void drain(PlatformPort&) {
    recorded.drains.push_back(recorded.bytes.size());
}

void close(PlatformPort& port, bool) {
    port.open = false;
    port.input.clear();
}

bool isOpen(const PlatformPort& port) {
    return port.open;
}

void clearErrors(PlatformPort&) {}

bool write(PlatformPort& port, const std::uint8_t* bytes, std::size_t count) {
    if (port.woken) return false;
    const bool stays = !script.writeSucceeds || script.writeSucceeds();
    if (port.woken) return false;  // Abort came while the block was going out
    if (!stays) port.gone = true;
    if (port.gone) return false;
    recorded.bytes.insert(recorded.bytes.end(), bytes, bytes + count);
    recorded.blockEnds.push_back(recorded.bytes.size());
    return true;
}

WindowResult readWindow(PlatformPort& port, std::uint8_t* buffer, std::size_t capacity, int,
                        std::size_t& received) {
    received = 0;
    if (port.woken) return WindowResult::Interrupted;
    Window window = nextWindow();
    if (port.woken) return WindowResult::Interrupted;
    if (window.kind == Window::Kind::Gone) port.gone = true;
    if (port.gone) {
        port.input.clear();
        return WindowResult::Failed;
    }
    port.input.insert(port.input.end(), window.bytes.begin(), window.bytes.end());
    received = std::min(capacity, port.input.size());
    std::copy(port.input.begin(), port.input.begin() + static_cast<std::ptrdiff_t>(received), buffer);
    port.input.erase(port.input.begin(), port.input.begin() + static_cast<std::ptrdiff_t>(received));
    port.input.insert(port.input.end(), window.late.begin(), window.late.end());
    return WindowResult::Ok;
}

void purgeInput(PlatformPort& port) {
    port.input.clear();
}

void idleWindow(PlatformPort& port, int) {
    if (!port.woken) nextWindow();
}

void wake(PlatformPort& port) {
    port.woken = true;
}

void clearWake(PlatformPort& port) {
    port.woken = false;
}

}  // namespace serial_port
