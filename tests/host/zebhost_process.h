// zebhost run as a subprocess, its stdout and stderr in files of a folder of its own.
#pragma once

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "test_support.h"

using Env = std::vector<std::pair<std::string, std::string>>;

// Polls a condition every 10 ms for up to a minute.
template <typename Condition>
bool waitFor(Condition done) {
    for (int i = 0; i < 6000; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class Zebhost {
public:
    // fileSizeLimit: bytes that the process may write into any one file, its stdout and stderr
    // files included (0: no limit); a write past it fails instead of raising SIGXFSZ.
    explicit Zebhost(std::vector<std::string> args, const Env& env = {}, rlim_t fileSizeLimit = 0) {
        std::vector<char*> argv{const_cast<char*>(ZEBHOST_PATH)};
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const std::string out = dir_ / "stdout", err = dir_ / "stderr";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            if (fileSizeLimit != 0) {
                ::signal(SIGXFSZ, SIG_IGN); // stays ignored across exec
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Zebhost() {
        if (status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Zebhost(const Zebhost&) = delete;
    Zebhost& operator=(const Zebhost&) = delete;

    // The exit status, or -1 if it did not end within the bound.
    int wait() {
        int status = 0;
        if (waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_;
    }
    void signal(int sig) const { kill(pid_, sig); }
    std::string out() const { return readFile(dir_ / "stdout"); }
    std::string err() const { return readFile(dir_ / "stderr"); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};
