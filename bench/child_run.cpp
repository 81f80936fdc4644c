#include "bench/child_run.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "bench/bench_tree.h"
#include "core/os/retry_on_interrupt.h"

namespace vorn::bench {

namespace {

double Seconds(const timeval& time) {
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

long PeakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

ChildRun RunChild(const std::vector<std::string>& args, bool captureOutput, bool ownPeak) {
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
    // The system's peak memory for a child also counts the address space it was started from,
    // this benchmark's, which may well be larger than the child's own. So the child is stopped
    // as it exits, its memory still its own, and its peak read there.
    if (ownPeak) {
        ::ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_TRACEEXIT);
    }
    ChildRun run;
    std::thread reader;
    if (captureOutput) {
        ::close(pipeEnds[1]);
        reader = std::thread([&run, from = pipeEnds[0]] {
            char buffer[4096];
            for (ssize_t n; (n = vorn::RetryOnInterrupt(
                                 [&] { return ::read(from, buffer, sizeof buffer); })) > 0;) {
                run.output.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(from);
        });
    }
    int status = 0;
    rusage usage{};
    long ownPeakKiB = -1;
    for (;;) {
        vorn::RetryOnInterrupt([&] { return ::wait4(pid, &status, __WALL, &usage); });
        if (!WIFSTOPPED(status)) {
            break;
        }
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            ownPeakKiB = PeakKiB(pid);
            ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
        } else {
            // Any other stop: the signal goes on to the child as it would untraced.
            const long signal = status >> 16 == 0 ? WSTOPSIG(status) : 0;
            ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(signal));
        }
    }
    if (reader.joinable()) {
        reader.join();
    }
    run.seconds = SecondsSince(start);
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    // Read only at the exit stop of a traced child; else the system's figure.
    run.peakKiB = ownPeakKiB >= 0 ? ownPeakKiB : usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace vorn::bench
