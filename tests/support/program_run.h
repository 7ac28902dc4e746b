// A program run as a child process (POSIX): its output captured, stderr watched line by line as it comes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

class ProgramRun {
  public:
    // `shellPrefix` (umask, ulimit, trap, redirections) runs in the shell that then execs the program in
    // `dir`. `unprivileged`: under root, the child first becomes an ordinary user.
    ProgramRun(const std::string& program, std::vector<std::string> args, const std::string& dir = ".",
               const std::string& shellPrefix = "", bool unprivileged = false) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0) return;
        args.insert(args.begin(), {"/bin/sh", "-c", shellPrefix + " exec \"$0\" \"$@\"", program});
        std::vector<char*> argv(args.size() + 1);
        std::transform(args.begin(), args.end(), argv.begin(), [](std::string& a) { return a.data(); });
        if ((pid_ = ::fork()) == 0) {
            if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            if (::chdir(dir.c_str()) == 0) ::execv("/bin/sh", argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        fds_[0] = {out[0], POLLIN, 0};
        fds_[1] = {err[0], POLLIN, 0};
    }
    ~ProgramRun() {
        if (code_ < 0 && pid_ > 0) ::kill(pid_, SIGKILL);
        finish();
    }

    // Reads until stderr holds `line` as a whole line (true), or nothing more comes for 10 s.
    bool waitForLine(const std::string& line) {
        while (("\n" + err).find("\n" + line + "\n") == std::string::npos)
            if (!readSome(std::chrono::seconds(10))) return false;
        return true;
    }
    // Reads all output and returns the exit code (128 + the signal when killed by one). A program that says
    // nothing for `quiet` and keeps running is killed first.
    int finish(std::chrono::milliseconds quiet = std::chrono::seconds(60)) {
        while (readSome(quiet)) {
        }
        if (fds_[0].fd >= 0 || fds_[1].fd >= 0) signal(SIGKILL);
        int status = 0;
        if (code_ < 0 && pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return code_;
    }
    void signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    pid_t pid() const { return pid_; }
    std::string out, err;

  private:
    // False once both pipes are closed, or when nothing came in time.
    bool readSome(std::chrono::milliseconds timeout) {
        if ((fds_[0].fd < 0 && fds_[1].fd < 0) || timeout.count() <= 0 ||
            ::poll(fds_, 2, int(timeout.count())) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            char buffer[65536];
            const ssize_t n = fds_[i].revents ? ::read(fds_[i].fd, buffer, sizeof buffer) : -2;
            if (n > 0) (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(n));
            if (n == 0 || n == -1) ::close(std::exchange(fds_[i].fd, -1));  // poll skips negative descriptors
        }
        return true;
    }

    pid_t pid_ = -1;
    int code_ = -1;
    pollfd fds_[2] = {{-1, 0, 0}, {-1, 0, 0}};
};
