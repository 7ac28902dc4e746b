// What `ports` prints and what `flash --port auto` picks, from fake system trees; and the command itself.
#include "cli/port_report.h"

#include <gtest/gtest.h>

#include "fake_system.h"

namespace {

std::string withoutRoot(std::string text, const std::string& root) {
    for (std::size_t at; (at = text.find(root)) != std::string::npos;) text.erase(at, root.size());
    return text;
}

TEST(PortReport, TextAndJsonShowEveryFieldAndAutoTakesTheOnlyUsbDevice) {
    FakeSystem sys;
    const auto pick = [&] {  // the device taken, or the refusal, as one text
        const AutoPort chosen = pickAutoPort(listPorts(sys.roots()));
        return withoutRoot(chosen.path + "|" + chosen.error, sys.root());
    };
    sys.tty("ttyS0", "platform/serial8250/serial8250:0.0");
    EXPECT_EQ(pick(), "|--port auto found no USB serial device\n  /dev/ttyS0 (COM1): ready");
    sys.usb("pci0000:00/usb1/1-1", {"067b", "2303", "Prolific", "USB serial cable", "A1\tB2"});
    sys.tty("ttyUSB0", "pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial/pl2303");
    sys.link("dev/serial/by-id/usb-Prolific-if00-port0", "../../ttyUSB0");
    sys.file("proc/812/comm", "ModemManager\n");
    sys.link("proc/812/fd/4", sys.roots().dev + "/ttyUSB0");
    EXPECT_EQ(pick(), "/dev/ttyUSB0|");
    const std::vector<PortInfo> ports = listPorts(sys.roots());

    EXPECT_EQ(withoutRoot(portsText(ports), sys.root()),
              "/dev/ttyS0: ready\n"
              "/dev/ttyUSB0 (COM1): USB serial cable 067b:2303 (Prolific), held by ModemManager (pid 812)\n"
              "  by-id: /dev/serial/by-id/usb-Prolific-if00-port0\n"
              "  serial number: A1?B2\n"
              "  driver: pl2303\n"
              "  fix: ModemManager probes serial devices for modems. To keep it off this one, put the line\n"
              "       ATTRS{idVendor}==\"067b\", ATTRS{idProduct}==\"2303\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
              "       in /etc/udev/rules.d/99-phone-updater.rules, run sudo udevadm control --reload\n"
              "       and plug the cable in again\n");
    EXPECT_EQ(
        withoutRoot(portsJson(ports), sys.root()),
        "{\"ports\": [\n"
        "  {\"name\": \"ttyS0\", \"path\": \"/dev/ttyS0\", \"com\": null, \"by_id\": null, \"usb\": null, "
        "\"driver\": null, \"state\": \"ready\", \"holders\": [], \"reason\": \"ready\", \"fix\": null},\n"
        "  {\"name\": \"ttyUSB0\", \"path\": \"/dev/ttyUSB0\", \"com\": \"COM1\", \"by_id\": "
        "\"/dev/serial/by-id/usb-Prolific-if00-port0\", \"usb\": {\"vendor_id\": \"067b\", \"product_id\": "
        "\"2303\", \"manufacturer\": \"Prolific\", \"product\": \"USB serial cable\", \"serial_number\": "
        "\"A1\\u0009B2\"}, \"driver\": \"pl2303\", \"state\": \"held\", \"holders\": [{\"pid\": 812, "
        "\"program\": \"ModemManager\"}], \"reason\": \"held by ModemManager (pid 812)\", \"fix\": "
        "\"ModemManager probes serial devices for modems. To keep it off this one, put the line "
        "ATTRS{idVendor}==\\\"067b\\\", ATTRS{idProduct}==\\\"2303\\\", ENV{ID_MM_DEVICE_IGNORE}=\\\"1\\\" "
        "in "
        "/etc/udev/rules.d/99-phone-updater.rules, run sudo udevadm control --reload and plug the cable in "
        "again\"}\n"
        "]}\n");
    EXPECT_EQ(portsJson({}), "{\"ports\": []}\n");

    sys.usb("pci0000:00/usb1/1-2", {"1234", "5678", "Maker", "Phone modem"});
    sys.tty("ttyACM0", "pci0000:00/usb1/1-2/1-2:1.0", "usb/cdc_acm");
    EXPECT_EQ(pick(),
              "|--port auto found 2 USB serial devices; name one with --port\n"
              "  /dev/ttyACM0: Phone modem 1234:5678 (Maker), ready\n"
              "  /dev/ttyS0: ready\n"
              "  /dev/ttyUSB0 (COM1): USB serial cable 067b:2303 (Prolific), held by ModemManager (pid 812)");
}

}  // namespace

TEST(PortReport, ConsolesAreShownAsSuchAndNeverTakenAndAMissingAdapterIsNamed) {
    FakeSystem sys;
    const std::string uart = "platform/serial8250/serial8250:0/serial8250:0.";
    for (int i = 0; i < 3; ++i) {
        const std::string name = "ttyS" + std::to_string(i);
        sys.tty(name, uart + std::to_string(i));
        sys.file("sys/class/tty/" + name + "/dev", "4:" + std::to_string(64 + i) + "\n");
    }
    EXPECT_EQ(withoutRoot(portsText(listPorts(sys.roots())), sys.root()),
              "/dev/ttyS0 (COM1): ready\n/dev/ttyS1 (COM2): ready\n/dev/ttyS2 (COM3): ready\n"
              "no USB serial adapter found: plug in the phone's cable\n");
    EXPECT_EQ(portsText({}),
              "no serial devices found\nno USB serial adapter found: plug in the phone's cable\n");
    // The kernel's console as /proc/consoles lists it (console=ttyS0), a login prompt on ttyS1 (its
    // controlling terminal 4:65), and a shell on ttyS2 that is no login prompt.
    sys.file("proc/612/stat",
             "612 (agetty) S 1 612 612 " + std::to_string(4 << 8 | 65) + " 612 4194560 98 0");
    sys.file("proc/700/stat", "700 (login (x)) S 1 700 700 " + std::to_string(4 << 8 | 66) + " 700 0 0 0");
    sys.file("proc/701/stat", "701 (bash) S 1 701 701 " + std::to_string(4 << 8 | 66) + " 701 0 0 0");
    // A USB adapter that is the kernel's console too, known by its number alone.
    sys.usb("pci0000:00/usb1/1-1", {"067b", "2303", "Prolific", "USB serial cable", ""});
    sys.tty("ttyUSB0", "pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial/pl2303");
    sys.file("sys/class/tty/ttyUSB0/dev", "188:0\n");
    sys.file("proc/consoles",
             "tty0 -WU (E  p  )    4:1\nttyS0                -W- (EC p a)    4:64\n"
             "console0 -W- (E) 188:0\n");
    const std::vector<PortInfo> ports = listPorts(sys.roots());
    const std::string kernel =
        "the kernel writes its messages to this port (it is in /proc/consoles), so no "
        "update ever uses it:\n       connect the phone through a USB serial adapter\n";
    EXPECT_EQ(
        withoutRoot(portsText(ports), sys.root()),
        "/dev/ttyS0: system console\n  fix: " + kernel +
            "/dev/ttyS1: system console\n"
            "  fix: a login prompt, agetty (pid 612), runs on this port, so no update ever uses it:\n"
            "       connect the phone through a USB serial adapter\n"
            "/dev/ttyS2 (COM3): ready\n"
            "/dev/ttyUSB0: USB serial cable 067b:2303 (Prolific), system console\n  driver: pl2303\n  fix: " +
            kernel);
    const std::string json = portsJson(ports);
    EXPECT_NE(
        json.find(
            "\"state\": \"console\", \"holders\": [], \"reason\": \"system console\", \"fix\": \"a login "
            "prompt, agetty (pid 612), runs on this port, so no update ever uses it: connect the phone "
            "through a USB serial adapter\"}"),
        std::string::npos)
        << json;
    EXPECT_EQ(pickAutoPort(ports).path, "");
    EXPECT_EQ(
        withoutRoot(
            openFailureReason(describePort(sys.roots().dev + "/ttyS1", sys.roots()), OpenError::Console),
            sys.root()),
        "/dev/ttyS1: system console: a login prompt, agetty (pid 612), runs on this port, so no update ever "
        "uses it: connect the phone through a USB serial adapter");
}
