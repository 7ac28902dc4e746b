// Platform-neutral half of the serial link: the reply rule, the activity flags and the interrupt state.
#include "serial/serial_link.h"

#include <cerrno>

#include "serial/port_backend.h"

PortTarget PortTarget::parse(const std::string& text) {
    if (text.size() == 4 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' && (text[2] | 0x20) == 'm' &&
        text[3] >= '1' && text[3] <= '4')
        return com(text[3]);
    return device(text);
}

const char* openErrorText(OpenError error) {
    switch (error) {
        case OpenError::None:
            return "no error";
        case OpenError::Missing:
            return "no such device";
        case OpenError::Busy:
            return "the port is held by another program";
        case OpenError::Permission:
            return "permission denied";
        case OpenError::Settings:
            return "the device refused the line settings";
        case OpenError::Console:
            return "the port is the system console";
        case OpenError::Other:
            break;
    }
    return "the device could not be opened";
}

SerialLink::SerialLink() : backend_(std::make_unique<Backend>()) {}

SerialLink::~SerialLink() {
    close();
}

void SerialLink::setPortResolver(PortResolver resolver) {
    backend_->resolver = resolver ? std::move(resolver) : PortResolver(defaultPortPath);
}

void SerialLink::setObserver(LinkObserver* observer) {
    backend_->observer = observer;
}

void SerialLink::setReadRule(ReadRule rule) {
    backend_->rule = rule;
}

ReadRule SerialLink::readRule() const {
    return backend_->rule;
}

bool SerialLink::open(char portDigit, std::uint32_t speed) {
    return openPort(PortTarget::com(portDigit), speed, false);
}

bool SerialLink::open(const PortTarget& target, std::uint32_t speed) {
    return openPort(target, speed, false);
}

bool SerialLink::openPort(const PortTarget& target, std::uint32_t speed, bool reopen) {
    Backend& b = *backend_;
    std::lock_guard gate(b.gate);
    if (&target != &b.target) b.target = target;
    b.lost = false;
    close();
    PortOpenResult result;
    if (b.interrupted) {
        // An aborted session must not touch the line again, nor even ask which device a digit names.
        result = {OpenError::Other, EINTR};
    } else {
        b.lastPath = b.target.digit ? b.resolver(b.target.digit) : b.target.path;
        result = serial_port::supportedSpeed(speed) ? serial_port::open(*b.port, b.lastPath, speed, reopen)
                                                    : PortOpenResult{OpenError::Settings, EINVAL};
        if (b.observer) b.observer->opened(b.lastPath, speed, result.error);
    }
    b.lastError = result.error;
    b.lastErrno = result.errorNumber;
    return result.error == OpenError::None;
}

bool SerialLink::reopen(std::uint32_t speed) {
    openPort(backend_->target, speed, true);
    return true;
}

void SerialLink::close() {
    Backend& b = *backend_;
    if (serial_port::isOpen(*b.port)) {
        // The last command out first (the "C27" before the speed change, the final "Q"); an aborted
        // session sends nothing more.
        if (!b.interrupted) serial_port::drain(*b.port);
        if (b.observer) b.observer->closed();
    }
    serial_port::close(*b.port, b.interrupted);
}

bool SerialLink::isOpen() const {
    return serial_port::isOpen(*backend_->port);
}

void SerialLink::clearErrors() {
    if (isOpen()) serial_port::clearErrors(*backend_->port);
}

bool SerialLink::write(const std::uint8_t* bytes, std::size_t count) {
    Backend& b = *backend_;
    std::lock_guard gate(b.gate);
    if (b.interrupted || !isOpen()) return false;
    const bool ok = serial_port::write(*b.port, bytes, count);
    if (b.observer) b.observer->wrote(bytes, count, ok);
    if (!ok) return false;
    b.written.fetch_add(count, std::memory_order_relaxed);
    b.activity.txSeen = true;
    return true;
}

bool SerialLink::readReply() {
    Backend& b = *backend_;
    b.reply = ReplyBuffer{};
    for (int attempt = 0; attempt < b.rule.attempts; ++attempt) {
        if (b.interrupted) return false;
        if (!isOpen()) {
            // A closed or vanished port: wait out one window so a caller's retry loop does not spin, then
            // fail.
            serial_port::idleWindow(*b.port, b.rule.windowMs);
            return false;
        }
        std::size_t received = 0;
        const WindowResult result = serial_port::readWindow(*b.port, b.reply.bytes.data(),
                                                            b.reply.bytes.size(), b.rule.windowMs, received);
        if (received > 0) {
            b.read.fetch_add(received, std::memory_order_relaxed);
            if (b.observer) b.observer->received(b.reply.bytes.data(), received);
        }
        if (result == WindowResult::Interrupted) {
            b.reply = ReplyBuffer{};
            return false;
        }
        if (received > 0) {
            serial_port::purgeInput(*b.port);  // anything after the reply's window is stale
            b.reply.count = received;
            b.activity.rxSeen = true;
            return true;
        }
        // An empty window leaves the input alone: what came as it closed (still on its way through a USB
        // driver when the wait ended) is the awaited reply, not a stale one.
        if (result == WindowResult::Failed) {  // the line is gone; more attempts cannot help
            b.lost = true;
            b.lastError = OpenError::Missing;
            b.lastErrno = ENODEV;
            return false;
        }
    }
    return false;
}

bool SerialLink::lineLost() const {
    return backend_->lost;
}

const ReplyBuffer& SerialLink::reply() const {
    return backend_->reply;
}
std::uint64_t SerialLink::bytesWritten() const {
    return backend_->written.load(std::memory_order_relaxed);
}
std::uint64_t SerialLink::bytesRead() const {
    return backend_->read.load(std::memory_order_relaxed);
}
ActivityFlags& SerialLink::activity() {
    return backend_->activity;
}
OpenError SerialLink::lastOpenError() const {
    return backend_->lastError;
}
int SerialLink::lastOpenErrno() const {
    return backend_->lastErrno;
}
std::string SerialLink::lastOpenPath() const {
    return backend_->lastPath;
}

void SerialLink::interrupt() {
    // The flag first: a write or open that takes the gate from now on gives up at once, so a worker writing
    // in a tight loop cannot keep the gate from us. The wake-up ends the one under way, and taking the gate
    // waits until it has let go of the line.
    backend_->interrupted = true;
    serial_port::wake(*backend_->port);
    std::lock_guard gate(backend_->gate);
}

void SerialLink::clearInterrupt() {
    backend_->interrupted = false;
    serial_port::clearWake(*backend_->port);
}

bool SerialLink::interrupted() const {
    return backend_->interrupted;
}
