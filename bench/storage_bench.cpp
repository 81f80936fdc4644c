// The program on real storage: the same trees read warm, cold and through a share with a set
// latency, each figure a ratio against the raw sequential loop (walk and marker check, one
// thread, the simplest correct code) measured in the same run, and next to its goal.
//
//   vorn_storage_bench [--tree DIR] [--folders N] [--files N] [--runs N] [--jobs LIST]
//                      [--floor-threads N] [--delay-us N] [--fs-threads N] [--rows LIST]
//
// The large tree has --folders folders (100) of --files files (1,000), the small one a tenth of
// the folders, the latency tree 5 folders.
// Rows (--rows, comma-separated, all by default): warm (100,000 files, page cache warm), cold
// (the same, the page cache dropped before every measurement; needs root), latency (5 folders of
// 1,000 files behind vorn_latency_fs, a fresh mount for every measurement so that nothing is
// cached; needs /dev/fuse), memory (peak memory of the window and of vorn-check) and start (the
// CPU time of vorn-check on one file) and folders (--folders x 200 folders of one file each,
// 20,000 by default: the window against vorn-check). A row that cannot run here says so and is
// skipped.
// Contenders: the raw loop; vorn-check with its defaults and with each --jobs of LIST (default
// 1,8,32); the window (vorn_bench --single: AddFiles then CheckAll on the offscreen platform);
// and the floor, a plain check of the listed files on --floor-threads threads (default 64).
// Figures are medians of --runs runs (default 3); the contenders take turns within each run.
// With --tree the trees are made in DIR once and reused; without it, in a temporary folder.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/child_run.h"
#include "bench/latency_mount.h"

namespace {

using namespace vorn::bench;

struct Settings {
    std::vector<int> jobs{1, 8, 32};
    int floorThreads = 64;
    LatencySettings latency;
    std::set<std::string> rows{"warm", "folders", "cold", "latency", "memory", "start"};
};

struct Tree {
    std::string root;
    TreeCounts counts;
};

// What one measurement found, beside its time: a contender that loses or miscounts files must
// not pass for fast.
struct Outcome {
    double seconds = 0;
    long peakKiB = 0;
    std::size_t files = 0;
    std::size_t errors = 0;
    double addSeconds = -1; // the window's AddFiles, of `seconds`; the rest is CheckAll
};

// A goal for a contender's median: its time at most `maxRatio` times the loop's, and with
// `floorRatio`, at most that many times the floor's.
struct Goal {
    double maxRatio = 0;
    double floorRatio = 0;
};

struct Contender {
    std::string name;
    std::function<Outcome(const std::string& root)> measure;
    std::optional<Goal> goal;
    std::vector<Outcome> outcomes;
};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

int PositiveNumber(const std::string& text) {
    const int value = std::atoi(text.c_str());
    if (value < 1) {
        throw UsageError();
    }
    return value;
}

// Empties the page cache, and with it the dentry and inode caches, so that the next reads come
// from the disk. Empty text when done, else why not.
std::string DropCaches() {
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::write(fd, "3\n", 2) != 2) {
        const std::string reason = std::string("/proc/sys/vm/drop_caches: ") + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return reason;
    }
    ::close(fd);
    return {};
}

Outcome RawLoop(const std::string& root) {
    const Clock::time_point start = Clock::now();
    const TreeCounts counts = ReferenceLoop(root);
    return {SecondsSince(start), 0, counts.jpegs, counts.errors};
}

// vorn-check's report, one line per file, is read through a pipe and counted, as a file would
// take it.
Outcome VornCheck(const std::vector<std::string>& options, const std::string& root,
                  bool ownPeak = false) {
    std::vector<std::string> args{VORN_CHECK_EXE};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(root);
    const ChildRun run = RunChild(args, true, ownPeak);
    if (run.status != 0 && run.status != 1) {
        throw std::runtime_error("vorn-check ended with status " + std::to_string(run.status));
    }
    Outcome outcome{run.seconds, run.peakKiB, 0, 0};
    std::istringstream report(run.output);
    std::string line;
    while (std::getline(report, line)) {
        ++outcome.files;
        outcome.errors += line.rfind("OK\t", 0) != 0;
    }
    return outcome;
}

#ifdef VORN_BENCH_EXE
// The window's own figures (AddFiles plus CheckAll), without the start of the process.
Outcome Window(const std::string& root, bool ownPeak = false) {
    const ChildRun run = RunChild({VORN_BENCH_EXE, "--single", "--tree", root}, true, ownPeak);
    double addMs = 0;
    double checkMs = 0;
    Outcome outcome;
    if (run.status != 0 || std::sscanf(run.output.c_str(), "window %lf %lf %zu %zu", &addMs,
                                       &checkMs, &outcome.files, &outcome.errors) != 4) {
        throw std::runtime_error("vorn_bench --single failed: " + run.output);
    }
    outcome.seconds = (addMs + checkMs) / 1000;
    outcome.addSeconds = addMs / 1000;
    outcome.peakKiB = run.peakKiB;
    return outcome;
}
#endif

// The floor: the files listed first, untimed, then checked on many threads.
Outcome Floor(const std::string& root, int threads) {
    const std::vector<std::string> files = ListJpegFiles(root);
    const Clock::time_point start = Clock::now();
    const std::size_t errors = CheckInParallel(files, threads);
    return {SecondsSince(start), 0, files.size(), errors};
}

std::vector<Contender> Contenders(const Settings& settings) {
    std::vector<Contender> contenders;
    contenders.push_back({"raw sequential loop", RawLoop, std::nullopt, {}});
    contenders.push_back({"vorn-check (defaults)",
                          [](const std::string& root) { return VornCheck({}, root); },
                          std::nullopt,
                          {}});
    for (const int jobs : settings.jobs) {
        const std::vector<std::string> options{"--jobs", std::to_string(jobs)};
        contenders.push_back(
            {"vorn-check --jobs " + std::to_string(jobs),
             [options](const std::string& root) { return VornCheck(options, root); },
             std::nullopt,
             {}});
    }
#ifdef VORN_BENCH_EXE
    contenders.push_back({"window (AddFiles + CheckAll)",
                          [](const std::string& root) { return Window(root); },
                          std::nullopt,
                          {}});
#endif
    const int threads = settings.floorThreads;
    contenders.push_back({"floor: " + std::to_string(threads) + "-thread check of the listed files",
                          [threads](const std::string& root) { return Floor(root, threads); },
                          std::nullopt,
                          {}});
    return contenders;
}

void SetGoal(std::vector<Contender>& contenders, const std::string& prefix, Goal goal) {
    for (Contender& contender : contenders) {
        if (contender.name.rfind(prefix, 0) == 0) {
            contender.goal = goal;
        }
    }
}

double MedianSeconds(const Contender& contender) {
    std::vector<double> seconds;
    for (const Outcome& outcome : contender.outcomes) {
        seconds.push_back(outcome.seconds);
    }
    return Median(seconds);
}

// How far the runs lie apart: (slowest - fastest) / median, in percent.
double SpreadPercent(const Contender& contender) {
    const auto [fastest, slowest] = std::minmax_element(
        contender.outcomes.begin(), contender.outcomes.end(),
        [](const Outcome& a, const Outcome& b) { return a.seconds < b.seconds; });
    return 100 * (slowest->seconds - fastest->seconds) / MedianSeconds(contender);
}

// The system's load average over the last minute: other work on the machine skews every figure.
std::string LoadAverage() {
    char text[64] = {};
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%63s", text) != 1) {
            text[0] = '\0';
        }
        std::fclose(file);
    }
    return text[0] != '\0' ? text : "unknown";
}

// Runs every contender `runs` times, taking turns, each on the tree as `prepare` serves it
// afresh (it returns the root to measure, and keeps whatever serves it alive in `keep`), then
// prints the medians against the loop, the floor and the goals.
void RunRow(const std::string& title, int runs, const Tree& tree, std::vector<Contender> contenders,
            const std::function<std::string(std::optional<LatencyMount>& keep)>& prepare) {
    std::printf("\n%s: %zu JPEG files (%zu damaged), median of %d runs; load average %s",
                title.c_str(), tree.counts.jpegs, tree.counts.errors, runs, LoadAverage().c_str());
    std::fflush(stdout);
    for (int run = 0; run < runs; ++run) {
        for (Contender& contender : contenders) {
            std::optional<LatencyMount> keep;
            const std::string root = prepare(keep);
            contender.outcomes.push_back(contender.measure(root));
        }
    }
    std::printf(" (%s at the end)\n", LoadAverage().c_str());
    const double loop = MedianSeconds(contenders.front());
    const double floor = MedianSeconds(contenders.back());
    std::printf("  %-46s %8s %7s %7s %8s %8s\n", "", "seconds", "spread", "x loop", "speed-up",
                "x floor");
    for (const Contender& contender : contenders) {
        const double seconds = MedianSeconds(contender);
        std::printf("  %-46s %8.3f %6.0f%% %7.2f %7.1fx %8.2f", contender.name.c_str(), seconds,
                    SpreadPercent(contender), seconds / loop, loop / seconds, seconds / floor);
        if (contender.goal) {
            const Goal goal = *contender.goal;
            const bool met = seconds <= goal.maxRatio * loop &&
                             (goal.floorRatio == 0 || seconds <= goal.floorRatio * floor);
            std::printf("   goal <= %.2f x loop", goal.maxRatio);
            if (goal.floorRatio != 0) {
                std::printf(" and <= %.1f x floor", goal.floorRatio);
            }
            std::printf(": %s", met ? "met" : "MISSED");
        }
        if (contender.outcomes.front().addSeconds >= 0) {
            std::vector<double> adding;
            for (const Outcome& outcome : contender.outcomes) {
                adding.push_back(outcome.addSeconds);
            }
            const double add = Median(adding);
            std::printf("   (AddFiles %.3f s + CheckAll %.3f s)", add, seconds - add);
        }
        for (const Outcome& outcome : contender.outcomes) {
            if (outcome.files != tree.counts.jpegs || outcome.errors != tree.counts.errors) {
                std::printf("   WRONG COUNT: %zu files, %zu damaged", outcome.files,
                            outcome.errors);
                break;
            }
        }
        std::printf("\n");
    }
    std::fflush(stdout);
}

std::string Warm(const Tree& tree, std::optional<LatencyMount>&) {
    return tree.root;
}

void MemoryRow(const Tree& large, const Tree& small) {
    std::printf("\nmemory (page cache warm)\n");
#ifdef VORN_BENCH_EXE
    const Outcome window = Window(large.root, true);
    std::printf("  window, %zu rows: peak %.1f MB   goal <= 100 MB: %s\n", window.files,
                double(window.peakKiB) / 1024, window.peakKiB <= 100 * 1024 ? "met" : "MISSED");
#endif
    const Outcome few = VornCheck({}, small.root, true);
    const Outcome many = VornCheck({}, large.root, true);
    // Flat: ten times the files may cost a tenth more, for the report's buffers and the like.
    const bool flat = double(many.peakKiB) <= 1.1 * double(few.peakKiB);
    std::printf("  vorn-check (defaults), %zu files: peak %.1f MB\n", few.files,
                double(few.peakKiB) / 1024);
    std::printf("  vorn-check (defaults), %zu files: peak %.1f MB   goal flat in the tree size "
                "(<= 1.1 x the above): %s\n",
                many.files, double(many.peakKiB) / 1024, flat ? "met" : "MISSED");
}

#ifdef VORN_BENCH_EXE
// Many small folders: the window's cost per folder (a lock, an unlock, a status bar refresh for
// every folder's call) against vorn-check on the same tree, as processor time and wall time of
// the whole process, medians of `runs`, taking turns. Beside them the dialog's cycles alone
// (vorn_bench --dialog-cycles, one per folder): the progress dialog shown and closed at every
// folder is what the window must pay whatever else it spares, so the goal cannot be met where
// that alone takes most of it.
void FoldersRow(const Tree& tree, int folders, int runs) {
    std::vector<double> windowCpu, windowWall, checkCpu, checkWall, cyclesCpu;
    const std::string cycles = std::to_string(folders);
    for (int run = 0; run < runs; ++run) {
        const ChildRun window = RunChild({VORN_BENCH_EXE, "--single", "--tree", tree.root}, true);
        if (window.status != 0) {
            throw std::runtime_error("vorn_bench --single failed: " + window.output);
        }
        windowCpu.push_back(window.cpuSeconds);
        windowWall.push_back(window.seconds);
        const ChildRun check = RunChild({VORN_CHECK_EXE, tree.root}, true);
        checkCpu.push_back(check.cpuSeconds);
        checkWall.push_back(check.seconds);
        const ChildRun dialog = RunChild({VORN_BENCH_EXE, "--dialog-cycles", cycles}, true);
        if (dialog.status != 0) {
            throw std::runtime_error("vorn_bench --dialog-cycles failed: " + dialog.output);
        }
        cyclesCpu.push_back(dialog.cpuSeconds);
    }
    const double cpuRatio = Median(windowCpu) / Median(checkCpu);
    std::printf("\nfolders: %d folders of one file, median of %d runs; load average %s\n", folders,
                runs, LoadAverage().c_str());
    std::printf("  vorn-check: %.3f s CPU (%.3f s wall); window (whole process): %.3f s CPU "
                "(%.3f s wall)\n",
                Median(checkCpu), Median(checkWall), Median(windowCpu), Median(windowWall));
    std::printf("  window / vorn-check: %.2f x CPU, %.2f x wall   goal <= 2 x CPU: %s\n", cpuRatio,
                Median(windowWall) / Median(checkWall), cpuRatio <= 2 ? "met" : "MISSED");
    std::printf("  the dialog's %d cycles alone / vorn-check: %.2f x CPU\n", folders,
                Median(cyclesCpu) / Median(checkCpu));
}
#endif

void StartRow(const Tree& small, int runs) {
    const std::vector<std::string> files = ListJpegFiles(small.root);
    std::vector<double> cpu;
    std::vector<double> wall;
    for (int run = 0; run < std::max(runs, 11); ++run) {
        const ChildRun child = RunChild({VORN_CHECK_EXE, files.front()});
        cpu.push_back(child.cpuSeconds * 1000);
        wall.push_back(child.seconds * 1000);
    }
    const double median = Median(cpu);
    std::printf("\nstart: vorn-check on one file, median of %zu runs: %.2f ms CPU (%.2f ms wall)   "
                "goal <= 2 ms CPU: %s\n",
                cpu.size(), median, Median(wall), median <= 2 ? "met" : "MISSED");
}

int Main(int argc, char** argv) {
    // The offscreen platform's notes on what it cannot do would fill the table's lines.
    ::setenv("QT_LOGGING_RULES", "*.warning=false", 0);
    Settings settings;
    std::string jobs, floorThreads, delayUs, fsThreads, rows;
    BenchOptions options = ParseBenchOptions(argc, argv,
                                             {.flags = {},
                                              .values = {{"--jobs", &jobs},
                                                         {"--floor-threads", &floorThreads},
                                                         {"--delay-us", &delayUs},
                                                         {"--fs-threads", &fsThreads},
                                                         {"--rows", &rows}}});
    if (!jobs.empty()) {
        settings.jobs.clear();
        for (const std::string& part : Split(jobs)) {
            settings.jobs.push_back(PositiveNumber(part));
        }
    }
    if (!floorThreads.empty()) {
        settings.floorThreads = PositiveNumber(floorThreads);
    }
    if (!delayUs.empty()) {
        settings.latency.delayUs = std::max(0, std::atoi(delayUs.c_str()));
    }
    if (!fsThreads.empty()) {
        settings.latency.threads = PositiveNumber(fsThreads);
    }
    if (!rows.empty()) {
        const std::vector<std::string> chosen = Split(rows);
        settings.rows = {chosen.begin(), chosen.end()};
    }
    const TreeFolder folder(options);
    const auto make = [&](const char* name, int folders) {
        const std::string root = options.tree + "/" + name;
        return Tree{root, MakeBenchTree(root, folders, options.files)};
    };
    const Tree large = make("large", options.folders);
    const Tree small = make("small", std::max(1, options.folders / 10));
    const Tree remote = make("latency", 5);
    std::printf("trees in %s; %d cores; --jobs %s; floor on %d threads\n", options.tree.c_str(),
                int(::sysconf(_SC_NPROCESSORS_ONLN)), jobs.empty() ? "1,8,32" : jobs.c_str(),
                settings.floorThreads);

    if (settings.rows.count("warm") != 0) {
        ReferenceLoop(large.root); // fills the page cache, untimed
        std::vector<Contender> contenders = Contenders(settings);
        SetGoal(contenders, "vorn-check (defaults)", {0.7, 0});
        SetGoal(contenders, "window", {1.2, 0});
        RunRow("warm", options.runs, large, std::move(contenders),
               [&](std::optional<LatencyMount>& keep) { return Warm(large, keep); });
    }
    // Memory and start-up come right after the warm row, while the page cache is still warm and
    // before the cold and latency rows leave threads waiting on storage that load the machine.
    if (settings.rows.count("memory") != 0) {
        MemoryRow(large, small);
    }
    if (settings.rows.count("start") != 0) {
        StartRow(small, options.runs);
    }
#ifdef VORN_BENCH_EXE
    if (settings.rows.count("folders") != 0) {
        const std::string root = options.tree + "/folders";
        const int folders = options.folders * 200;
        FoldersRow(Tree{root, MakeBenchTree(root, folders, 1)}, folders, options.runs);
    }
#endif
    if (settings.rows.count("cold") != 0) {
        if (const std::string reason = DropCaches(); !reason.empty()) {
            std::printf("\ncold: skipped, the page cache cannot be dropped here (%s)\n",
                        reason.c_str());
        } else {
            std::vector<Contender> contenders = Contenders(settings);
            SetGoal(contenders, "vorn-check (defaults)", {1.0 / 3, 0});
            SetGoal(contenders, "window", {1.0 / 3, 0});
            RunRow("cold (page cache dropped before each)", options.runs, large,
                   std::move(contenders), [&](std::optional<LatencyMount>&) {
                       if (const std::string failure = DropCaches(); !failure.empty()) {
                           throw std::runtime_error(failure);
                       }
                       return large.root;
                   });
        }
    }
    if (settings.rows.count("latency") != 0) {
        const LatencyMount probe(remote.root, settings.latency);
        if (!probe.Mounted()) {
            std::printf("\nlatency: skipped, no latency mount here (%s)\n", probe.Reason().c_str());
        } else {
            std::vector<Contender> contenders = Contenders(settings);
            SetGoal(contenders, "vorn-check (defaults)", {1.0 / 8, 1.5});
            SetGoal(contenders, "window", {1.0 / 6, 1.5});
            const std::string title = std::to_string(settings.latency.delayUs) +
                                      " us per request, " +
                                      std::to_string(settings.latency.threads) +
                                      " requests served at once, a fresh mount for each";
            RunRow(title, options.runs, remote, std::move(contenders),
                   [&](std::optional<LatencyMount>& keep) {
                       keep.emplace(remote.root, settings.latency);
                       if (!keep->Mounted()) {
                           throw std::runtime_error("latency mount failed: " + keep->Reason());
                       }
                       return keep->Path();
                   });
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return BenchMain("vorn_storage_bench",
                     "vorn_storage_bench [--tree DIR] [--folders N] [--files N] [--runs N] "
                     "[--jobs LIST] [--floor-threads N] [--delay-us N] [--fs-threads N] "
                     "[--rows warm,folders,cold,latency,memory,start]",
                     [&] { return Main(argc, argv); });
}
