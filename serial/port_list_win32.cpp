// Windows' serial ports: every COM name the registry lists under HARDWARE\DEVICEMAP\SERIALCOMM (the ports
// whose drivers have them now, so present), described where SetupAPI knows the device behind it: its name,
// maker and driver, and for a USB device its ids and serial number. Nothing is opened to find this out, so
// whether another program holds a port only an open tells ("Port is busy").
#include <windows.h>
// clang-format off: the device class GUIDs are defined, not only declared, after initguid.h
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <map>

#include "serial/port_info.h"
#include "serial/wide_text.h"

namespace {

// "COM7" for "COM7", "com7" or "\\.\COM7"; empty for anything that is no COM name of 1..256.
std::string comName(std::string path) {
    if (path.rfind("\\\\.\\", 0) == 0) path.erase(0, 4);
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (path.size() < 4 || path.size() > 6 || path.compare(0, 3, "COM") != 0 || path[3] == '0') return {};
    if (!std::all_of(path.begin() + 3, path.end(), [](char c) { return c >= '0' && c <= '9'; })) return {};
    return std::stoi(path.substr(3)) <= 256 ? path : std::string();
}

int comNumber(const std::string& name) {
    return std::stoi(name.substr(3));
}

std::string hexId(const std::string& text, const char* tag) {
    const std::size_t at = text.find(tag);
    if (at == std::string::npos || at + 8 > text.size()) return {};
    std::string id = text.substr(at + 4, 4);
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })
               ? id
               : std::string();
}

// The USB ids and serial number in a device instance id: "USB\VID_0403&PID_6001\A1B2C3", or a driver's own
// bus such as "FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000". Windows makes up an id with '&' in it for a device
// that has no serial number: that is none.
void readInstanceId(const std::string& instance, PortInfo& port) {
    std::string upper = instance;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    port.vendorId = hexId(upper, "VID_");
    port.productId = hexId(upper, "PID_");
    port.usb = !port.vendorId.empty() && !port.productId.empty();
    if (!port.usb) return;
    const std::size_t first = instance.find('\\');
    const std::size_t last = instance.rfind('\\');
    std::string serial;
    if (upper.rfind("USB\\", 0) == 0 && last != first) {
        serial = instance.substr(last + 1);
    } else if (const std::size_t plus = instance.rfind('+', last);
               plus != std::string::npos && plus > first) {
        serial = instance.substr(plus + 1, last == first ? std::string::npos : last - plus - 1);
    }
    if (serial.find('&') == std::string::npos) port.serialNumber = serial;
}

std::string deviceText(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = L"";
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof text[0], nullptr))
        return {};
    return utf8(text);
}

std::string portNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return {};
    wchar_t name[64] = L"";
    DWORD size = sizeof name - sizeof name[0];
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                       &size) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(key);
    return read ? comName(utf8(name)) : std::string();
}

// What SetupAPI says of the devices of the ports class, by COM name.
std::map<std::string, PortInfo> describedDevices() {
    std::map<std::string, PortInfo> described;
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return described;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        const std::string name = portNameOf(devices, device);
        if (name.empty()) continue;
        PortInfo port;
        wchar_t instance[512] = L"";
        if (SetupDiGetDeviceInstanceIdW(devices, &device, instance, 511, nullptr)) {
            port.byId = utf8(instance);
            readInstanceId(port.byId, port);
        }
        // "USB Serial Port (COM7)": the name Device Manager shows, without the COM name it ends with.
        port.product = deviceText(devices, device, SPDRP_FRIENDLYNAME);
        const std::string suffix = " (" + name + ")";
        if (port.product.size() > suffix.size() &&
            port.product.compare(port.product.size() - suffix.size(), suffix.size(), suffix) == 0)
            port.product.resize(port.product.size() - suffix.size());
        if (port.product.empty()) port.product = deviceText(devices, device, SPDRP_DEVICEDESC);
        port.manufacturer = deviceText(devices, device, SPDRP_MFG);
        port.driver = deviceText(devices, device, SPDRP_SERVICE);
        described[name] = port;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return described;
}

std::vector<std::string> presentComNames() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return names;  // no serial port has ever been there since the system started
    for (DWORD i = 0;; ++i) {
        wchar_t value[256], data[64];
        DWORD valueSize = 256, dataSize = sizeof data - sizeof data[0], type = 0;
        const LONG result = RegEnumValueW(key, i, value, &valueSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize / sizeof data[0]] = L'\0';
        const std::string name = comName(utf8(data));
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

}  // namespace

std::vector<PortInfo> listPorts(const SystemRoots&) {
    std::vector<std::string> names = presentComNames();
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return comNumber(a) < comNumber(b); });
    const std::map<std::string, PortInfo> described = describedDevices();
    std::vector<PortInfo> ports;
    for (const std::string& name : names) {
        const auto found = described.find(name);
        PortInfo port = found == described.end() ? PortInfo{} : found->second;
        port.name = port.path = name;
        // The window's COM 1..COM 4 open these names: the one of them this port is.
        if (comNumber(name) <= 4) port.comName = name;
        ports.push_back(port);
    }
    return ports;
}

bool canListPorts(const SystemRoots&) {
    return true;
}

std::string comDevicePath(char portDigit, const std::string&) {
    return defaultPortPath(portDigit);
}

PortInfo describePort(const std::string& devicePath, const SystemRoots& roots) {
    const std::string name = comName(devicePath);
    for (PortInfo& port : listPorts(roots)) {
        if (port.name != name) continue;
        port.path = devicePath;
        return port;
    }
    PortInfo port;
    port.path = devicePath;
    port.name = name.empty() ? devicePath.substr(devicePath.find_last_of("\\/") + 1) : name;
    if (!name.empty() && comNumber(name) <= 4) port.comName = name;
    return port;
}
