// A private 8-bit Xvfb for the tests here: it takes a free display number
// itself (-displayfd) and ends with the object.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

inline double seconds_since(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

inline bool on_path(const char* name) {
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    size_t from = 0;
    while (from <= path.size()) {
        size_t to = path.find(':', from);
        if (to == std::string::npos) to = path.size();
        if (access((path.substr(from, to - from) + "/" + name).c_str(), X_OK) == 0) return true;
        from = to + 1;
    }
    return false;
}

struct Xvfb8 {
    pid_t pid = -1;
    std::string display;  // ":N", empty when the server did not come up

    Xvfb8() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 3);
            int null_fd = open("/dev/null", O_WRONLY);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x8", "-nolisten", "tcp", nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        auto begin = std::chrono::steady_clock::now();
        while (number.find('\n') == std::string::npos && seconds_since(begin) < 15) {
            pollfd p{fds[0], POLLIN, 0};
            char c;
            if (poll(&p, 1, 100) > 0 && read(fds[0], &c, 1) == 1) number += c;
        }
        close(fds[0]);
        if (!number.empty() && number.back() == '\n') display = ":" + number.substr(0, number.size() - 1);
    }
    ~Xvfb8() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    Xvfb8(const Xvfb8&) = delete;
    Xvfb8& operator=(const Xvfb8&) = delete;
};
