// vorn-check against the plain reference loop over the same tree, in one run: one job, two jobs,
// and its peak memory on a small and a large tree (it should not grow with the file count).
//
//   check_bench [--tree DIR] [--runs N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench/bench_tree.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ChildRun {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs vorn-check with its output going to /dev/null, as a report written to a file would.
ChildRun RunCheck(const std::vector<std::string>& args) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        std::vector<char*> argv{const_cast<char*>(VORN_CHECK_EXE)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(VORN_CHECK_EXE, argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    ChildRun run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

template <typename F>
double Best(int runs, F&& f) {
    double best = 1e100;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

ChildRun BestCheck(int runs, const std::vector<std::string>& args) {
    ChildRun best;
    best.seconds = 1e100;
    for (int i = 0; i < runs; ++i) {
        const ChildRun run = RunCheck(args);
        if (run.seconds < best.seconds)
            best = run;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    std::string root = "/tmp/vorn-bench-tree";
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--tree") == 0)
            root = argv[i + 1];
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::string small = root + "-small";
    const vorn::bench::TreeCounts counts = vorn::bench::MakeBenchTree(root, 100, 1000);
    vorn::bench::MakeBenchTree(small, 10, 1000);
    std::printf("tree %s: %zu files, %zu JPEG files, %zu damaged\n", root.c_str(), counts.files,
                counts.jpegs, counts.errors);

    // Warm the cache once, untimed.
    vorn::bench::ReferenceLoop(root);
    RunCheck({root});

    vorn::bench::TreeCounts reference;
    const double referenceSeconds =
        Best(runs, [&] { reference = vorn::bench::ReferenceLoop(root); });
    const ChildRun one = BestCheck(runs, {"--jobs", "1", root});
    const ChildRun two = BestCheck(runs, {"--jobs", "2", root});
    const ChildRun smallRun = BestCheck(1, {"--jobs", "2", small});

    std::printf("reference loop:           %8.3f s  (%zu JPEG files, %zu damaged)\n",
                referenceSeconds, reference.jpegs, reference.errors);
    std::printf("vorn-check --jobs 1:      %8.3f s  ratio %.2f (goal <= 1.10), exit %d\n",
                one.seconds, one.seconds / referenceSeconds, one.status);
    std::printf("vorn-check --jobs 2:      %8.3f s  ratio %.2f (goal < 1.00), exit %d\n",
                two.seconds, two.seconds / referenceSeconds, two.status);
    std::printf("peak memory, 10,000 files:  %6ld KiB\n", smallRun.peakKiB);
    std::printf("peak memory, 100,000 files: %6ld KiB (flat when close to the line above)\n",
                two.peakKiB);
    return 0;
}
