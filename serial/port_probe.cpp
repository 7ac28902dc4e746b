#include "serial/port_probe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

PortAccess probePort(const std::string& devicePath) {
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
        if (errno == EACCES) return PortAccess::PermissionDenied;  // a directory on the way is closed
        return PortAccess::Missing;
    }
    if (S_ISDIR(info.st_mode)) return PortAccess::Unusable;
    if (::access(devicePath.c_str(), R_OK | W_OK) != 0) {
        return errno == EACCES || errno == EPERM ? PortAccess::PermissionDenied : PortAccess::Unusable;
    }
    return PortAccess::Ready;
}

const char* portAccessText(PortAccess access) {
    switch (access) {
        case PortAccess::Ready:
            return "ready";
        case PortAccess::Missing:
            return "missing";
        case PortAccess::PermissionDenied:
            return "permission denied: add your user to the dialout group";
        case PortAccess::Unusable:
            return "not usable";
    }
    return "not usable";
}
