// phone-sim: a simulated phone on a pseudo-terminal, for trying the updater without a phone.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "image/read_image.h"
#include "image/whole_file.h"
#include "phone_sim.h"
#include "resources/program_text.h"
#include "serial/standard_descriptors.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int) {
    stopRequested = 1;
}

// A bad command line: the reason and the usage lines (help.txt) on stderr.
int usage(const std::string& problem) {
    const std::string_view lines = helpUsage();
    std::fprintf(stderr, "phone-sim: %s\n%.*s", problem.c_str(), static_cast<int>(lines.size()),
                 lines.data());
    return 2;
}

bool loadPayload(const std::string& path, ExpectedPayload& payload) {
    std::vector<std::uint8_t> bytes;
    if (!readWholeFile(path, bytes) || bytes.empty()) return false;
    payload.size = bytes.size();
    payload.bytes = std::move(bytes);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Closed standard descriptors would hand their numbers to the line or its stop pipe, which the
    // program's own lines would then reach.
    guardStandardDescriptors();
    PhoneSimOptions options;
    std::vector<std::string> faults;
    std::string imagePath;
    bool haveModel = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--no-throttle") {
            options.emulateLineRate = false;
        } else if (arg == "--repeat") {
            options.repeat = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelpText, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("phone-sim %s\n", kProgramVersion);
            return 0;
        } else if (!hasValue) {
            return usage("missing value or unknown option: " + arg);
        } else {
            const std::string value = argv[++i];
            if (arg == "--model") {
                if (value == "T1x") {
                    options.model = PhoneKind::T1x;
                } else if (value == "A1018s") {
                    options.model = PhoneKind::A1018s;
                } else {
                    return usage("the model is T1x or A1018s");
                }
                haveModel = true;
            } else if (arg == "--link") {
                options.linkPath = value;
            } else if (arg == "--image") {
                imagePath = value;
            } else if (arg == "--save") {
                options.savePath = value;
            } else if (arg == "--imei") {
                // Several, separated by commas: the phones of successive sessions, in turn.
                for (std::size_t start = 0, end; start <= value.size(); start = end + 1) {
                    end = std::min(value.find(',', start), value.size());
                    options.imeiCycle.push_back(value.substr(start, end - start));
                }
                options.imei = options.imeiCycle.front();
                if (options.imeiCycle.size() == 1) options.imeiCycle.clear();
            } else if (arg == "--erase-ms") {
                // How long the erase takes between its two replies (default 600).
                options.eraseTime = std::chrono::milliseconds(std::atoi(value.c_str()));
            } else if (arg == "--fault") {
                faults.push_back(value);  // applied once the model is known
            } else if (arg == "--boot" || arg == "--service") {
                if (!loadPayload(value, arg == "--boot" ? options.boot : options.service)) {
                    return usage("cannot read " + value);
                }
            } else {
                return usage("unknown option " + arg);
            }
        }
    }
    if (!haveModel || options.linkPath.empty()) return usage("--model and --link are required");
    for (const std::string& faultText : faults) {
        std::string error;
        if (!applyFault(options, faultText, error)) return usage(error);
    }
    if (!imagePath.empty()) {
        std::vector<std::uint8_t> content;
        if (!readWholeFile(imagePath, content)) return usage("cannot read " + imagePath);
        ReadResult result = readImage(std::move(content));
        std::string error;
        if (result.outcome != ReadOutcome::Ok) return usage(imagePath + " is not a loadable image");
        if (!setExpectedImage(options, result.image, error)) return usage(error);
    }

    PhoneSim sim(options);
    int sessions = 0;
    bool allGood = true;
    sim.onSessionEnd([&](const SimVerdict& verdict) {
        if (verdict.outcome == SimOutcome::Stopped && verdict.step == SimStep::WaitingForUpdater) return;
        ++sessions;
        allGood = allGood && verdict.outcome == SimOutcome::Success;
        std::printf("phone-sim: %s\n", verdict.text().c_str());
        std::fflush(stdout);
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::string error;
    if (!sim.start(error)) {
        std::fprintf(stderr, "phone-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("phone-sim: %s on %s (%s), waiting for the updater\n",
                options.model == PhoneKind::T1x ? "T1x" : "A1018s", options.linkPath.c_str(),
                sim.slavePath().c_str());
    std::fflush(stdout);
    while (!stopRequested) {
        if (options.repeat) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } else if (sim.waitForEnd(std::chrono::milliseconds(100))) {
            break;
        }
    }
    sim.stop();
    return sessions > 0 && allGood ? 0 : 1;
}
