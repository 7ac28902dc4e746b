// The serial devices as Linux describes them: /sys/class/tty/NAME/device, walked up to the USB device it
// hangs off, /dev/serial/by-id for the stable names, stat/access for permissions and /proc for holders.
// Whatever cannot be read is left empty: a device can vanish halfway through, and attributes can be
// missing, half-written or not files at all.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "serial/port_checks.h"
#include "serial/port_holders.h"
#include "serial/port_info.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kAttributeLimit = 4096;  // a sysfs attribute is one page at most
constexpr int kWalkLimit = 64;                 // deeper than any real device tree

// A sysfs attribute's text without its line end; empty unless it is a regular file (a FIFO in its place
// would block a read, a device node would be opened).
std::string readAttribute(const fs::path& file) {
    std::string text = readSystemFile(file, kAttributeLimit);
    text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool isWithin(const fs::path& path, const fs::path& root) {
    const auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end();
}

// The driver of the device or, when that is only the serial core's generic port driver, of the nearest
// parent that has a real one.
std::string driverOf(const fs::path& device, const fs::path& sysRoot) {
    fs::path dir = device;
    for (int depth = 0; depth < kWalkLimit && isWithin(dir, sysRoot) && dir != sysRoot; ++depth) {
        std::error_code error;
        if (fs::exists(dir / "idVendor", error)) break;  // the USB device's own driver says nothing
        const fs::path driver = fs::read_symlink(dir / "driver", error);
        if (!error && driver.string().find("/serial-base/") == std::string::npos) {
            return driver.filename().string();
        }
        dir = dir.parent_path();
    }
    return {};
}

// The nearest USB device above the port: a hub further up has ids of its own that are not the adapter's.
void readUsbDevice(const fs::path& device, const fs::path& sysRoot, PortInfo& port) {
    fs::path dir = device;
    for (int depth = 0; depth < kWalkLimit && isWithin(dir, sysRoot) && dir != sysRoot; ++depth) {
        std::error_code error;
        if (fs::exists(dir / "idVendor", error)) {
            port.usb = true;
            port.vendorId = readAttribute(dir / "idVendor");
            port.productId = readAttribute(dir / "idProduct");
            port.manufacturer = readAttribute(dir / "manufacturer");
            port.product = readAttribute(dir / "product");
            port.serialNumber = readAttribute(dir / "serial");
            return;
        }
        dir = dir.parent_path();
    }
}

std::string findById(const std::string& name, const std::string& devRoot) {
    const fs::path byIdDir = fs::path(devRoot) / "serial" / "by-id";
    const fs::path node = (fs::path(devRoot) / name).lexically_normal();
    std::error_code error;
    for (fs::directory_iterator it(byIdDir, error), end; !error && it != end; it.increment(error)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (!linkError && (byIdDir / target).lexically_normal() == node) return it->path().string();
    }
    return {};
}

std::string nameOf(uid_t uid) {
    if (const passwd* user = ::getpwuid(uid)) return user->pw_name;
    return std::to_string(uid);
}

std::string groupNameOf(gid_t gid) {
    if (const group* entry = ::getgrgid(gid)) return entry->gr_name;
    return std::to_string(gid);
}

// Ready, missing, a console, forbidden or not a device, then who else has it open. Never opens the device:
// opening a serial port raises its modem lines, which a phone may take as a signal.
void readState(PortInfo& port, const SystemRoots& roots) {
    struct stat info {};
    if (::stat(port.path.c_str(), &info) != 0) {
        port.state = errno == EACCES ? PortState::PermissionDenied : PortState::Missing;
        return;
    }
    const std::string number = deviceNumber(port.path, port.name, roots);
    if (isConsole(port.name, number, roots, port.login)) {
        port.state = PortState::Console;
        return;
    }
    if ((info.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR)) port.owner = nameOf(info.st_uid);
    if (info.st_gid != 0 && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        port.group = groupNameOf(info.st_gid);
    }
    if (S_ISDIR(info.st_mode)) {
        port.state = PortState::Unusable;
        return;
    }
    if (::access(port.path.c_str(), R_OK | W_OK) != 0) {
        port.state = errno == EACCES || errno == EPERM ? PortState::PermissionDenied : PortState::Unusable;
        if (port.state == PortState::PermissionDenied)
            port.permission = permissionCause(port.name, number, roots, ::getuid());
        return;
    }
    HolderScan scan = findPortHolders(port.path, roots.proc);
    port.holders = std::move(scan.holders);
    port.suspects = std::move(scan.suspects);
    port.state = port.holders.empty() ? PortState::Ready : PortState::Held;
}

std::string comNameOf(const std::string& path, const std::string& devRoot) {
    for (char digit = '1'; digit <= '4'; ++digit) {
        if (comDevicePath(digit, devRoot) == path) return std::string("COM") + digit;
    }
    return {};
}

PortInfo describeTty(const std::string& name, const std::string& path, const SystemRoots& roots) {
    PortInfo port;
    port.name = name;
    port.path = path;
    std::error_code error;
    const fs::path sysRoot = fs::canonical(roots.sysfs, error);
    const fs::path device = fs::canonical(fs::path(roots.sysfs) / "class" / "tty" / name / "device", error);
    if (!error && isWithin(device, sysRoot)) {
        port.driver = driverOf(device, sysRoot);
        readUsbDevice(device, sysRoot, port);
    }
    port.byId = findById(name, roots.dev);
    readState(port, roots);
    if (port.state != PortState::Console) port.comName = comNameOf(path, roots.dev);
    return port;
}

// "ttyS2" before "ttyS10": the family, then the number.
bool nameOrder(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
        return std::make_pair(name.substr(0, digits), name.substr(digits));
    };
    const auto [familyA, numberA] = split(a);
    const auto [familyB, numberB] = split(b);
    if (familyA != familyB) return familyA < familyB;
    if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
    return numberA < numberB;
}

// A tty with a device behind it is a serial port; virtual consoles and the like have none. The legacy ttyS
// slots the kernel reserves whether or not a UART exists report their UART type as 0 (unknown).
bool hasHardware(const fs::path& ttyDir) {
    std::error_code error;
    if (!fs::is_symlink(ttyDir / "device", error)) return false;
    return readAttribute(ttyDir / "type") != "0";
}

}  // namespace

std::string comDevicePath(char portDigit, const std::string& devRoot) {
    if (portDigit < '1' || portDigit > '9') return {};
    const std::string index(1, static_cast<char>(portDigit - 1));
    for (const char* family : {"/ttyUSB", "/ttyACM"}) {
        struct stat info {};
        if (::stat((devRoot + family + index).c_str(), &info) == 0) return devRoot + family + index;
    }
    return devRoot + "/ttyS" + index;
}

bool canListPorts(const SystemRoots& roots) {
    std::error_code error;
    return fs::is_directory(fs::path(roots.sysfs) / "class" / "tty", error);
}

std::vector<PortInfo> listPorts(const SystemRoots& roots) {
    const fs::path classDir = fs::path(roots.sysfs) / "class" / "tty";
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(classDir, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), nameOrder);
    std::vector<PortInfo> ports;
    for (const std::string& name : names) {
        if (hasHardware(classDir / name)) ports.push_back(describeTty(name, roots.dev + "/" + name, roots));
    }
    return ports;
}

PortInfo describePort(const std::string& devicePath, const SystemRoots& roots) {
    // A by-id link or a symlink a tool made leads to the kernel's name for the device.
    std::error_code error;
    fs::path resolved = fs::canonical(devicePath, error);
    if (error) resolved = devicePath;
    return describeTty(resolved.filename().string(), devicePath, roots);
}
