// A child process under another program's name that has a device open until the test ends: a modem prober
// holding a port or, with the device as its session's terminal, a login prompt on it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

struct NamedChild {
    NamedChild(const std::string& path, const char* name, bool controllingTerminal = false) : pid(::fork()) {
        if (pid != 0) return;
        if (controllingTerminal) ::setsid();  // a session leader's first terminal becomes its own
        ::prctl(PR_SET_NAME, name);
        if (::open(path.c_str(), controllingTerminal ? O_RDWR : O_RDWR | O_NOCTTY) >= 0) ::pause();
        ::_exit(1);
    }
    ~NamedChild() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
    const pid_t pid;
};
