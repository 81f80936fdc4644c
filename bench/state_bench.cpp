// vorn-check with a state of earlier runs, on the benchmark tree and warm, each figure a ratio
// against the raw sequential loop of the same run: a first --deep --state run against --deep
// alone, a second run (nothing changed) against the marker check alone, a recheck with one file
// rotted, the state's size per file, and the second run's peak memory on a tenth of the tree and
// on the whole.
//
// Usage: vorn_state_bench [--tree DIR] [--folders N] [--files N] [--runs N] (default: 1000
// folders of 100 files under the temporary folder, kept, and 5 rounds; the peak memory's small
// tree has a tenth the folders)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/child_run.h"

namespace fs = std::filesystem;
using vorn::bench::ChildRun;

namespace {

ChildRun Check(std::vector<std::string> options, const std::string& root, bool ownPeak = false) {
    options.insert(options.begin(), VORN_CHECK_EXE);
    options.push_back(root);
    ChildRun run = vorn::bench::RunChild(options, true, ownPeak);
    if (run.status != 0 && run.status != 1) {
        std::fprintf(stderr, "vorn-check ended with status %d\n", run.status);
    }
    return run;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// Rewrites one byte in the middle of `path`, keeping its size and modification time.
void Rot(const std::string& path) {
    struct stat before {};
    ::stat(path.c_str(), &before);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(before.st_size / 2);
    const char byte = static_cast<char>(file.get() ^ 0x20);
    file.seekp(before.st_size / 2);
    file.put(byte);
    file.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// The peak memory of a second run with a state over `root`, the median of three.
long SecondRunPeak(const std::string& root) {
    const std::string state = root + ".peak.state";
    fs::remove(state);
    Check({"--state", state}, root);
    std::vector<double> peaks;
    for (int run = 0; run < 3; ++run) {
        peaks.push_back(static_cast<double>(Check({"--state", state}, root, true).peakKiB));
    }
    return static_cast<long>(vorn::bench::Median(peaks));
}

} // namespace

int main(int argc, char** argv) {
    std::string base = (fs::temp_directory_path() / "vorn_state_bench").string();
    int folders = 1000;
    int files = 100;
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--tree") {
            base = argv[i + 1];
        } else if (name == "--folders") {
            folders = std::max(1, std::atoi(argv[i + 1]));
        } else if (name == "--files") {
            files = std::max(1, std::atoi(argv[i + 1]));
        } else if (name == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else {
            std::fputs(
                "usage: vorn_state_bench [--tree DIR] [--folders N] [--files N] [--runs N]\n",
                stderr);
            return 2;
        }
    }
    fs::create_directories(base);
    const std::string root = base + "/tree";
    const vorn::bench::TreeCounts counts = vorn::bench::MakeBenchTree(root, folders, files);
    std::printf("tree: %zu JPEG files\n", counts.jpegs);
    const std::string state = base + "/tree.state";
    fs::remove(state);

    // Each figure is the median of `runs` rounds taken in turn, so that a moment of load on a
    // shared machine moves every contender alike; the processor time beside the wall time. A
    // ratio of two runs is the median of their ratios round by round: on these machines the
    // ratio of two runs in one round ranges from 0.8 to 1.3, and a ratio of medians taken
    // apart moved by a tenth from one call to the next.
    vorn::bench::ReferenceLoop(root); // warms the caches
    std::vector<double> loop, deep, deepCpu, markers, markersCpu, first, firstCpu, second,
        secondCpu;
    ChildRun last;
    for (int round = 0; round < runs; ++round) {
        const auto start = std::chrono::steady_clock::now();
        vorn::bench::ReferenceLoop(root);
        loop.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const ChildRun deepRun = Check({"--deep"}, root);
        deep.push_back(deepRun.seconds);
        deepCpu.push_back(deepRun.cpuSeconds);
        fs::remove(state);
        const ChildRun firstRun = Check({"--deep", "--state", state}, root);
        first.push_back(firstRun.seconds);
        firstCpu.push_back(firstRun.cpuSeconds);
        const ChildRun markerRun = Check({}, root);
        markers.push_back(markerRun.seconds);
        markersCpu.push_back(markerRun.cpuSeconds);
        last = Check({"--deep", "--json", "--state", state}, root);
        second.push_back(last.seconds);
        secondCpu.push_back(last.cpuSeconds);
    }
    const ChildRun& secondRun = last;
    const std::size_t remembered = Count(secondRun.output, "\"remembered\":true");
    using vorn::bench::Median;
    const double loopSeconds = Median(loop);
    const auto pairedRatio = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            ratios.push_back(a[i] / b[i]);
        }
        return Median(ratios);
    };

    std::printf("medians of %d rounds; wall time, and processor time in brackets\n", runs);
    std::printf("raw sequential loop            %.3f s = 1.00\n", loopSeconds);
    std::printf("--deep                         %.2f × loop\n", Median(deep) / loopSeconds);
    std::printf(
        "--deep --state, first run      %.2f × loop = %.2f × --deep (%.2f ×) (goal <= 1.1)\n",
        Median(first) / loopSeconds, pairedRatio(first, deep), pairedRatio(firstCpu, deepCpu));
    std::printf("marker check                   %.2f × loop\n", Median(markers) / loopSeconds);
    std::printf("--deep --state, second run     %.2f × loop = %.2f × marker check (%.2f ×) (goal "
                "<= 1.0), %zu of %zu remembered\n",
                Median(second) / loopSeconds, pairedRatio(second, markers),
                pairedRatio(secondCpu, markersCpu), remembered, counts.jpegs);

    // A sound file of the tree, rotted: the recheck finds it and nothing else.
    const std::string firstLine = secondRun.output.substr(0, secondRun.output.find('\n'));
    const std::size_t at = firstLine.find("\"path\":\"") + 8;
    const std::string rotted = firstLine.substr(at, firstLine.find('"', at) - at);
    Rot(rotted);
    const ChildRun recheck =
        Check({"--deep", "--json", "--state", state, "--recheck-after", "0d"}, root);
    std::printf("--recheck-after 0d, one rotted %.2f × loop, %zu changed on disk (goal 1)\n",
                recheck.seconds / loopSeconds, Count(recheck.output, "changed on disk"));

    const std::uintmax_t bytes = fs::file_size(state);
    std::size_t pathBytes = 0;
    for (std::size_t from = 0;
         (from = secondRun.output.find("\"path\":\"", from)) != std::string::npos;) {
        from += 8;
        pathBytes += secondRun.output.find('"', from) - from;
    }
    std::printf("state size per file            %.1f bytes plus the path (goal <= 100)\n",
                (static_cast<double>(bytes) - static_cast<double>(pathBytes)) /
                    static_cast<double>(counts.jpegs));

    vorn::bench::MakeBenchTree(base + "/small", std::max(1, folders / 10), files);
    const long small = SecondRunPeak(base + "/small");
    const long large = SecondRunPeak(root);
    std::printf("second run peak memory         %.1f MB on a tenth of the tree, %.1f MB on the "
                "whole (%.2f ×, goal flat)\n",
                small / 1024.0, large / 1024.0, static_cast<double>(large) / small);
    return 0;
}
