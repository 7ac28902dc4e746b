// A /sys, /dev, /proc (and the /run, /etc and /usr/lib that udev and logind use) of our own making under a
// temporary directory, laid out as the kernel and those services do.
#pragma once

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "serial/port_info.h"

class FakeSystem {
  public:
    FakeSystem() {
        for (const char* sub : {"/sys/class/tty", "/dev", "/proc"})
            std::filesystem::create_directories(root_ + sub);
    }
    ~FakeSystem() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    SystemRoots roots() const {
        return {root_ + "/sys", root_ + "/dev", root_ + "/proc",
                root_ + "/run", root_ + "/etc", root_ + "/usr/lib"};
    }
    const std::string& root() const { return root_; }

    void file(const std::string& path, const std::string& text) const { std::ofstream(at(path)) << text; }
    void link(const std::string& path, const std::string& target) const {
        std::filesystem::create_symlink(target, at(path));
    }
    // A USB device under sys/devices: idVendor, idProduct, manufacturer, product, serial ("" leaves one out).
    void usb(const std::string& dir, const std::array<std::string, 5>& values) const {
        const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
        for (int i = 0; i < 5; ++i) {
            if (!values[i].empty()) file("sys/devices/" + dir + "/" + names[i], values[i] + "\n");
        }
    }
    // A tty whose device is sys/devices/`device`, bound to `driver` ("bus/name"), with a node in dev/.
    void tty(const std::string& name, const std::string& device, const std::string& driver = "",
             bool node = true) const {
        const std::string deviceDir = root_ + "/sys/devices/" + device;
        link("sys/devices/" + device + "/tty/" + name + "/device", deviceDir);
        link("sys/class/tty/" + name, deviceDir + "/tty/" + name);
        if (!driver.empty()) link("sys/devices/" + device + "/driver", root_ + "/sys/bus/" + driver);
        if (node) file("dev/" + name, "");
    }

  private:
    std::string at(const std::string& path) const {  // makes the folders on the way
        std::filesystem::create_directories(std::filesystem::path(root_ + "/" + path).parent_path());
        return root_ + "/" + path;
    }
    static std::string makeRoot() {
        char dir[] = "/tmp/fake-system.XXXXXX";
        return ::mkdtemp(dir) ? dir : "/nonexistent";
    }
    const std::string root_ = makeRoot();
};
