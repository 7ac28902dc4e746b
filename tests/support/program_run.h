// A program run as a child process (POSIX): its output captured, stderr watched line by line as it comes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
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
        pid_ = ::fork();
        if (pid_ == 0) {
            if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            if (::chdir(dir.c_str()) != 0) ::_exit(125);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv("/bin/sh", argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        fds_ = {pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}};
    }
    ~ProgramRun() {
        if (pid_ > 0 && code_ < 0) ::kill(pid_, SIGKILL);
        finish();
        for (const pollfd& p : fds_) ::close(p.fd);
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Reads until stderr holds `line` as a whole line (true), or the time is up or the program closed it.
    bool waitForLine(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (("\n" + err).find("\n" + line + "\n") == std::string::npos) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    // Reads all output and returns the exit code (128 + the signal when killed by one).
    int finish() {
        while (code_ < 0 && pid_ > 0 && readSome(60000)) {
        }
        int status = 0;
        if (code_ < 0 && pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
            code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return code_;
    }
    void signal(int sig) const { ::kill(pid_, sig); }
    std::vector<std::string> errLines() const {
        std::vector<std::string> lines;
        for (std::size_t at = 0, nl; (nl = err.find('\n', at)) != std::string::npos; at = nl + 1)
            lines.push_back(err.substr(at, nl - at));
        return lines;
    }

    std::string out, err;

  private:
    // False once both pipes are closed, or when nothing came within `ms`.
    bool readSome(int ms) {
        if (fds_.empty() || (fds_[0].fd < 0 && fds_[1].fd < 0) || ::poll(fds_.data(), 2, ms) <= 0)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (fds_[i].fd < 0 || fds_[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = ::read(fds_[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds_[i].fd);
                fds_[i].fd = -1;  // poll ignores negative descriptors
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int code_ = -1;
    std::vector<pollfd> fds_;
};
