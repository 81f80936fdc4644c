// vorn-check with a state of earlier runs, on the benchmark tree and warm, each figure a ratio
// against the raw sequential loop of the same run: a first --deep --state run against --deep
// alone, a second run (nothing changed) against the marker check alone, a recheck with one file
// rotted, the state's size per file, and the second run's peak memory on a tenth of the tree and
// on the whole.
//
// Usage: vorn_state_bench [--tree DIR] [--folders N] [--files N] (default: 1000 folders of 100
// files under the temporary folder, kept; the peak memory's small tree has a tenth the folders)

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

// The peak memory of a second run with a state over `root`.
long SecondRunPeak(const std::string& root) {
    const std::string state = root + ".peak.state";
    fs::remove(state);
    Check({"--state", state}, root);
    return Check({"--state", state}, root, true).peakKiB;
}

} // namespace

int main(int argc, char** argv) {
    std::string base = (fs::temp_directory_path() / "vorn_state_bench").string();
    int folders = 1000;
    int files = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--tree") {
            base = argv[i + 1];
        } else if (name == "--folders") {
            folders = std::max(1, std::atoi(argv[i + 1]));
        } else if (name == "--files") {
            files = std::max(1, std::atoi(argv[i + 1]));
        } else {
            std::fputs("usage: vorn_state_bench [--tree DIR] [--folders N] [--files N]\n", stderr);
            return 2;
        }
    }
    fs::create_directories(base);
    const std::string root = base + "/tree";
    const vorn::bench::TreeCounts counts = vorn::bench::MakeBenchTree(root, folders, files);
    std::printf("tree: %zu JPEG files\n", counts.jpegs);
    const std::string state = base + "/tree.state";
    fs::remove(state);

    vorn::bench::ReferenceLoop(root); // warms the caches
    const auto start = std::chrono::steady_clock::now();
    vorn::bench::ReferenceLoop(root);
    const double loop =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double deep = Check({"--deep"}, root).seconds;
    const double markers = Check({}, root).seconds;
    const double first = Check({"--deep", "--state", state}, root).seconds;
    const ChildRun second = Check({"--deep", "--json", "--state", state}, root);
    const std::size_t remembered = Count(second.output, "\"remembered\":true");

    std::printf("raw sequential loop            %.3f s = 1.00\n", loop);
    std::printf("--deep                         %.2f × loop\n", deep / loop);
    std::printf("--deep --state, first run      %.2f × loop = %.2f × --deep (goal <= 1.1)\n",
                first / loop, first / deep);
    std::printf("marker check                   %.2f × loop\n", markers / loop);
    std::printf("--deep --state, second run     %.2f × loop = %.2f × marker check (goal <= 1.0), "
                "%zu of %zu remembered\n",
                second.seconds / loop, second.seconds / markers, remembered, counts.jpegs);

    // A sound file of the tree, rotted: the recheck finds it and nothing else.
    const std::string firstLine = second.output.substr(0, second.output.find('\n'));
    const std::size_t at = firstLine.find("\"path\":\"") + 8;
    const std::string rotted = firstLine.substr(at, firstLine.find('"', at) - at);
    Rot(rotted);
    const ChildRun recheck =
        Check({"--deep", "--json", "--state", state, "--recheck-after", "0d"}, root);
    std::printf("--recheck-after 0d, one rotted %.2f × loop, %zu changed on disk (goal 1)\n",
                recheck.seconds / loop, Count(recheck.output, "changed on disk"));

    const std::uintmax_t bytes = fs::file_size(state);
    std::size_t pathBytes = 0;
    for (std::size_t from = 0;
         (from = second.output.find("\"path\":\"", from)) != std::string::npos;) {
        from += 8;
        pathBytes += second.output.find('"', from) - from;
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
