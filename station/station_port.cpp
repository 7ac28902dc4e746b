// One port's loop of sessions, and the panel its sessions report to.
#include "station/station_port.h"

#include <algorithm>

#include "serial/port_info.h"
#include "session/session_constants.h"
#include "station/terminal_text.h"

namespace {

using namespace std::chrono_literals;

// Between two sessions on a port: long enough for the phone to see the line closed before it is opened
// again (a close followed at once by an open can go unnoticed), short beside a session.
constexpr auto kReopenPause = 250ms;
// A port that will not open (unplugged, held by another program) is tried again this often.
constexpr auto kBusyRetry = 1s;
// How often a running session's progress is looked at, at most.
constexpr auto kProgressCheck = 1000ms;
// The bytes of a wrong reply that an end record keeps.
constexpr std::size_t kReplyKept = 64;

std::string modelName(const std::string& detectedText) {
    std::string name = trimmedField(detectedText);
    const std::string suffix = " detected";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.resize(name.size() - suffix.size());
    return name;
}

// "0d 0a 3f", cut after kReplyKept bytes with " ...".
std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < std::min(count, kReplyKept); ++i) {
        if (i > 0) out += ' ';
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    if (count > kReplyKept) out += " ...";
    return out;
}

// Where a session that failed with `code` stopped, by the stable name of its step.
std::string failedStep(int code, const std::string& lastStatus) {
    switch (code) {
        case kPortBusy:
            return "open";
        case kUnusableImage:
            return "image";
        case kWrongImageSize:
            return "detected";
        default:
            return stateName(lastStatus);
    }
}

}  // namespace

std::string whyPortFailed(const SerialLink& link) {
    return openFailureReason(describePort(link.lastOpenPath()), link.lastOpenError());
}

StationPort::StationPort(PortSetup setup)
    : setup_(std::move(setup)), target_(PortTarget::parse(setup_.label)), control_(*this) {
    control_.link().setObserver(setup_.observer);
    // Only a station keeps a phone from being updated twice in a row; a single run updates what it finds.
    if (setup_.repeat)
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
            control_.startSession(setup_.image, target_);
        }
        const int result = waitWatchingProgress();
        // A port that stays busy is recorded once, not every time it is tried again.
        endSession(result, !(busy && result == kPortBusy));
        busy = result == kPortBusy;
        if (!setup_.repeat) return;
        std::unique_lock lock(runMutex_);
        runWake_.wait_for(lock, busy ? kBusyRetry : kReopenPause, [this] { return stopping_; });
    }
}

// Waits for the session's end, telling a stall (a phone that takes and gives nothing) and its end as they
// happen. The session itself is left alone: a stalled phone is only shown.
int StationPort::waitWatchingProgress() {
    const auto period = std::min<std::chrono::milliseconds>(kProgressCheck, setup_.stallAfter / 4 + 1ms);
    for (;;) {
        if (const std::optional<int> result = control_.waitForEnd(period)) return *result;
        const std::uint64_t progress = control_.link().bytesWritten() + control_.link().bytesRead();
        std::optional<SessionRecord> change;
        {
            std::lock_guard lock(mutex_);
            const Steady::time_point now = Steady::now();
            if (progress != progress_) {
                progress_ = progress;
                progressAt_ = now;
                if (stalled_) {
                    stalled_ = false;
                    change = snapshot();
                }
            } else if (detected_ && !clockStopped_ && !stalled_ && now - progressAt_ >= setup_.stallAfter) {
                stalled_ = true;
                change = snapshot();
                change->state = "stalled";
            }
        }
        if (change) setup_.events.stateChanged(setup_.index, *change);
    }
}

void StationPort::beginSession(bool quiet) {
    std::lock_guard lock(mutex_);
    quiet_ = quiet;
    if (!quiet) {
        state_ = PortActivity::Waiting;
        problem_.clear();
    }
    failure_.clear();
    status_.clear();
    step_.clear();
    shown_.clear();
    model_.clear();
    imei_.clear();
    range_ = position_ = 0;
    bytesAtStart_ = control_.link().bytesWritten();
    started_ = WallClock::now();
    detected_.reset();
    clockStopped_.reset();
    stalled_ = false;
}

void StationPort::endSession(int result, bool record) {
    SessionRecord r;
    std::string note;
    {
        std::lock_guard lock(mutex_);
        if (detected_ && !clockStopped_) clockStopped_ = Steady::now();
        stalled_ = false;
        r = snapshot();
        r.ended = true;
        r.state = "ended";
        r.endedAt = r.time;
        Outcome outcome = Outcome::None;
        if (result == 0) {
            r.result = SessionResult::Success;
            r.code = 0;
            r.text = session::kSuccessText;
            lastUpdated_ = imei_;
            state_ = PortActivity::Done;
            outcome = Outcome::Success;
        } else if (result == kSessionHeld) {
            r.result = SessionResult::SamePhone;
            r.text = kSamePhoneText;
            note = kSamePhoneText;
            state_ = PortActivity::SamePhone;
            outcome = Outcome::SamePhone;
        } else if (result == kSessionAborted) {
            // Stopped before any phone announced itself: no phone's session, and no abort of one.
            r.result = detected_ ? SessionResult::Aborted : SessionResult::Idle;
            r.text = detected_ ? "aborted" : kIdleText;
            state_ = PortActivity::Stopped;
            outcome = Outcome::Aborted;
        } else {
            r.result = SessionResult::Failure;
            r.code = result;
            r.text = failureMessage(result);
            r.failedStep = failedStep(result, step_);
            if (result == kWrongResponse || result == kWrongSoftware) {
                const ReplyBuffer& reply = control_.link().reply();  // the worker has ended: no race
                r.received = hexBytes(reply.bytes.data(), reply.count);
            }
            if (result == kPortBusy) {
                const std::string why = whyPortFailed(control_.link());
                if (record) note = why;
                const std::string path = control_.link().lastOpenPath() + ": ";
                problem_ = why.rfind(path, 0) == 0 ? why.substr(path.size()) : why;
                state_ = PortActivity::NoDevice;
            } else {
                std::string text = r.text;
                std::replace(text.begin(), text.end(), '\n', ' ');
                std::string where = r.failedStep;
                if (r.received) where += r.received->empty() ? ", no reply" : ", got " + *r.received;
                failure_ = text + " (at " + where + ")";
                state_ = PortActivity::Failed;
                outcome = Outcome::Failure;
            }
        }
        // The last phone's outcome stays on the port's line until the next phone's replaces it.
        if (detected_ && outcome != Outcome::None) last_ = {outcome, imei_, r.text};
        quiet_ = false;
    }
    if (!note.empty()) {
        if (setup_.lone) {
            setup_.lone->note(note);
        } else {
            setup_.events.portLine(setup_.index, note, false);
        }
    }
    if (record) setup_.events.sessionEnded(setup_.index, r);
}

SessionRecord StationPort::snapshot() {
    SessionRecord r;
    r.time = WallClock::now();
    r.port = setup_.label;
    r.status = step_;
    r.state = stateName(step_);
    r.started = started_;
    r.detected = detected_;
    r.model = model_;
    r.imei = imei_;
    r.framesSent = control_.state().framesSent;
    r.bytesSent = control_.link().bytesWritten() - bytesAtStart_;
    return r;
}

PortView StationPort::view() const {
    std::lock_guard lock(mutex_);
    PortView v;
    v.state = stalled_ ? PortActivity::Stalled : state_;
    if (state_ == PortActivity::Updating) {
        v.step = stateName(step_);
        v.detail = status_;
    } else if (state_ == PortActivity::Failed) {
        v.detail = failure_;
    } else if (state_ == PortActivity::NoDevice) {
        v.detail = problem_;
    }
    v.model = model_;
    v.imei = imei_;
    v.range = range_;
    v.position = position_;
    if (detected_)
        v.elapsed = std::chrono::duration_cast<std::chrono::seconds>(clockStopped_.value_or(Steady::now()) -
                                                                     detectedSteady_);
    v.last = last_;
    return v;
}

void StationPort::setStatus(const std::string& text) {
    if (setup_.lone) setup_.lone->setStatus(text);
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
    setup_.events.portLine(setup_.index, text, true);
    // The idle reset's "Ready" is the ending, which has a record of its own.
    if (text != session::kStatusReady) setup_.events.stateChanged(setup_.index, r);
}

void StationPort::setFieldText(int control, const std::string& text) {
    if (setup_.lone) setup_.lone->setFieldText(control, text);
    std::string line;
    std::optional<SessionRecord> detection;
    {
        std::lock_guard lock(mutex_);
        if (control == IDC_LINKSTATE && text == session::kLinkSlow) {  // the port opened
            quiet_ = false;
            state_ = PortActivity::Waiting;
            problem_.clear();
        }
        if (control == IDC_PHONE && !text.empty()) {
            model_ = modelName(text);
            detected_ = WallClock::now();
            detectedSteady_ = progressAt_ = Steady::now();
            state_ = PortActivity::Updating;
            detection = snapshot();
            detection->state = "detected";
        }
        if (control == IDC_IMEI && !text.empty()) {
            imei_.clear();
            std::copy_if(text.begin(), text.end(), std::back_inserter(imei_),
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
    if (!line.empty()) setup_.events.portLine(setup_.index, line, true);
    if (detection) setup_.events.stateChanged(setup_.index, *detection);
}

void StationPort::progressStart(std::uint32_t range) {
    if (setup_.lone) setup_.lone->progressStart(range);
    std::lock_guard lock(mutex_);
    range_ = range;
    position_ = 0;
}

void StationPort::progressStep() {
    if (setup_.lone) setup_.lone->progressStep();
    std::lock_guard lock(mutex_);
    // A step past the top starts the bar over, as the window's bar does.
    position_ = position_ + 1 > range_ ? 0 : position_ + 1;
}

void StationPort::progressReset() {
    if (setup_.lone) setup_.lone->progressReset();
    std::lock_guard lock(mutex_);
    range_ = position_ = 0;
}

void StationPort::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    if (setup_.lone) setup_.lone->showMessage(text, caption, icon);
    bool quiet;
    {
        std::lock_guard lock(mutex_);
        quiet = quiet_;
    }
    if (!quiet) setup_.events.portLine(setup_.index, caption + ": " + text, false);
}
