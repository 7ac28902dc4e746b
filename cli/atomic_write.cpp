// Replacing a file atomically on POSIX: a temporary beside it, then rename.
#include "cli/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

namespace {

// The temporary file's name, for the signal handler: an interrupted convert leaves no stray file behind.
char pendingTemporary[4096];
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporaryAndDie(int signal) {
    if (pendingTemporary[0] != '\0') unlink(pendingTemporary);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class TemporaryGuard {
  public:
    explicit TemporaryGuard(const std::string& path) {
        if (path.size() < sizeof pendingTemporary)
            std::memcpy(pendingTemporary, path.c_str(), path.size() + 1);
        for (int signal : kCleanupSignals) std::signal(signal, removeTemporaryAndDie);
    }
    ~TemporaryGuard() {
        for (int signal : kCleanupSignals) std::signal(signal, SIG_DFL);
        if (pendingTemporary[0] != '\0') unlink(pendingTemporary);
        pendingTemporary[0] = '\0';
    }
    void keep() { pendingTemporary[0] = '\0'; }  // renamed into place: nothing to remove
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;
};

bool fail(std::string& error, const char* what) {
    error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

mode_t defaultFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size,
                         std::string& error) {
    if (path.empty() || path.back() == '/') {
        errno = EISDIR;
        return fail(error, "not a file name");
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

    // Beside the target, so that the rename stays within one file system.
    std::string temporary =
        (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + "." + base + ".XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) return fail(error, "cannot create a temporary file");
    temporary = name.data();
    TemporaryGuard guard(temporary);

    // mkstemp creates 0600; give the result the mode any new file would get.
    const bool written = fchmod(fd, defaultFileMode()) == 0 && writeAll(fd, data, size) && fsync(fd) == 0;
    const int writeErrno = errno;
    if (close(fd) != 0 && written) return fail(error, "cannot write");
    if (!written) {
        errno = writeErrno;
        return fail(error, "cannot write");
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) return fail(error, "cannot replace the file");
    guard.keep();

    // Make the rename itself durable; a directory that cannot be synced does not undo the write.
    const int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}
