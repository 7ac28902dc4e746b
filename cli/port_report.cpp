#include "cli/port_report.h"

#include <algorithm>

#include "cli/json_text.h"
#include "image/module_name.h"

namespace {

void appendDetail(std::string& out, const char* label, const std::string& value) {
    if (!value.empty()) out += std::string("  ") + label + ": " + oneLine(value) + "\n";
}

// Text from the system is usually UTF-8; bytes that are not are shown as Latin-1 rather than breaking the
// document.
std::string jsonText(const std::string& text) {
    return jsonString(isValidUtf8(text) ? text : latin1ToUtf8(text));
}

std::string jsonOrNull(const std::string& text) {
    return text.empty() ? "null" : jsonText(text);
}

std::string portJson(const PortInfo& port) {
    std::string usb = "null";
    if (port.usb) {
        usb = "{\"vendor_id\": " + jsonOrNull(port.vendorId) +
              ", \"product_id\": " + jsonOrNull(port.productId) +
              ", \"manufacturer\": " + jsonOrNull(port.manufacturer) +
              ", \"product\": " + jsonOrNull(port.product) +
              ", \"serial_number\": " + jsonOrNull(port.serialNumber) + "}";
    }
    std::string holders;
    for (const PortHolder& holder : port.holders) {
        holders += (holders.empty() ? "" : ", ") + std::string("{\"pid\": ") + std::to_string(holder.pid) +
                   ", \"program\": " + jsonText(holder.program) + "}";
    }
    const std::string fix = portFix(port);
    return "{\"name\": " + jsonText(port.name) + ", \"path\": " + jsonText(port.path) +
           ", \"com\": " + jsonOrNull(port.comName) + ", \"by_id\": " + jsonOrNull(port.byId) +
           ", \"usb\": " + usb + ", \"driver\": " + jsonOrNull(port.driver) + ", \"state\": \"" +
           portStateName(port.state) + "\", \"holders\": [" + holders +
           "], \"reason\": " + jsonText(portStateText(port)) +
           ", \"fix\": " + (fix.empty() ? "null" : jsonText(oneLine(fix))) + "}";
}

}  // namespace

std::string portsText(const std::vector<PortInfo>& ports) {
    // A forgotten cable is the commonest reason for a missing port.
    const char* noAdapter = "no USB serial adapter found: plug in the phone's cable\n";
    if (ports.empty()) return std::string("no serial devices found\n") + noAdapter;
    std::string out;
    for (const PortInfo& port : ports) {
        out += portSummary(port) + "\n";
        appendDetail(out, "by-id", port.byId);
        appendDetail(out, "serial number", port.serialNumber);
        appendDetail(out, "driver", port.driver);
        // The fix keeps its line breaks, so a udev rule stands alone on its line, ready to copy.
        std::string fix = portFix(port);
        for (std::size_t at = fix.find('\n'); at != std::string::npos; at = fix.find('\n', at + 1)) {
            fix.insert(at + 1, "       ");
        }
        if (!fix.empty()) out += "  fix: " + fix + "\n";
    }
    const bool adapter = std::any_of(ports.begin(), ports.end(), [](const PortInfo& p) { return p.usb; });
    return adapter ? out : out + noAdapter;
}

std::string portsJson(const std::vector<PortInfo>& ports) {
    std::string out = "{\"ports\": [";
    for (std::size_t i = 0; i < ports.size(); ++i) out += (i > 0 ? ",\n  " : "\n  ") + portJson(ports[i]);
    return out + (ports.empty() ? "]}\n" : "\n]}\n");
}

AutoPort pickAutoPort(const std::vector<PortInfo>& ports) {
    std::vector<const PortInfo*> usb;
    for (const PortInfo& port : ports) {
        if (port.usb && port.state != PortState::Console) usb.push_back(&port);
    }
    if (usb.size() == 1) return {usb.front()->path, {}};
    AutoPort refusal;
    refusal.error = usb.empty() ? "--port auto found no USB serial device"
                                : "--port auto found " + std::to_string(usb.size()) +
                                      " USB serial devices; name one with --port";
    for (const PortInfo& port : ports) refusal.error += "\n  " + portSummary(port);
    return refusal;
}
