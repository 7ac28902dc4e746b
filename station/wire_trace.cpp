// The wire trace: taps that queue what each link moved, and the thread that writes it out.
#include "station/wire_trace.h"

#include <cstdio>
#include <utility>

#include "station/station_io.h"

namespace {

using namespace std::chrono_literals;

// The writer looks at the queue this often: the sessions never pay for waking it.
constexpr auto kWriteEvery = 100ms;
// A file that cannot keep up must not make the program hoard the trace for hours.
constexpr std::size_t kMaxQueued = 200'000;
// A frame is shown by its first bytes (start, type, count, address) and its checksum.
constexpr std::size_t kFrameHead = 8;

// 'S', a type digit and a count byte that matches the block: one frame of the stream.
bool isFrame(const std::uint8_t* bytes, std::size_t count) {
    return count >= 4 && bytes[0] == 'S' && bytes[1] >= '0' && bytes[1] <= '9' && bytes[2] == count - 3;
}

void appendHex(std::string& out, const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i > 0) out += ' ';
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
    }
}

std::string printable(const std::string& bytes) {
    std::string out = bytes;
    for (char& c : out)
        if (c < 0x20 || c > 0x7E) c = '.';
    return out;
}

}  // namespace

class WireTrace::Tap final : public LinkObserver {
  public:
    Tap(WireTrace& trace, std::size_t port) : trace_(trace), port_(port) {}

    void opened(const std::string& path, std::uint32_t speed, OpenError error) override {
        Entry e = entry(Kind::Open, 0);
        e.text = path + " at " + std::to_string(speed) + ": " +
                 (error == OpenError::None ? "open" : openErrorText(error));
        trace_.push(std::move(e));
    }
    void closed() override { trace_.push(entry(Kind::Close, 0)); }
    void wrote(const std::uint8_t* bytes, std::size_t count, bool ok) override {
        if (ok && isFrame(bytes, count)) {
            // The frame stream: one line a frame, a summary rather than every byte.
            Entry e = entry(Kind::Frame, count);
            e.bytes.assign(bytes, bytes + std::min(count, kFrameHead));
            e.bytes += static_cast<char>(bytes[count - 1]);
            e.frame = ++frames_;
            trace_.push(std::move(e));
            return;
        }
        frames_ = 0;
        Entry e = entry(ok ? Kind::Write : Kind::WriteFailed, count);
        e.bytes.assign(bytes, bytes + count);
        trace_.push(std::move(e));
    }
    void received(const std::uint8_t* bytes, std::size_t count) override {
        Entry e = entry(Kind::Read, count);
        e.bytes.assign(bytes, bytes + count);
        trace_.push(std::move(e));
    }

  private:
    Entry entry(Kind kind, std::size_t count) const {
        Entry e;
        e.time = Clock::now();
        e.port = port_;
        e.kind = kind;
        e.count = count;
        return e;
    }

    WireTrace& trace_;
    const std::size_t port_;
    long frames_ = 0;  // the worker's thread only
};

WireTrace::WireTrace(int fd, std::vector<std::string> ports) : fd_(fd), ports_(std::move(ports)) {
    for (std::size_t i = 0; i < ports_.size(); ++i) taps_.push_back(std::make_unique<Tap>(*this, i));
    thread_ = std::thread([this] { run(); });
}

WireTrace::~WireTrace() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

LinkObserver& WireTrace::tap(std::size_t index) {
    return *taps_.at(index);
}

bool WireTrace::ok() const {
    std::lock_guard lock(mutex_);
    return !failed_;
}

void WireTrace::push(Entry entry) {
    std::lock_guard lock(mutex_);
    if (failed_) return;
    if (queued_.size() >= kMaxQueued) {
        ++dropped_;
        return;
    }
    queued_.push_back(std::move(entry));
}

std::string WireTrace::format(const Entry& e, const std::string& port, Clock::time_point start) {
    char time[32];
    std::snprintf(time, sizeof time, "%9lld",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(e.time - start).count()));
    std::string line = std::string(time) + " " + port + " ";
    switch (e.kind) {
        case Kind::Open:
            return line + "open " + e.text;
        case Kind::Close:
            return line + "close";
        case Kind::Frame:
            line += "-> " + std::to_string(e.count) + ": ";
            appendHex(line, e.bytes.substr(0, e.bytes.size() - 1));
            line += " .. ";
            appendHex(line, e.bytes.substr(e.bytes.size() - 1));
            return line + "  (frame " + std::to_string(e.frame) + ")";
        case Kind::Write:
        case Kind::WriteFailed:
        case Kind::Read:
            break;
    }
    line += e.kind == Kind::Read ? "<- " : "-> ";
    line += std::to_string(e.count) + (e.kind == Kind::WriteFailed ? " (write failed): " : ": ");
    appendHex(line, e.bytes);
    return line + "  |" + printable(e.bytes) + "|";
}

void WireTrace::run() {
    writeAll(fd_,
             "# time (ms, monotonic, from the start) port direction (-> to the phone, <- from it) bytes: hex "
             "|text|\n");
    std::unique_lock lock(mutex_);
    for (bool last = false; !last;) {
        wake_.wait_for(lock, kWriteEvery, [this] { return closing_; });
        last = closing_;
        std::vector<Entry> entries;
        entries.swap(queued_);
        const std::size_t dropped = std::exchange(dropped_, 0);
        lock.unlock();
        std::string text;
        for (const Entry& e : entries) text += format(e, ports_[e.port], start_) + "\n";
        if (dropped > 0) text += "(" + std::to_string(dropped) + " entries dropped: the file could not keep up)\n";
        const bool written = text.empty() || writeAll(fd_, text);
        lock.lock();
        if (!written) {
            failed_ = true;
            queued_.clear();
        }
    }
}
