// The machine's serial devices: what each one is, which COM name leads to it and whether it can be used right
// now (and if not, who or what stands in the way and how to clear it). Only reads the system's tables: no
// device is ever opened to find out.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_link.h"

// Where the system's tables live. Tests point these at trees they write.
struct SystemRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string proc = "/proc";
    std::string run = "/run";         // udev's device database, logind's sessions
    std::string etc = "/etc";         // udev rules an administrator added or masked
    std::string usrLib = "/usr/lib";  // udev rules packages install
};

struct PortHolder {
    int pid = 0;
    // The program's name: the kernel's (`ps`'s) command name, or the executable's when that name is only
    // its first 15 characters.
    std::string program;

    bool operator==(const PortHolder&) const = default;
};

// Console: the kernel's console or the terminal of a login prompt, never used for an update.
enum class PortState { Ready, PermissionDenied, Missing, Held, Unusable, Console };

// What keeps a user of this machine out of a USB serial port that the package's udev rule would open to
// them; Unknown for other ports, or when none of these is the cause.
enum class PermissionCause { Unknown, RuleMissing, RuleNotApplied, NotAtSeat };

struct PortInfo {
    std::string name;     // kernel name, e.g. "ttyUSB0"
    std::string path;     // device node, e.g. "/dev/ttyUSB0"
    std::string comName;  // "COM1".."COM4" when that name maps to this device, else empty
    std::string byId;     // stable link under /dev/serial/by-id, or empty
    bool usb = false;     // the fields below come from the USB device the port hangs off
    std::string vendorId;
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string driver;
    PortState state = PortState::Ready;
    std::vector<PortHolder> holders;   // processes that have the device open
    std::vector<PortHolder> suspects;  // known port grabbers whose open files could not be inspected
    std::string group;                 // a group whose members may use the device, or empty
    std::string owner;                 // the device's owner if the owner may use it
    PermissionCause permission = PermissionCause::Unknown;  // with PermissionDenied
    PortHolder login;  // with Console: the login prompt on it, or pid 0 for the kernel's console
};

// Every serial device that has hardware behind it, in name order (ttyS ports with no UART are left out). A
// console has no COM name: COM1..COM4 never lead to it.
std::vector<PortInfo> listPorts(const SystemRoots& roots = {});
// False where there is no /sys/class/tty to list (another system, or sysfs not mounted).
bool canListPorts(const SystemRoots& roots = {});
// One device by any path that leads to it: a COM name's device, a by-id link, a pseudo-terminal.
PortInfo describePort(const std::string& devicePath, const SystemRoots& roots = {});
// The device COM1..COM4 stand for under `devRoot`: ttyUSB<n-1>, else ttyACM<n-1>, else ttyS<n-1>.
std::string comDevicePath(char portDigit, const std::string& devRoot);

// Programs known to take serial adapters away from their users.
enum class PortGrabber { None, ModemManager, Brltty };
PortGrabber portGrabber(const std::string& program);

// Texts. Multi-line ones break where a window's tooltip should; one-line reports join them with spaces.
// "USB serial cable 067b:2303 (Prolific)" for a USB device, else empty.
std::string portLabel(const PortInfo& port);
// "ready", "permission denied", "missing", "held", "not usable", "console": the state's stable name.
const char* portStateName(PortState state);
// The name, with the holders for a held port: "held by vim (pid 4242)"; "system console" for a console.
std::string portStateText(const PortInfo& port);
// How to clear the way (permission, a known grabber) or why a console stays out of it, or empty.
std::string portFix(const PortInfo& port);
// The label (if any) and the state: "USB serial cable 067b:2303 (Prolific), ready".
std::string portDetails(const PortInfo& port);
// "/dev/ttyUSB0 (COM1): USB serial cable 067b:2303 (Prolific), ready".
std::string portSummary(const PortInfo& port);
// Why an open of `port` failed with `error`, as one line: "/dev/ttyUSB0: the port is held by ...", or
// "/dev/ttyUSB0: another phone-updater-cli (pid 9541) is updating on it".
std::string openFailureReason(const PortInfo& port, OpenError error);
// Line breaks to spaces, other control characters to '?': for one-line output of text read from the system.
std::string oneLine(const std::string& text);
