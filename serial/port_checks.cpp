// Consoles and permission causes from the system's tables: /proc/consoles and each process's controlling
// terminal, the package's udev rule, udev's database and logind's sessions under /run.
#include "serial/port_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kRuleFile = "/udev/rules.d/70-phone-flash-updater.rules";
// Programs that put a login prompt on a terminal, by the kernel's name for them.
constexpr const char* kLoginPrograms[] = {"agetty", "getty", "mingetty", "mgetty", "login"};

std::string numberText(unsigned major, unsigned minor) {
    return std::to_string(major) + ":" + std::to_string(minor);
}

// "ttyS0   -W- (EC p a)    4:64": the name first, the device's number last (when it has one).
bool listedAsConsole(const std::string& name, const std::string& number, const std::string& consoles) {
    std::istringstream lines(consoles);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, last, word;
        words >> first;
        while (words >> word) last = word;
        if ((!first.empty() && first == name) || (!number.empty() && last == number)) return true;
    }
    return false;
}

// The login prompt whose controlling terminal is device `number`, from /proc/PID/stat: "pid (comm) state
// ppid pgrp session tty_nr ...", where comm may hold spaces and parentheses.
bool loginPromptOn(const std::string& number, const std::string& procRoot, PortHolder& login) {
    std::error_code error;
    for (fs::directory_iterator it(procRoot, error), end; !error && it != end; it.increment(error)) {
        const std::string pidText = it->path().filename().string();
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = readSystemFile(it->path() / "stat");
        const std::size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        const std::string comm = stat.substr(open + 1, close - open - 1);
        bool prompt = false;
        for (const char* program : kLoginPrograms) prompt = prompt || comm == program;
        if (!prompt) continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        long long parent = 0, group = 0, session = 0, terminal = 0;
        if (!(fields >> state >> parent >> group >> session >> terminal) || terminal <= 0) continue;
        const auto tty = static_cast<unsigned long long>(terminal);
        const unsigned major = static_cast<unsigned>((tty >> 8) & 0xfff);
        const unsigned minor = static_cast<unsigned>((tty & 0xff) | ((tty >> 12) & 0xfff00));
        if (numberText(major, minor) != number) continue;
        login = {std::atoi(pidText.c_str()), comm};
        return true;
    }
    return false;
}

bool isUsbSerialName(const std::string& name) {
    for (const char* family : {"ttyUSB", "ttyACM"}) {
        const std::string prefix = family;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
            return true;
    }
    return false;
}

// Installed and not masked: a link to /dev/null (or an empty file) in /etc overrides the package's own.
bool ruleInForce(const SystemRoots& roots) {
    std::error_code error;
    const fs::path override = roots.etc + kRuleFile;
    if (fs::is_symlink(override, error)) return fs::read_symlink(override, error) != "/dev/null";
    if (fs::exists(override, error)) return fs::file_size(override, error) > 0;
    return fs::exists(roots.usrLib + kRuleFile, error);
}

bool hasUaccessTag(const std::string& number, const SystemRoots& roots) {
    // udev keeps a device's tags as "G:tag" lines (and the current ones as "Q:tag").
    std::istringstream lines(readSystemFile(roots.run + "/udev/data/c" + number));
    for (std::string line; std::getline(lines, line);) {
        if (line == "G:uaccess" || line == "Q:uaccess") return true;
    }
    return false;
}

// logind grants uaccess devices to the active session at a local seat. Unknown (true) without logind.
bool activeAtLocalSeat(unsigned uid, const SystemRoots& roots) {
    const fs::path sessions = roots.run + "/systemd/sessions";
    std::error_code error;
    if (!fs::is_directory(sessions, error)) return true;
    for (fs::directory_iterator it(sessions, error), end; !error && it != end; it.increment(error)) {
        std::istringstream lines(readSystemFile(it->path()));
        bool mine = false, active = false, remote = false, seated = false;
        for (std::string line; std::getline(lines, line);) {
            mine = mine || line == "UID=" + std::to_string(uid);
            active = active || line == "ACTIVE=1";
            remote = remote || line == "REMOTE=1";
            seated = seated || (line.rfind("SEAT=", 0) == 0 && line.size() > 5);
        }
        if (mine && active && seated && !remote) return true;
    }
    return false;
}

}  // namespace

std::string readSystemFile(const std::string& path, std::size_t limit) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text(limit, '\0');
    std::size_t got = 0;
    // /proc files come in pieces; a sysfs attribute in one.
    for (ssize_t n; got < limit && (n = ::read(fd, text.data() + got, limit - got)) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(fd);
    text.resize(got);
    return text;
}

std::string deviceNumber(const std::string& path, const std::string& name, const SystemRoots& roots) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode))
        return numberText(major(info.st_rdev), minor(info.st_rdev));
    std::string number = readSystemFile(roots.sysfs + "/class/tty/" + name + "/dev", 64);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    return number;
}

bool isConsole(const std::string& name, const std::string& number, const SystemRoots& roots,
               PortHolder& login) {
    login = {};
    if (listedAsConsole(name, number, readSystemFile(roots.proc + "/consoles"))) return true;
    return !number.empty() && loginPromptOn(number, roots.proc, login);
}

bool isConsolePath(const std::string& devicePath, const SystemRoots& roots) {
    char resolved[PATH_MAX];
    const std::string name =
        fs::path(::realpath(devicePath.c_str(), resolved) ? resolved : devicePath).filename().string();
    PortHolder login;
    return isConsole(name, deviceNumber(devicePath, name, roots), roots, login);
}

PermissionCause permissionCause(const std::string& name, const std::string& number, const SystemRoots& roots,
                                unsigned uid) {
    if (!isUsbSerialName(name)) return PermissionCause::Unknown;
    if (!ruleInForce(roots)) return PermissionCause::RuleMissing;
    if (!hasUaccessTag(number, roots)) return PermissionCause::RuleNotApplied;
    if (!activeAtLocalSeat(uid, roots)) return PermissionCause::NotAtSeat;
    return PermissionCause::Unknown;
}
