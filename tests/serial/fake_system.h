// A /sys, /dev and /proc of our own making under a temporary directory, laid out as the kernel does.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "serial/port_info.h"

class FakeSystem {
  public:
    FakeSystem() {
        char dir[] = "/tmp/fake-system.XXXXXX";
        root_ = ::mkdtemp(dir) ? dir : "/nonexistent";
        for (const char* sub : {"/sys/class/tty", "/dev", "/proc"})
            std::filesystem::create_directories(root_ + sub);
    }
    ~FakeSystem() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    SystemRoots roots() const { return {root_ + "/sys", root_ + "/dev", root_ + "/proc"}; }
    const std::string& root() const { return root_; }

    void file(const std::string& path, const std::string& text) const {
        std::filesystem::create_directories(std::filesystem::path(root_ + "/" + path).parent_path());
        std::ofstream(root_ + "/" + path) << text;
    }
    void link(const std::string& path, const std::string& target) const {
        std::filesystem::create_directories(std::filesystem::path(root_ + "/" + path).parent_path());
        std::filesystem::create_symlink(target, root_ + "/" + path);
    }
    // A USB device under sys/devices; an empty string leaves that attribute out.
    void usb(const std::string& dir, const std::string& vid, const std::string& pid, const std::string& maker,
             const std::string& product, const std::string& serial = "") const {
        const std::string names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
        const std::string values[] = {vid, pid, maker, product, serial};
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
    std::string root_;
};
