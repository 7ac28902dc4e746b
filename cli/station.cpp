#include "cli/station.h"

#include <thread>

#include "cli/line_queue.h"
#include "cli/station_display.h"
#include "cli/station_io.h"
#include "cli/station_port.h"

Station::Station(const FlashImage& image, RecordImage recordImage, StationOptions options,
                 TerminalPanel* classic)
    : image_(image), recordImage_(std::move(recordImage)), options_(std::move(options)) {
    for (std::size_t i = 0; i < options_.ports.size(); ++i)
        ports_.push_back(std::make_unique<StationPort>(*this, i, options_.ports[i], classic));
    if (!classic) {
        std::vector<StationDisplay::ViewSource> views;
        for (const auto& port : ports_) views.push_back([p = port.get()] { return p->view(); });
        display_ = std::make_unique<StationDisplay>(kStderrFd, isTerminal(kStderrFd), options_.ports,
                                                    std::move(views));
    }
    if (options_.events) events_ = std::make_unique<LineQueue>(kStdoutFd);
}

Station::~Station() {
    for (const auto& port : ports_) port->join();
    // The display draws its last state from the ports: it goes first.
    display_.reset();
    events_.reset();
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
    return !logFailed_ && (!events_ || events_->ok());
}

void Station::event(const SessionRecord& record) {
    if (events_) events_->push(recordJson(record, recordImage_));
}

void Station::finished(std::size_t port, const SessionRecord& record) {
    const std::string line = recordJson(record, recordImage_);
    if (events_) events_->push(line);
    std::lock_guard lock(mutex_);
    if (record.result == SessionResult::Failure && firstFailure_ == 0) firstFailure_ = record.code;
    if (options_.logFd >= 0 && !writeLine(options_.logFd, line + "\n") && !logFailed_) {
        logFailed_ = true;
        if (display_) display_->line(port, "cannot append to the log: its records are being lost");
    }
}
