#include "cli/station_port.h"

#include <algorithm>
#include <csignal>

#include "cli/station.h"
#include "cli/terminal_panel.h"
#include "serial/port_info.h"
#include "serial/serial_link.h"
#include "session/session_constants.h"

namespace {

using namespace std::chrono_literals;

// Between two sessions on a port: long enough for the phone to see the line closed before it is opened
// again (a close followed at once by an open can go unnoticed), short beside a session.
constexpr auto kReopenPause = 250ms;
// A port that will not open (unplugged, held by another program) is tried again this often.
constexpr auto kBusyRetry = 1s;

// "COM1".."COM4" (any case) name the four serial ports; anything else is a device path.
char comPortDigit(const std::string& device) {
    if (device.size() == 4 && (device[0] | 0x20) == 'c' && (device[1] | 0x20) == 'o' &&
        (device[2] | 0x20) == 'm' && device[3] >= '1' && device[3] <= '4')
        return device[3];
    return 0;
}

std::string modelName(const std::string& detectedText) {
    std::string name = trimmedField(detectedText);
    const std::string suffix = " detected";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    return name;
}

}  // namespace

std::string whyPortFailed(const SerialLink& link) {
    return openFailureReason(describePort(link.lastOpenPath()), link.lastOpenError());
}

StationPort::StationPort(Station& station, std::size_t index, std::string label, TerminalPanel* classic)
    : station_(station),
      index_(index),
      label_(std::move(label)),
      digit_(comPortDigit(label_)),
      classic_(classic),
      control_(*this) {
    if (!digit_) control_.link().setPortResolver([device = label_](char) { return device; });
    // Only a station keeps a phone from being updated twice in a row; a single run updates what it finds.
    if (station_.repeat())
        control_.setBeforeErase([this](std::string_view imei) { return !sameAsLastUpdated(imei); });
}

StationPort::~StationPort() {
    join();
}

void StationPort::start() {
    thread_ = std::thread([this] { run(); });
}

void StationPort::stop() {
    {
        std::lock_guard lock(runMutex_);
        stopping_ = true;
    }
    runWake_.notify_all();
    control_.abortSession();
}

void StationPort::join() {
    if (thread_.joinable()) thread_.join();
}

bool StationPort::sameAsLastUpdated(std::string_view imei) {
    std::lock_guard lock(mutex_);
    return !lastUpdated_.empty() && imei == lastUpdated_;
}

void StationPort::run() {
    bool busy = false;
    for (;;) {
        {
            // Under the lock that stop() takes: a session either starts before it, and is aborted, or never.
            std::lock_guard lock(runMutex_);
            if (stopping_) return;
            beginSession(busy);
            control_.startSession(station_.image());
        }
        const int result = control_.waitForEnd();
        // A port that stays busy is recorded once, not every time it is tried again.
        endSession(result, !(busy && result == kPortBusy));
        busy = result == kPortBusy;
        if (!station_.repeat()) return;
        std::unique_lock lock(runMutex_);
        runWake_.wait_for(lock, busy ? kBusyRetry : kReopenPause, [this] { return stopping_; });
    }
}

void StationPort::beginSession(bool quiet) {
    std::lock_guard lock(mutex_);
    quiet_ = quiet;
    status_.clear();
    step_.clear();
    shown_.clear();
    model_.clear();
    imeiText_.clear();
    imei_.clear();
    framesSent_ = 0;
    range_ = position_ = 0;
    bytesAtStart_ = control_.link().bytesWritten();
    started_ = WallClock::now();
    detected_.reset();
    clockStopped_.reset();
}

void StationPort::endSession(int result, bool record) {
    SessionRecord r;
    std::string note;
    {
        std::lock_guard lock(mutex_);
        if (detected_ && !clockStopped_) clockStopped_ = Steady::now();
        r = snapshot();
        r.ended = true;
        r.state = "ended";
        r.endedAt = r.time;
        if (result == 0) {
            r.result = SessionResult::Success;
            r.code = 0;
            r.text = session::kSuccessText;
            lastUpdated_ = imei_;
        } else if (result == kSessionHeld) {
            r.result = SessionResult::SamePhone;
            r.text = kSamePhoneText;
            note = kSamePhoneText;
        } else if (result == kSessionAborted) {
            r.result = SessionResult::Aborted;
            r.text = "aborted";
        } else {
            r.result = SessionResult::Failure;
            r.code = result;
            r.text = failureMessage(result);
            if (result == kPortBusy && record) note = whyPortFailed(control_.link());
        }
        last_ = imeiText_.empty() ? r.text : imeiText_ + " " + r.text;
        quiet_ = false;
    }
    if (!note.empty()) {
        if (classic_) {
            classic_->note(note);
        } else {
            say(note);
        }
    }
    if (record) station_.finished(index_, r);
}

SessionRecord StationPort::snapshot() {
    SessionRecord r;
    r.time = WallClock::now();
    r.port = label_;
    r.status = step_;
    r.state = stateName(step_);
    r.started = started_;
    r.detected = detected_;
    r.model = model_;
    r.imei = imei_;
    r.framesSent = framesSent_;
    r.bytesSent = control_.link().bytesWritten() - bytesAtStart_;
    return r;
}

PortView StationPort::view() const {
    std::lock_guard lock(mutex_);
    PortView v;
    v.status = status_;
    v.model = model_;
    v.imei = imeiText_;
    v.range = range_;
    v.position = position_;
    if (detected_)
        v.elapsed = std::chrono::duration_cast<std::chrono::seconds>(clockStopped_.value_or(Steady::now()) -
                                                                     detectedSteady_);
    v.last = last_;
    return v;
}

void StationPort::say(const std::string& text) {
    if (StationDisplay* display = station_.display()) display->line(index_, text);
}

void StationPort::setStatus(const std::string& text) {
    if (classic_) classic_->setStatus(text);
    bool quiet;
    SessionRecord r;
    {
        std::lock_guard lock(mutex_);
        status_ = text;
        if (text != session::kStatusReady) step_ = text;
        quiet = quiet_;
        r = snapshot();
    }
    if (quiet) return;
    StationDisplay* display = station_.display();
    if (display && !display->terminal()) display->line(index_, text);
    // The idle reset's "Ready" is the ending, which has a record of its own.
    if (text != session::kStatusReady) station_.event(r);
}

void StationPort::setFieldText(int control, const std::string& text) {
    if (classic_) classic_->setFieldText(control, text);
    std::string line;
    std::optional<SessionRecord> detection;
    {
        std::lock_guard lock(mutex_);
        if (control == IDC_FRAMESSENT) {
            // Blanked by the idle reset: the count of the ending session stays for its record.
            if (!text.empty()) framesSent_ = std::stoll(text);
            return;
        }
        if (control == IDC_LINKSTATE && text == session::kLinkSlow) quiet_ = false;  // the port opened
        if (control == IDC_PHONE && !text.empty()) {
            model_ = modelName(text);
            detected_ = WallClock::now();
            detectedSteady_ = Steady::now();
            detection = snapshot();
            detection->state = "detected";
        }
        if (control == IDC_IMEI && !text.empty()) {
            imeiText_ = trimmedField(text);
            imei_.clear();
            std::copy_if(imeiText_.begin(), imeiText_.end(), std::back_inserter(imei_),
                         [](char c) { return c >= '0' && c <= '9'; });
        }
        const char* label = terminalFieldLabel(control);
        std::string& shown = shown_[control];
        if (label && shown != text && !quiet_) {
            shown = text;
            if (const std::string value = trimmedField(text); !value.empty())
                line = std::string(label) + ": " + value;
        }
    }
    StationDisplay* display = station_.display();
    if (display && !display->terminal() && !line.empty()) display->line(index_, line);
    if (detection) station_.event(*detection);
}

void StationPort::progressStart(std::uint32_t range) {
    if (classic_) classic_->progressStart(range);
    std::lock_guard lock(mutex_);
    range_ = range;
    position_ = 0;
}

void StationPort::progressStep() {
    if (classic_) classic_->progressStep();
    std::lock_guard lock(mutex_);
    // A step past the top starts the bar over, as the window's bar does.
    position_ = position_ + 1 > range_ ? 0 : position_ + 1;
}

void StationPort::progressReset() {
    if (classic_) classic_->progressReset();
    std::lock_guard lock(mutex_);
    range_ = position_ = 0;
}

void StationPort::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    if (classic_) classic_->showMessage(text, caption, icon);
    bool quiet;
    {
        std::lock_guard lock(mutex_);
        quiet = quiet_;
    }
    if (!quiet) say(caption + ": " + text);
}
