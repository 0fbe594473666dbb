// scripts/carnet.sh: the test network works end to end and leaves nothing behind.
#include <chrono>
#include <cstdio>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/car_process.h"

namespace {

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            text.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return text;
}

// Every name the run made starts with "dv" and its process id.
std::string leftovers(pid_t run) {
    std::string prefix = "dv" + std::to_string(run);
    std::string found;
    for (const char* list : {"ip netns list", "ip -o link show"}) {
        std::string text = output(list);
        for (size_t at = 0; (at = text.find(prefix, at)) != std::string::npos;) {
            size_t end = text.find_first_of(" :@\n", at);
            found += text.substr(at, end - at) + " ";
            at = end;
        }
    }
    return found;
}

pid_t startCarnet(std::vector<std::string> args, const std::string& path = "") {
    args.insert(args.begin(), {"/bin/bash", CARNET_PATH, "run"});
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!path.empty()) {
            ::setenv("PATH", path.c_str(), 1);
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string car(const char* family, const char* name) {
    return carclient::carsimPath() + " --family " + family + " --name " + name;
}

} // namespace

TEST(Carnet, CarsAnswerAndStreamToTheHostNamespaceAndNothingIsLeftBehind) {
    const std::string probe = CARSIM_PROBE_PATH;
    std::string host = probe + " discover && " + probe + " stream 192.168.99.1 30 && " + probe +
                       " stream 192.168.99.3 30 && test \"$DRIVON_CAR_COUNT:$DRIVON_CAR_ADDR_2\" = "
                       "2:192.168.99.3" +
                       " && test \"$(ip -o -4 addr show eth0 | grep -c 192.168.99.2/24)\" = 1";
    pid_t run = startCarnet(
        {"--car", car("sonix", "car1"), "--car", car("zoderiv", "car2"), "--", "sh", "-c", host});
    EXPECT_EQ(waitFor(run), 0);
    EXPECT_EQ(leftovers(run), "");
}

TEST(Carnet, FailingHostCommandsAndCarsFailTheRunAndCleanUp) {
    pid_t run = startCarnet({"--car", car("sonix", "car1"), "--", "sh", "-c", "exit 7"});
    EXPECT_EQ(waitFor(run), 7) << "the host command's status is passed on";
    EXPECT_EQ(leftovers(run), "");
    run = startCarnet({"--car", "/bin/false", "--", "true"});
    EXPECT_NE(waitFor(run), 0) << "a car that cannot start";
    EXPECT_EQ(leftovers(run), "");
}

TEST(Carnet, AnInterruptedRunCleansUp) {
    pid_t run = startCarnet({"--car", car("zoderiv", "car1"), "--", "sleep", "60"});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Interrupt once the host namespace holds a process: the host command, or a late set-up step.
    while (output("ip netns pids dv" + std::to_string(run) + "h 2>/dev/null").empty() &&
           std::chrono::steady_clock::now() < deadline) {
        ::usleep(20000);
    }
    ::kill(run, SIGTERM);
    EXPECT_NE(waitFor(run), 0);
    EXPECT_EQ(leftovers(run), "");
}

// An interrupt is handled between the script's commands, so each `ip` call of the set-up is a
// point where it can land. An `ip` in front of the real one sends SIGTERM to the script as its
// N-th call and every later one returns, as an impatient user would, so the clean-up is
// interrupted too; run N = 1, 2, ... until the set-up completes before the first signal.
TEST(Carnet, InterruptedAfterAnyStepOfItsSetUpItLeavesNothingBehind) {
    std::string realIp = output("command -v ip");
    realIp.erase(realIp.find_last_not_of('\n') + 1);
    ASSERT_FALSE(realIp.empty());
    char dir[] = "/tmp/carnet-interrupt-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string counter = std::string(dir) + "/calls";
    const std::string wrapper = std::string(dir) + "/ip";
    if (FILE* f = std::fopen(wrapper.c_str(), "w")) {
        std::fprintf(f,
                     "#!/bin/sh\n"
                     "n=$(($(cat %s 2>/dev/null || echo 0) + 1)); echo $n > %s\n"
                     "%s \"$@\"; rc=$?\n"
                     "[ \"$n\" -ge \"$DRIVON_INTERRUPT_AT\" ] && kill -TERM $PPID\n"
                     "exit $rc\n",
                     counter.c_str(), counter.c_str(), realIp.c_str());
        std::fclose(f);
    }
    ::chmod(wrapper.c_str(), 0755);
    const std::string path = std::string(dir) + ":" + ::getenv("PATH");

    bool completed = false;
    for (int step = 1; step <= 60 && !completed; ++step) {
        std::remove(counter.c_str());
        ::setenv("DRIVON_INTERRUPT_AT", std::to_string(step).c_str(), 1);
        pid_t run = startCarnet({"--car", car("zoderiv", "car1"), "--", "true"}, path);
        int status = waitFor(run);
        EXPECT_EQ(leftovers(run), "") << "interrupted after ip call " << step;
        // The set-up ran to the host command, which succeeded: later steps are the clean-up's.
        completed = status == 0;
    }
    ::unsetenv("DRIVON_INTERRUPT_AT");
    EXPECT_TRUE(completed);
    std::remove(counter.c_str());
    std::remove(wrapper.c_str());
    ::rmdir(dir);
}
