// What `ports` prints, and the one device `flash --port auto` takes, from the listed ports.
#pragma once

#include <string>
#include <vector>

#include "serial/port_info.h"

// One summary line per port, then its stable name, serial number, driver and fix on indented lines.
std::string portsText(const std::vector<PortInfo>& ports);
// {"ports": [...]} with one object per line; the shape is documented in the README and --help.
std::string portsJson(const std::vector<PortInfo>& ports);

struct AutoPort {
    std::string path;   // the device to use, when exactly one USB serial device is present
    std::string error;  // else why none was taken, and every port found (one summary line each)
};
AutoPort pickAutoPort(const std::vector<PortInfo>& ports);
