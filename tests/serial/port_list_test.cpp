// The port listing against trees written the way the kernel lays them out, holders found through a real
// process, and the exact texts a user reads about a port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fake_system.h"
#include "serial/port_holders.h"
#include "serial/port_info.h"

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

// A child under another program's name that holds the pseudo-terminal open until killed.
struct Holder {
    explicit Holder(const std::string& path) : pid(::fork()) {
        if (pid != 0) return;
        ::prctl(PR_SET_NAME, "ModemManager");
        if (::open(path.c_str(), O_RDWR | O_NOCTTY) >= 0) ::pause();
        ::_exit(1);
    }
    ~Holder() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
    const pid_t pid;
};

TEST(PortHolders, ADeviceAnotherProcessHasOpenIsNamedAndLeftAlone) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string path = ::ptsname(master);
    SerialLink link;
    link.setPortResolver([&](char) { return path; });
    {
        Holder holder(path);
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
    if (shadowed) EXPECT_FALSE(heldByAnotherProcess(path)) << path;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(master);
    if (!shadowed) GTEST_SKIP() << "no mount namespace of its own here, or " << path << " past its 64 slaves";
}

TEST(PortHolders, ProcessesThatCannotBeInspectedAreOnlySuspects) {
    FakeSystem sys;
    sys.file("dev/tty USB0", "");
    const std::string device = sys.roots().dev + "/tty USB0";
    for (const char* pid : {"912", "80", "900", "self"}) sys.file("proc/" + std::string(pid) + "/fd", "");
    sys.file("proc/80/comm", "ModemManager\n");  // its fd "directory" cannot be read
    sys.file("proc/912/comm", "brltty\n");
    sys.file("proc/900/comm", "bash\n");
    sys.file("proc/self/comm", "ModemManager\n");
    sys.file("proc/77/comm", "brltty\n");
    sys.link("proc/77/fd/5", device);
    const HolderScan scan = findPortHolders(device, sys.roots().proc);
    EXPECT_EQ(scan.holders, (std::vector<PortHolder>{{77, "brltty"}}));
    EXPECT_EQ(scan.suspects, (std::vector<PortHolder>{{80, "ModemManager"}, {912, "brltty"}}));
    // Held, with no holder this process may see: the likely one is named, with a fix that fits any name.
    PortInfo port = describePort(device, sys.roots());
    port.holders.clear();
    EXPECT_EQ(
        openFailureReason(port, OpenError::Busy),
        device +
            ": the port is held by another program (perhaps ModemManager, pid 80): ModemManager probes "
            "serial devices for modems. To keep it off this one, give it ENV{ID_MM_DEVICE_IGNORE}=\"1\" in a "
            "udev rule");
}

}  // namespace
