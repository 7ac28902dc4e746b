// Which processes have a device open, from /proc/<pid>/fd. Serial-internal: the link uses it to refuse a
// device another program is using, and describePort to name that program.
#pragma once

#include <string>
#include <vector>

#include "serial/port_info.h"

struct HolderScan {
    std::vector<PortHolder> holders;   // every process with the device open, this one included
    std::vector<PortHolder> suspects;  // known grabbers whose open files could not be read
};

HolderScan findPortHolders(const std::string& devicePath, const std::string& procRoot = "/proc");

// True when a process other than this one has the device open.
bool heldByAnotherProcess(const std::string& devicePath, const std::string& procRoot = "/proc");
