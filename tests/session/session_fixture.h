// One updater (SessionControl + RecordingPanel) against one simulated phone on a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording_panel.h"
#include "session/control_ids.h"
#include "session/session_control.h"
#include "test_executor.h"
#include "test_image.h"
#include "tools/phone-sim/phone_sim.h"

namespace session_test {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

inline constexpr const char* kHintLine =
    "You will have to remove the battery and put it back before restarting";

// Short read windows keep silent-phone cases quick; five 200 ms windows still outlast the erase. At the
// emulated line rate a reply can follow a long upload still draining from the line's buffers: wait longer.
inline constexpr ReadRule kTestReadRule{5, 200};
inline constexpr ReadRule kLineRateReadRule{50, 200};

inline Lines startLines() {
    return {"field 1051 'Abort'", "enable 1056 off", "enable 1018 off", "enable 1019 off",
            "enable 1020 off",    "enable 1021 off", "progressReset",   "redraw"};
}

inline Lines idleLines() {
    return {"progressReset",       "field 1051 'Update'", "enable 1056 on", "enable 1018 on",
            "enable 1019 on",      "enable 1020 on",      "enable 1021 on", "field 1007 ''",
            "field 1003 'CLOSED'", "field 1004 ''",       "status Ready",   "redraw"};
}

inline void append(Lines& to, const Lines& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// The whole panel transcript of a successful session.
inline Lines successTranscript(bool a1018s, std::int32_t frames, const std::string& imeiText) {
    Lines t = startLines();
    append(t, {"field 1058 ''", "field 1002 ''", "field 1008 ''", "selectedPortDigit", "field 1003 '9600'",
               "status Power ON the phone ...",
               a1018s ? "field 1058 ' A1018s detected'" : "field 1058 ' T1x detected'",
               "status Entering boot mode ...", "status Waiting for handshake ...",
               "status Sending boot appliation ...", "progressStart 57"});
    t.insert(t.end(), 58, "progressStep");
    append(t, {"progressReset", "field 1004 'BOOT CXC132611'", "status Changing baud rate ...",
               "field 1003 '115200'", "status Sending service application ...", "progressStart 135"});
    t.insert(t.end(), 136, "progressStep");
    append(t, {"progressReset", "field 1004 'SAPP CXC1320633'", "status Reading IMEI ...",
               "field 1002 '" + imeiText + "'", "status Erasing flash ...", "status Blank checking ...",
               "status Updating software ...", "progressStart " + std::to_string(frames)});
    for (std::int32_t k = 1; k <= frames; ++k)
        append(t, {"field 1007 '" + std::to_string(k) + "'", "progressStep"});
    append(t, {"progressReset", "status Formating EEPROM ...", "status CRC checking ..."});
    append(t, idleLines());
    t.push_back("message Success (none) Software updated completed");
    return t;
}

// The simulated phone with fast defaults: no line-rate emulation unless a test asks for it.
inline PhoneSimOptions phoneOptions(PhoneKind model) {
    PhoneSimOptions o;
    o.model = model;
    o.emulateLineRate = false;
    o.powerOnDelay = 20ms;
    o.powerOnInterval = 300ms;
    o.eraseTime = 1000ms;  // wide of the 200 ms window, so a busy test machine cannot merge the two replies
    o.hangupGrace = 500ms;
    return o;
}

class SessionFixture : public ::testing::Test {
  protected:
    void TearDown() override {
        control.reset();  // before the executor and the sim it talks to
        ui.reset();
        sim.reset();
    }

    // Starts the phone expecting `image`; the updater's port resolves to its pseudo-terminal.
    void startPhone(PhoneSimOptions options) {
        std::string error;
        if (image.size != 0) {
            ASSERT_TRUE(setExpectedImage(options, image, error)) << error;
        }
        sim = std::make_unique<PhoneSim>(std::move(options));
        ASSERT_TRUE(sim->start(error)) << error;
    }

    void makeControl(bool withExecutor = false, ReadRule rule = kTestReadRule) {
        if (withExecutor) ui = std::make_unique<TestExecutor>();
        control = std::make_unique<SessionControl>(panel, withExecutor ? ui->executor() : UiExecutor{});
        std::string path = sim ? sim->slavePath() : std::string("/dev/null/no-such-port");
        control->link().setPortResolver([path](char) { return path; });
        control->link().setReadRule(rule);
    }

    // Session control runs on the panel's thread when there is one.
    void onPanelThread(const std::function<void()>& f) {
        if (ui)
            ui->runOnPanelThread(f);
        else
            f();
    }
    void start() {
        onPanelThread([&] { control->startSession(image); });
    }
    // Aborts and returns how long abortSession took.
    std::chrono::milliseconds abort() {
        const auto begin = std::chrono::steady_clock::now();
        onPanelThread([&] { control->abortSession(); });
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     begin);
    }
    int runToEnd() {
        start();
        return control->waitForEnd();
    }

    // For failure output: where the updater and the phone were.
    std::string diagnosis() const {
        std::string text = "updater status '" + lastStatusBefore(panel.size()) + "', last panel calls:";
        const Lines all = panel.calls();
        int shown = 0;
        for (std::size_t i = all.size(); i-- > 0 && shown < 16;) {
            if (all[i] == "progressStep") continue;
            text += " [" + all[i] + "]";
            ++shown;
        }
        if (sim) text += ", phone at " + std::string(stepName(sim->step())) + ": " + sim->verdict().text();
        return text;
    }

    // The panel lines from index `from` on.
    Lines linesFrom(std::size_t from) const {
        const Lines all = panel.calls();
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end());
    }
    // The last status shown before line `end`.
    std::string lastStatusBefore(std::size_t end) const {
        const Lines all = panel.calls();
        for (std::size_t i = std::min(end, all.size()); i-- > 0;)
            if (all[i].rfind("status ", 0) == 0) return all[i].substr(7);
        return {};
    }
    std::size_t indexOf(const std::string& line) const {
        const Lines all = panel.calls();
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i] == line) return i;
        return all.size();
    }

    RecordingPanel panel;
    FlashImage image = test_image::withFrames(40);
    std::unique_ptr<PhoneSim> sim;
    std::unique_ptr<TestExecutor> ui;
    std::unique_ptr<SessionControl> control;
};

}  // namespace session_test
