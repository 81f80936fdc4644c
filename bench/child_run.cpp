#include "bench/child_run.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_tree.h"
#include "core/retry_on_interrupt.h"

namespace vorn::bench {

namespace {

double Seconds(const timeval& time) {
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

ChildRun RunChild(const std::vector<std::string>& args, bool captureOutput) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    if (captureOutput && ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
    }
    // Spawned, not forked: a forked child starts as a copy of this process, and tearing that
    // copy down at its exec would count in its CPU time and its peak memory.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (captureOutput) {
        ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    } else {
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    const Clock::time_point start = Clock::now();
    pid_t pid = -1;
    const int failure = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        if (captureOutput) {
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
        }
        throw std::runtime_error(std::string("cannot start ") + args[0] + ": " +
                                 std::strerror(failure));
    }
    ChildRun run;
    if (captureOutput) {
        ::close(pipeEnds[1]);
        char buffer[4096];
        for (ssize_t n; (n = vorn::RetryOnInterrupt(
                             [&] { return ::read(pipeEnds[0], buffer, sizeof buffer); })) > 0;) {
            run.output.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipeEnds[0]);
    }
    int status = 0;
    rusage usage{};
    vorn::RetryOnInterrupt([&] { return ::wait4(pid, &status, 0, &usage); });
    run.seconds = SecondsSince(start);
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace vorn::bench
