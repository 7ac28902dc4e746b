// What the CLI, `ports` and the window's tooltips say about a port. Strings read from the system (USB
// descriptors, process names, file names) can hold anything: control characters are shown as '?'.
#include <algorithm>
#include <string>

#include "serial/port_info.h"

namespace {

constexpr const char* kRulesFile = "/etc/udev/rules.d/99-phone-updater.rules";

std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return out;
}

bool isUsbId(const std::string& id) {
    if (id.size() != 4) return false;
    for (char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Kernel names are plain; anything else must not end up inside a rule the user pastes.
bool isPlainName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           c == '_' || c == '-' || c == '.';
        if (!plain) return false;
    }
    return true;
}

// This program's own names: a holder by one of them is another update under way.
bool isUpdater(const std::string& program) {
    return program == "phone-updater-cli" || program == "phone-updater";
}

std::string joinGroupFix(const std::string& group) {
    return "add your user to the " + group + " group\n(sudo adduser $USER " + group + "), then log in again";
}

std::string permissionFix(const PortInfo& port) {
    const std::string group = port.group.empty() ? std::string("dialout") : printable(port.group);
    switch (port.permission) {
        case PermissionCause::RuleMissing:
            return "the package's udev rule, which opens USB serial ports to the person at the desk, is not\n"
                   "installed (or is turned off): install the package, or " +
                   joinGroupFix(group);
        case PermissionCause::RuleNotApplied:
            return "the package's udev rule has not been applied to this port yet: plug the adapter in "
                   "again,\n"
                   "or run sudo udevadm trigger --subsystem-match=tty --action=change";
        case PermissionCause::NotAtSeat:
            return "only the person at the desk (the active local session) may use it, and this login is "
                   "not\n"
                   "there (a remote login?): " +
                   joinGroupFix(group);
        case PermissionCause::Unknown:
            break;
    }
    if (!port.group.empty()) return joinGroupFix(group);
    return port.owner.empty() ? std::string()
                              : "only its owner, " + printable(port.owner) +
                                    ", may use it; a udev rule can give it a group\n"
                                    "(GROUP=\"dialout\", MODE=\"0660\") whose members may use it too";
}

std::string consoleFix(const PortInfo& port) {
    const std::string why = port.login.pid == 0
                                ? "the kernel writes its messages to this port (it is in /proc/consoles)"
                                : "a login prompt, " + printable(port.login.program) + " (pid " +
                                      std::to_string(port.login.pid) + "), runs on this port";
    return why + ", so no update ever uses it:\nconnect the phone through a USB serial adapter";
}

std::string holderText(const PortHolder& holder) {
    const std::string pid = "pid " + std::to_string(holder.pid);
    return holder.program.empty() ? pid : printable(holder.program) + " (" + pid + ")";
}

std::string modemManagerFix(const PortInfo& port) {
    std::string match;
    if (port.usb && isUsbId(port.vendorId) && isUsbId(port.productId)) {
        match = "ATTRS{idVendor}==\"" + port.vendorId + "\", ATTRS{idProduct}==\"" + port.productId + "\"";
    } else if (isPlainName(port.name)) {
        match = "KERNEL==\"" + port.name + "\"";
    } else {
        return "ModemManager probes serial devices for modems. To keep it off this one, give it\n"
               "ENV{ID_MM_DEVICE_IGNORE}=\"1\" in a udev rule";
    }
    return "ModemManager probes serial devices for modems. To keep it off this one, put the line\n" + match +
           ", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\nin " + kRulesFile + ", run sudo udevadm control --reload\n" +
           (port.usb ? "and plug the cable in again" : "and sudo systemctl restart ModemManager");
}

std::string grabberFix(const PortInfo& port, const std::vector<PortHolder>& processes) {
    for (const PortHolder& process : processes) {
        switch (portGrabber(process.program)) {
            case PortGrabber::ModemManager:
                return modemManagerFix(port);
            case PortGrabber::Brltty:
                return "brltty takes some USB serial adapters for braille displays. If you use none,\n"
                       "remove it (sudo apt remove brltty) and plug the cable in again";
            case PortGrabber::None:
                break;
        }
    }
    return {};
}

}  // namespace

PortGrabber portGrabber(const std::string& program) {
    if (program == "ModemManager") return PortGrabber::ModemManager;
    if (program == "brltty") return PortGrabber::Brltty;
    return PortGrabber::None;
}

std::string oneLine(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\n') c = ' ';
    }
    return printable(out);
}

std::string portLabel(const PortInfo& port) {
    if (!port.usb) return {};
    const auto known = [](const std::string& id) { return id.empty() ? std::string("?") : printable(id); };
    std::string label = printable(port.product);
    if (!label.empty()) label += ' ';
    label += known(port.vendorId) + ":" + known(port.productId);
    if (!port.manufacturer.empty()) label += " (" + printable(port.manufacturer) + ")";
    return label;
}

const char* portStateName(PortState state) {
    switch (state) {
        case PortState::Ready:
            return "ready";
        case PortState::PermissionDenied:
            return "permission denied";
        case PortState::Missing:
            return "missing";
        case PortState::Held:
            return "held";
        case PortState::Console:
            return "console";
        case PortState::Unusable:
            break;
    }
    return "not usable";
}

std::string portStateText(const PortInfo& port) {
    if (port.state == PortState::Console) return "system console";
    if (port.state != PortState::Held) return portStateName(port.state);
    if (port.holders.empty()) {
        if (port.suspects.empty()) return "held by another program";
        return "held by another program (perhaps " + printable(port.suspects.front().program) + ", pid " +
               std::to_string(port.suspects.front().pid) + ")";
    }
    std::string text = "held by ";
    for (std::size_t i = 0; i < port.holders.size(); ++i) {
        text += (i > 0 ? ", " : "") + holderText(port.holders[i]);
    }
    return text;
}

std::string portFix(const PortInfo& port) {
    if (port.state == PortState::PermissionDenied) return permissionFix(port);
    if (port.state == PortState::Console) return consoleFix(port);
    if (port.state != PortState::Held) return {};
    return grabberFix(port, port.holders.empty() ? port.suspects : port.holders);
}

std::string portDetails(const PortInfo& port) {
    const std::string label = portLabel(port);
    return label.empty() ? portStateText(port) : label + ", " + portStateText(port);
}

std::string portSummary(const PortInfo& port) {
    std::string summary = printable(port.path);
    if (!port.comName.empty() && port.comName != port.path) summary += " (" + port.comName + ")";
    return summary + ": " + portDetails(port);
}

std::string openFailureReason(const PortInfo& port, OpenError error) {
    PortInfo seen = port;
    std::string reason;
    const auto updater = std::find_if(port.holders.begin(), port.holders.end(),
                                      [](const PortHolder& holder) { return isUpdater(holder.program); });
    if (error == OpenError::Busy && updater != port.holders.end()) {
        return oneLine(port.path + ": another " + holderText(*updater) + " is updating on it");
    } else if (error == OpenError::Busy) {
        seen.state = PortState::Held;
        reason = "the port is " + portStateText(seen);
    } else if (error == OpenError::Console) {
        seen.state = PortState::Console;
        reason = portStateText(seen);
    } else if (error == OpenError::Permission) {
        seen.state = PortState::PermissionDenied;
        reason = portStateText(seen);
    } else {
        return oneLine(port.path) + ": " + openErrorText(error);
    }
    const std::string fix = portFix(seen);
    return oneLine(port.path + ": " + reason + (fix.empty() ? "" : ": " + fix));
}
