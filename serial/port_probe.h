// Whether a port's device can be used right now, for the window's port tooltips. Opens nothing.
#pragma once

#include <string>

enum class PortAccess { Ready, Missing, PermissionDenied, Unusable };

PortAccess probePort(const std::string& devicePath);
// "ready", "missing", "permission denied: add your user to the dialout group", "not usable".
const char* portAccessText(PortAccess access);
