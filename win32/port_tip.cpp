#include "win32/port_tip.h"

namespace {

std::string names(const std::vector<const PortInfo*>& ports) {
    std::string text;
    for (const PortInfo* port : ports) text += (text.empty() ? "" : ", ") + port->name;
    return text;
}

}  // namespace

std::string portTip(int number, const std::vector<PortInfo>& ports) {
    const std::string name = "COM" + std::to_string(number);
    std::vector<const PortInfo*> elsewhere, adapters;
    for (const PortInfo& port : ports) {
        if (port.name == name) {
            const std::string what = port.usb ? portLabel(port) : oneLine(port.product);
            return name + ": " + (what.empty() ? "" : what + ", ") + portStateText(port);
        }
        // A port the four buttons cannot reach: a USB adapter given a number of its own.
        if (port.comName.empty()) (port.usb ? adapters : elsewhere).push_back(&port);
    }
    if (!adapters.empty()) {
        return name + ": absent; your adapter" + (adapters.size() == 1 ? " is " : "s are ") +
               names(adapters) + ": renumber " + (adapters.size() == 1 ? "it" : "one") + " " + name +
               " in Device Manager, or use phone-updater-cli";
    }
    if (!elsewhere.empty()) {
        return name + ": absent; the serial ports here are " + names(elsewhere) + ": renumber one " + name +
               " in Device Manager, or use phone-updater-cli";
    }
    return name + ": absent" + (ports.empty() ? "; no serial port is present: is the cable plugged in?" : "");
}
