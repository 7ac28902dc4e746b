// Where there is no sysfs or /proc to read (Windows): nothing is listed, and a port is known by its name
// alone; whether it is free, the open itself tells.
#include "serial/port_info.h"

std::vector<PortInfo> listPorts(const SystemRoots&) {
    return {};
}

bool canListPorts(const SystemRoots&) {
    return false;
}

std::string comDevicePath(char portDigit, const std::string&) {
    return defaultPortPath(portDigit);
}

PortInfo describePort(const std::string& devicePath, const SystemRoots& roots) {
    PortInfo port;
    port.path = devicePath;
    port.name = devicePath.substr(devicePath.find_last_of("\\/") + 1);
    for (char digit = '1'; digit <= '4'; ++digit) {
        if (devicePath == comDevicePath(digit, roots.dev)) port.comName = std::string("COM") + digit;
    }
    return port;
}
