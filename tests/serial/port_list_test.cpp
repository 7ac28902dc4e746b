// The port listing against trees written the way the kernel lays them out, holders found through a real
// process, and the exact texts a user reads about a port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "fake_system.h"
#include "serial/port_checks.h"
#include "serial/port_holders.h"
#include "serial/port_info.h"
#include "tests/support/named_child.h"

namespace {

const std::string kUsb = "pci0000:00/0000:00:14.0/usb1";

// One line per port with every field (USB ids and strings through the label), paths relative to the fake
// root.
std::string fields(const PortInfo& p, const std::string& root) {
    const auto rel = [&](const std::string& path) {
        return path.substr(path.rfind(root, 0) == 0 ? root.size() : 0);
    };
    return p.name + "|" + rel(p.path) + "|" + p.comName + "|" + rel(p.byId) + "|" + portLabel(p) + "|" +
           p.serialNumber + "|" + p.driver + "|" + portStateText(p);
}

TEST(PortList, EveryKindOfDeviceGivesARowWithWhatCouldBeRead) {
    FakeSystem sys;
    // An adapter on a root port, with a stable name.
    sys.usb(kUsb + "/1-1", {"067b", "2303", "Prolific", "USB serial cable", "A1B2"});
    sys.tty("ttyUSB0", kUsb + "/1-1/1-1:1.0/ttyUSB0", "usb-serial/pl2303");
    sys.link("dev/serial/by-id/usb-Prolific_USB_serial_cable_A1B2-if00-port0", "../../ttyUSB0");
    // An adapter two levels below a hub: its own ids, not the hubs'.
    sys.usb(kUsb + "/1-2", {"05e3", "0608", "GenesysLogic", "USB2.0 Hub"});
    sys.usb(kUsb + "/1-2/1-2.4", {"05e3", "0610", "GenesysLogic", "USB2.1 Hub"});
    sys.usb(kUsb + "/1-2/1-2.4/1-2.4.1", {"1a86", "7523", "", "USB Serial"});
    sys.tty("ttyUSB1", kUsb + "/1-2/1-2.4/1-2.4.1/1-2.4.1:1.0/ttyUSB1", "usb-serial/ch341-uart");
    // A CDC-ACM device: the tty sits right under the interface.
    sys.usb(kUsb + "/1-3", {"1234", "5678", "Maker \r", "Phone modem"});
    sys.tty("ttyACM0", kUsb + "/1-3/1-3:1.0", "usb/cdc_acm");
    // On-board UARTs: the serial core's generic drivers are skipped; a slot with no UART is left out.
    const std::string uart = "platform/serial8250";
    sys.link("sys/devices/" + uart + "/driver", sys.root() + "/sys/bus/platform/drivers/serial8250");
    sys.tty("ttyS0", uart + "/serial8250:0/serial8250:0.0", "serial-base/drivers/port");
    sys.tty("ttyS1", uart + "/serial8250:0/serial8250:0.1", "serial-base/drivers/port");
    sys.file("sys/devices/" + uart + "/serial8250:0/serial8250:0.0/tty/ttyS0/type", "4\n");
    sys.file("sys/devices/" + uart + "/serial8250:0/serial8250:0.1/tty/ttyS1/type", "0\n");
    sys.file("sys/devices/virtual/tty/tty1/dev", "4:1\n");  // a console: no device behind it
    sys.link("sys/class/tty/tty1", sys.root() + "/sys/devices/virtual/tty/tty1");
    // Half-written ids, a FIFO and a directory where strings belong, and no device node.
    sys.usb(kUsb + "/1-4", {"06", "", "", ""});
    sys.file("sys/devices/" + kUsb + "/1-4/idProduct", "");
    ::mkfifo((sys.root() + "/sys/devices/" + kUsb + "/1-4/product").c_str(), 0644);
    std::filesystem::create_directories(sys.root() + "/sys/devices/" + kUsb + "/1-4/manufacturer");
    sys.tty("ttyUSB2", kUsb + "/1-4/1-4:1.0/ttyUSB2", "", false);
    // Gone while being listed: its device and node have vanished, its entry not yet.
    sys.link("sys/class/tty/ttyUSB10", sys.root() + "/sys/devices/gone/tty/ttyUSB10");
    sys.link("sys/devices/gone/tty/ttyUSB10/device", sys.root() + "/sys/devices/" + kUsb + "/1-5");
    // A name no kernel would choose.
    sys.tty("ttyX\"q 9\x1b", "platform/odd");

    std::vector<std::string> rows;
    for (const PortInfo& port : listPorts(sys.roots())) rows.push_back(fields(port, sys.root()));
    EXPECT_EQ(rows,
              (std::vector<std::string>{
                  "ttyACM0|/dev/ttyACM0|||Phone modem 1234:5678 (Maker)||cdc_acm|ready",
                  "ttyS0|/dev/ttyS0|||||serial8250|ready",
                  "ttyUSB0|/dev/ttyUSB0|COM1|/dev/serial/by-id/usb-Prolific_USB_serial_cable_A1B2-if00-port0|"
                  "USB serial cable 067b:2303 (Prolific)|A1B2|pl2303|ready",
                  "ttyUSB1|/dev/ttyUSB1|COM2||USB Serial 1a86:7523||ch341-uart|ready",
                  "ttyUSB2|/dev/ttyUSB2|||06:?|||missing",
                  "ttyUSB10|/dev/ttyUSB10||||||missing",
                  "ttyX\"q 9\x1b|/dev/ttyX\"q 9\x1b||||||ready",
              }));
    EXPECT_TRUE(canListPorts(sys.roots()));
    EXPECT_FALSE(canListPorts({sys.root() + "/none", sys.roots().dev, sys.roots().proc}));
}

TEST(PortHolders, ADeviceAnotherProcessHasOpenIsNamedAndLeftAlone) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string path = ::ptsname(master);
    SerialLink link;
    link.setPortResolver([&](char) { return path; });
    {
        NamedChild holder(path, "ModemManager");
        PortInfo port;
        for (int wait = 0; wait < 500 && (port = describePort(path)).holders.empty(); ++wait) ::usleep(10000);
        EXPECT_EQ(
            openFailureReason(port, OpenError::Busy),
            path + ": the port is held by ModemManager (pid " + std::to_string(holder.pid) +
                "): ModemManager probes serial devices for modems. To keep it off this one, put the line "
                "KERNEL==\"" +
                path.substr(path.rfind('/') + 1) +
                "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" in /etc/udev/rules.d/99-phone-updater.rules, run sudo "
                "udevadm control --reload and sudo systemctl restart ModemManager");
        EXPECT_FALSE(link.open('1', kSlowSpeed));  // not even opened: it is not locked, only open
        EXPECT_EQ(link.lastOpenError(), OpenError::Busy);
    }
    EXPECT_TRUE(link.open('1', kSlowSpeed));
    ::close(master);
}

// A process in another mount namespace (a container, another user's sandbox) with a pseudo-terminal
// instance of its own: its "/dev/pts/N" reads like ours but is another device, and holds nothing of ours.
TEST(PortHolders, TheSameNameInAnotherMountNamespaceIsAnotherDevice) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        bool own = ::unshare(CLONE_NEWNS) == 0 &&
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0666") == 0;
        for (int i = 0; own && i < 64; ++i) {  // slaves 0..63 of its instance, held open
            const int master = ::open("/dev/pts/ptmx", O_RDWR | O_NOCTTY);
            own = master >= 0 && ::unlockpt(master) == 0 && ::open(::ptsname(master), O_RDWR | O_NOCTTY) >= 0;
        }
        (void)!::write(ready[1], own ? "y" : "n", 1);
        ::pause();
        ::_exit(0);
    }
    char own = 0;
    (void)!::read(ready[0], &own, 1);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string path = ::ptsname(master);
    const bool shadowed = own == 'y' && std::stoi(path.substr(9)) < 64;
    if (shadowed) {
        EXPECT_FALSE(heldByAnotherProcess(path)) << path;
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(master);
    if (!shadowed) GTEST_SKIP() << "no mount namespace of its own here, or " << path << " past its 64 slaves";
}

// A holder is named by its program when the kernel's name is cut short; processes whose descriptors cannot
// be read are only suspects, named when no holder can be seen.
TEST(PortHolders, AreNamedByTheirProgramAndUninspectableProcessesAreSuspects) {
    FakeSystem sys;
    sys.file("dev/tty USB0", "");
    const std::string device = sys.roots().dev + "/tty USB0";
    // comm, the executable, the command line: what /proc has of each holder ("" leaves one out).
    const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
        {"phone-updater-c", "/usr/bin/phone-updater-cli", "phone-updater-cli\0flash", "phone-updater-cli"},
        {"phone-updater-c", "/b/phone-updater-cli (deleted)", "", "phone-updater-cli"},
        {"phone-updater-c", "", "/usr/bin/phone-updater-cli\0flash", "phone-updater-cli"},  // another user's
        {"serial-monitor-", "/usr/bin/python3.11", "/usr/bin/python3\0serial-monitor-x", "serial-monitor-"},
        {"miniterm.py", "/usr/bin/python3.11", "python3\0miniterm.py", "miniterm.py"},  // a script
        {"ModemManager", "/usr/sbin/ModemManager", "", "ModemManager"},
        {"", "/usr/bin/screen", "", "screen"},
    };
    std::vector<PortHolder> expected;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [comm, exe, cmdline, program] = rows[i];
        const std::string pid = std::to_string(100 + i), dir = "proc/" + pid;
        if (!comm.empty()) sys.file(dir + "/comm", comm + "\n");
        if (!exe.empty()) sys.link(dir + "/exe", exe);
        if (!cmdline.empty()) sys.file(dir + "/cmdline", cmdline + std::string(1, '\0'));
        sys.link(dir + "/fd/3", device);
        expected.push_back({static_cast<int>(100 + i), program});
    }
    for (const char* pid : {"912", "80", "900", "self"}) sys.file("proc/" + std::string(pid) + "/fd", "");
    sys.file("proc/80/comm", "ModemManager\n");  // its fd "directory" cannot be read
    sys.file("proc/912/comm", "brltty\n");
    sys.file("proc/900/comm", "bash\n");
    sys.file("proc/self/comm", "ModemManager\n");
    const HolderScan scan = findPortHolders(device, sys.roots().proc);
    EXPECT_EQ(scan.holders, expected);
    EXPECT_EQ(scan.suspects, (std::vector<PortHolder>{{80, "ModemManager"}, {912, "brltty"}}));
    // Another update on the port says so; any other holder keeps its plain reason.
    PortInfo port = describePort(device, sys.roots());
    EXPECT_EQ(openFailureReason(port, OpenError::Busy),
              device + ": another phone-updater-cli (pid 100) is updating on it");
    port.holders.erase(port.holders.begin(), port.holders.begin() + 3);
    const std::string held =
        ": the port is held by serial-monitor- (pid 103), miniterm.py (pid 104), "
        "ModemManager (pid 105), screen (pid 106): ModemManager probes";
    EXPECT_EQ(openFailureReason(port, OpenError::Busy).substr(device.size(), held.size()), held);
    // Held, with no holder this process may see: the likely one is named, with a fix that fits any name.
    port.holders.clear();
    EXPECT_EQ(
        openFailureReason(port, OpenError::Busy),
        device +
            ": the port is held by another program (perhaps ModemManager, pid 80): ModemManager probes "
            "serial devices for modems. To keep it off this one, give it ENV{ID_MM_DEVICE_IGNORE}=\"1\" in a "
            "udev rule");
}

TEST(PortPermission, SaysWhichOfRuleSeatOrGroupKeepsTheUserOut) {
    FakeSystem sys;
    const std::string rule = "/udev/rules.d/70-phone-flash-updater.rules";
    const auto session = [&](const std::string& id, const std::string& lines) {
        sys.file("run/systemd/sessions/" + id, "# This is private data. Do not parse.\n" + lines);
    };
    using enum PermissionCause;
    // Each step changes the tree, then says what keeps uid 1000 out of ttyUSB0 (188:0).
    const std::pair<std::function<void()>, PermissionCause> steps[] = {
        {[] {}, RuleMissing},
        {[&] { sys.file("usr/lib" + rule, "TAG+=\"uaccess\"\n"); }, RuleNotApplied},
        {[&] { sys.link("etc" + rule, "/dev/null"); }, RuleMissing},  // masked
        {[&] { std::filesystem::remove(sys.root() + "/etc" + rule); }, RuleNotApplied},
        {[&] { sys.file("run/udev/data/c188:0", "E:ID_VENDOR=067b\nG:systemd\n"); }, RuleNotApplied},
        {[&] { sys.file("run/udev/data/c188:0", "G:systemd\nG:uaccess\nQ:uaccess\n"); },
         Unknown},                                                                         // no logind
        {[&] { session("4", "UID=1000\nACTIVE=1\nREMOTE=1\nSEAT=\n"); }, NotAtSeat},       // over the network
        {[&] { session("2", "UID=1001\nACTIVE=1\nREMOTE=0\nSEAT=seat0\n"); }, NotAtSeat},  // someone else
        {[&] { session("3", "UID=1000\nACTIVE=0\nREMOTE=0\nSEAT=seat0\n"); }, NotAtSeat},  // switched away
        {[&] { session("3", "UID=1000\nACTIVE=1\nREMOTE=0\nSEAT=seat0\n"); }, Unknown},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        EXPECT_EQ(permissionCause("ttyUSB0", "188:0", sys.roots(), 1000), steps[i].second) << i;
    }
    // The rule covers USB serial and ACM ports only; the others need the group whatever the rule.
    EXPECT_EQ(permissionCause("ttyACM0", "166:0", sys.roots(), 1000), RuleNotApplied);
    EXPECT_EQ(permissionCause("ttyS0", "4:64", sys.roots(), 1000), Unknown);
    EXPECT_EQ(permissionCause("ttyUSBx", "188:0", sys.roots(), 1000), Unknown);

    PortInfo port;
    port.path = "/dev/ttyUSB0";
    port.state = PortState::PermissionDenied;
    const std::string join =
        "add your user to the dialout group (sudo adduser $USER dialout), then log in again";
    const std::pair<PermissionCause, std::string> fixes[] = {
        {RuleMissing,
         "the package's udev rule, which opens USB serial ports to the person at the desk, is not "
         "installed (or is turned off): install the package, or " +
             join},
        {RuleNotApplied,
         "the package's udev rule has not been applied to this port yet: plug the adapter in "
         "again, or run sudo udevadm trigger --subsystem-match=tty --action=change"},
        {NotAtSeat,
         "only the person at the desk (the active local session) may use it, and this login is not "
         "there (a remote login?): " +
             join},
        {Unknown, join}};
    for (const auto& [cause, fix] : fixes) {
        port.permission = cause;
        port.group = cause == RuleMissing ? "" : "dialout";  // the group the fix names, dialout without one
        EXPECT_EQ(openFailureReason(port, OpenError::Permission), "/dev/ttyUSB0: permission denied: " + fix);
    }
    port.group.clear();
    port.owner = "root";
    EXPECT_EQ(oneLine(portFix(port)),
              "only its owner, root, may use it; a udev rule can give it a group "
              "(GROUP=\"dialout\", MODE=\"0660\") whose members may use it too");
}

}  // namespace
