// Whether a device is the system's console, and what keeps this user out of a USB serial port.
// Serial-internal: the listing and the link use them; both only read the system's tables and never open the
// device.
#pragma once

#include <cstddef>
#include <string>

#include "serial/port_info.h"

// A small system file's bytes (regular files only, so that a FIFO or a device in its place is never read or
// opened); at most `limit` bytes.
std::string readSystemFile(const std::string& path, std::size_t limit = 4096);

// The device's number as the kernel writes it ("188:0"): a device node's own, else sysfs's `dev` attribute of
// the tty `name`. Empty when neither is known.
std::string deviceNumber(const std::string& path, const std::string& name, const SystemRoots& roots);

// The kernel's console (named, or numbered, in /proc/consoles) or the controlling terminal of a login prompt.
// `login` receives the prompt's process; pid 0 for the kernel's console.
bool isConsole(const std::string& name, const std::string& number, const SystemRoots& roots,
               PortHolder& login);
// The same for any path that leads to a device.
bool isConsolePath(const std::string& devicePath, const SystemRoots& roots = {});

// For a ttyUSB or ttyACM port that `uid` may not use: the package's udev rule is missing (or masked), not yet
// applied to the device (no uaccess tag in udev's database), or `uid` has no active session at a local seat.
PermissionCause permissionCause(const std::string& name, const std::string& number, const SystemRoots& roots,
                                unsigned uid);
