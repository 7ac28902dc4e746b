// The station: its ports, and where their records, lines and bytes go.
#include "station/station.h"

#include <thread>

#include "station/line_queue.h"
#include "station/station_display.h"
#include "station/wire_trace.h"

Station::Station(const FlashImage& image, RecordImage recordImage, StationOptions options, LonePanel* lone)
    : recordImage_(std::move(recordImage)), options_(std::move(options)) {
    if (options_.traceFd >= 0) trace_ = std::make_unique<WireTrace>(options_.traceFd, options_.ports);
    if (options_.events) events_ = std::make_unique<LineQueue>(options_.eventsFd);
    for (std::size_t i = 0; i < options_.ports.size(); ++i) {
        ports_.push_back(std::make_unique<StationPort>(PortSetup{
            i, options_.ports[i], image, options_.repeat, options_.stallAfter, *this, lone,
            trace_ ? &trace_->tap(i) : nullptr}));
    }
    if (!lone) {
        std::vector<StationDisplay::ViewSource> views;
        for (const auto& port : ports_) views.push_back([p = port.get()] { return p->view(); });
        display_ = std::make_unique<StationDisplay>(options_.displayFd, isTerminal(options_.displayFd),
                                                    options_.ports, std::move(views),
                                                    [this] { return totals(); });
    }
}

Station::~Station() {
    for (const auto& port : ports_) port->join();
    // The display draws its last state from the ports: it goes first. The ports' links report to the trace
    // until the ports are gone.
    display_.reset();
    ports_.clear();
    events_.reset();
    trace_.reset();
}

void Station::run() {
    for (const auto& port : ports_) port->start();
    for (const auto& port : ports_) port->join();
    // Every record is in: a reader of the events that stopped reading cannot hold up the end.
    if (events_) events_->finish();
}

void Station::stop(int signal) {
    int none = 0;
    signal_.compare_exchange_strong(none, signal);
    // Every port at once: one port's abort must not wait for another's.
    std::vector<std::thread> stopping;
    for (const auto& port : ports_) stopping.emplace_back([p = port.get()] { p->stop(); });
    for (std::thread& t : stopping) t.join();
}

int Station::exitCode() const {
    if (const int signal = signal_.load()) return 128 + signal;
    std::lock_guard lock(mutex_);
    return firstFailure_;
}

bool Station::recordsWritten() const {
    std::lock_guard lock(mutex_);
    return !logFailed_ && (!events_ || events_->ok()) && (!trace_ || trace_->ok());
}

void Station::terminalResized() {
    if (display_) display_->resized();
}

StationTotals Station::totals() const {
    std::lock_guard lock(mutex_);
    StationTotals t = totals_;
    t.running = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
    return t;
}

void Station::stateChanged(std::size_t, const SessionRecord& record) {
    if (events_) events_->push(recordJson(record, recordImage_));
}

void Station::sessionEnded(std::size_t port, const SessionRecord& record) {
    const std::string line = recordJson(record, recordImage_);
    if (events_) events_->push(line);
    std::lock_guard lock(mutex_);
    if (record.result == SessionResult::Success) ++totals_.done;
    if (record.result == SessionResult::SamePhone) ++totals_.samePhone;
    // A port that would not open is no phone that failed.
    if (record.result == SessionResult::Failure && record.code != 1) ++totals_.failed;
    if (record.result == SessionResult::Failure && firstFailure_ == 0) firstFailure_ = record.code;
    if (options_.logFd >= 0 && !writeLine(options_.logFd, line + "\n") && !logFailed_) {
        logFailed_ = true;
        if (display_) display_->line(port, "cannot append to the log: its records are being lost");
    }
}

void Station::portLine(std::size_t port, const std::string& text, bool progress) {
    // A lone port has no display: its panel printed everything already.
    if (!display_) return;
    if (!progress || !display_->terminal()) display_->line(port, text);
}
