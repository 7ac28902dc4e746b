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
