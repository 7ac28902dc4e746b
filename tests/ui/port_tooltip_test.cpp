// The port buttons' tooltips name the device behind each COM name, from fake system trees, and follow a
// device being unplugged when the tooltip is about to show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>

#include "fake_system.h"
#include "window_fixture.h"

TEST(PortTooltips, NameTheUsbDeviceSayWhoHoldsItAndFollowAnUnplug) {
    FakeSystem sys;
    sys.usb("pci0000:00/usb1/1-1", "067b", "2303", "Prolific", "USB serial cable");
    sys.tty("ttyUSB0", "pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "usb-serial/pl2303");
    sys.usb("pci0000:00/usb1/1-2", "1234", "5678", "Maker", "Phone");
    sys.tty("ttyACM1", "pci0000:00/usb1/1-2/1-2:1.0", "usb/cdc_acm");
    sys.file("proc/77/comm", "brltty\n");
    sys.link("proc/77/fd/3", sys.roots().dev + "/ttyACM1");
    WindowFixture f;
    f.panel().setPortRoots(sys.roots());
    const auto tip = [&](int id) { return f.panel().control(id)->toolTip().toStdString(); };
    const std::string dev = sys.roots().dev;
    EXPECT_EQ(tip(IDC_COM1), "COM1: " + dev + "/ttyUSB0, USB serial cable 067b:2303 (Prolific), ready");
    EXPECT_EQ(tip(IDC_COM2),
              "COM2: " + dev +
                  "/ttyACM1, Phone 1234:5678 (Maker), held by brltty (pid 77)\n"
                  "brltty takes some USB serial adapters for braille displays. If you use none,\n"
                  "remove it (sudo apt remove brltty) and plug the cable in again");

    std::filesystem::remove(dev + "/ttyUSB0");
    std::filesystem::remove(sys.root() + "/sys/class/tty/ttyUSB0");
    EXPECT_EQ(tip(IDC_COM1), "COM1: " + dev + "/ttyUSB0, USB serial cable 067b:2303 (Prolific), ready")
        << "refreshed without being asked";
    QWidget* com1 = f.panel().control(IDC_COM1);
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), com1->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(com1, &hover);
    EXPECT_EQ(tip(IDC_COM1), "COM1: " + dev + "/ttyS0, missing");
}
