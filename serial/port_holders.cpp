// Holder search through /proc: for each process, the targets of its fd links. Only links are read (never
// opened, and stat'ed only when one names the device), so a stuck network mount or a device cannot make the
// search hang.
#include "serial/port_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "serial/port_checks.h"

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

int pidOf(const char* name) {
    if (*name < '1' || *name > '9') return 0;
    char* end = nullptr;
    const long pid = std::strtol(name, &end, 10);
    return *end == '\0' && pid > 0 && pid <= INT_MAX ? static_cast<int>(pid) : 0;
}

std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// The kernel keeps a command name of at most 15 characters ("phone-updater-c"). When that is all it holds,
// the executable's name (or, for another user's process, the name it was started by) that it begins says
// more. A script keeps its own name (its executable is the interpreter), and so does a process that renamed
// itself.
std::string programName(const std::string& processDir) {
    constexpr std::size_t kCommandNameLength = 15;
    std::string name = readSystemFile(processDir + "/comm", 64);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
    if (!name.empty() && name.size() < kCommandNameLength) return name;
    char link[PATH_MAX];
    const ssize_t n = ::readlink((processDir + "/exe").c_str(), link, sizeof link);
    std::string executable = baseName(std::string(link, n > 0 ? static_cast<std::size_t>(n) : 0));
    const std::string deleted = " (deleted)";  // the file was replaced since it was started
    if (executable.size() > deleted.size() &&
        executable.compare(executable.size() - deleted.size(), deleted.size(), deleted) == 0)
        executable.resize(executable.size() - deleted.size());
    const std::string commandLine = readSystemFile(processDir + "/cmdline", PATH_MAX);
    const std::string started = baseName(commandLine.substr(0, commandLine.find('\0')));
    for (const std::string& full : {executable, started}) {
        if (full.size() > name.size() && full.compare(0, name.size(), name) == 0) return full;
    }
    return name;
}

enum class FdSearch { Found, NotFound, Unreadable };

// Whether an fd whose link names the device is the device. The name alone can mislead: a process in another
// mount namespace (a container, a service with a private /dev) may have a pseudo-terminal instance of its
// own, whose /dev/pts/N is another device than ours. The same character device (a USB adapter seen through
// another /dev) counts; a pseudo-terminal only in the same instance. Counts when either cannot be told.
bool sameDevice(int fdDir, const char* name, const struct stat* device) {
    struct stat open {};
    if (device == nullptr || ::fstatat(fdDir, name, &open, 0) != 0) return true;
    if (!S_ISCHR(open.st_mode) || !S_ISCHR(device->st_mode))
        return open.st_dev == device->st_dev && open.st_ino == device->st_ino;
    constexpr unsigned kPtySlaveMajors[] = {136, 143};  // UNIX98 pseudo-terminal slaves
    const unsigned major = ::major(device->st_rdev);
    const bool ptySlave = major >= kPtySlaveMajors[0] && major <= kPtySlaveMajors[1];
    return open.st_rdev == device->st_rdev && (!ptySlave || open.st_dev == device->st_dev);
}

FdSearch opensDevice(const std::string& processDir, const std::string& target, const struct stat* device) {
    DirPtr fds(::opendir((processDir + "/fd").c_str()));
    if (!fds) return errno == ENOENT ? FdSearch::NotFound : FdSearch::Unreadable;  // ENOENT: it has exited
    bool unreadable = false;
    char link[PATH_MAX];
    while (const dirent* entry = ::readdir(fds.get())) {
        if (entry->d_name[0] == '.') continue;
        const ssize_t n = ::readlinkat(::dirfd(fds.get()), entry->d_name, link, sizeof link);
        if (n < 0) {
            unreadable = unreadable || errno == EACCES || errno == EPERM;
            continue;
        }
        if (target.compare(0, std::string::npos, link, static_cast<std::size_t>(n)) == 0 &&
            sameDevice(::dirfd(fds.get()), entry->d_name, device))
            return FdSearch::Found;
    }
    return unreadable ? FdSearch::Unreadable : FdSearch::NotFound;
}

// The name the kernel reports for an open device: the path with every link resolved.
std::string resolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

HolderScan findPortHolders(const std::string& devicePath, const std::string& procRoot) {
    HolderScan scan;
    const std::string target = resolvedPath(devicePath);
    struct stat device {};
    const bool known = ::stat(target.c_str(), &device) == 0;
    DirPtr proc(::opendir(procRoot.c_str()));
    if (!proc) return scan;
    while (const dirent* entry = ::readdir(proc.get())) {
        const int pid = pidOf(entry->d_name);
        if (pid == 0) continue;
        const std::string processDir = procRoot + "/" + entry->d_name;
        const FdSearch found = opensDevice(processDir, target, known ? &device : nullptr);
        if (found == FdSearch::NotFound) continue;
        std::string program = programName(processDir);
        if (found == FdSearch::Found) {
            scan.holders.push_back({pid, std::move(program)});
        } else if (portGrabber(program) != PortGrabber::None) {
            scan.suspects.push_back({pid, std::move(program)});
        }
    }
    const auto byPid = [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; };
    std::sort(scan.holders.begin(), scan.holders.end(), byPid);
    std::sort(scan.suspects.begin(), scan.suspects.end(), byPid);
    return scan;
}

bool heldByAnotherProcess(const std::string& devicePath, const std::string& procRoot) {
    const int self = static_cast<int>(::getpid());
    for (const PortHolder& holder : findPortHolders(devicePath, procRoot).holders) {
        if (holder.pid != self) return true;
    }
    return false;
}
