#include "bench/child_run.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = captureOutput ? pipeEnds[1] : ::open("/dev/null", O_WRONLY);
        ::dup2(out, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid < 0) {
        throw std::runtime_error(std::string("cannot start ") + args[0] + ": " +
                                 std::strerror(errno));
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
    if (run.status == 127) {
        throw std::runtime_error("cannot run " + args[0]);
    }
    return run;
}

} // namespace vorn::bench
