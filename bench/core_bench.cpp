// Times the core's walk and check of a large tree against a plain loop of system calls doing the
// same job, warm cache, and prints the figures. Goal: the core takes at most 1.3 times as long.
//
//   vorn_core_bench [--tree DIR] [--folders N] [--files N] [--runs N]
//
// With --tree the tree is made in DIR once and reused by later runs; without it, it is made in
// a temporary folder and removed at the end.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench/bench_tree.h"
#include "core/check/marker_check.h"
#include "core/paths/icu_functions.h"
#include "core/paths/listed_paths.h"
#include "core/paths/path_order.h"
#include "core/walk/walk_engine.h"

namespace {

using vorn::bench::Clock;
using vorn::bench::MillisecondsSince;
using vorn::bench::TreeCounts;

// The program's walk and check, through the walk engine the window and vorn-check use: every
// path in list order; a folder's entries listed, sorted in path order and walked depth first;
// a file that is not listed yet and has a JPEG extension becomes a row; then every row is
// checked. With `checkAsFound` each file is checked by the engine as it is found instead, as
// vorn-check does.
class CoreRun : public vorn::WalkEngine::Visitor {
public:
    CoreRun(const vorn::PathCollator& collator, bool checkAsFound)
        : m_checkAsFound(checkAsFound) {
        m_options.collator = &collator;
        if (checkAsFound) {
            m_options.check = [](const std::string& path, vorn::FileResult& result) {
                // The engine checks only what it saw as a regular file, as vorn-check does.
                vorn::MarkerCheckOptions checkOptions;
                checkOptions.knownRegularFile = true;
                result.verdict = vorn::CheckMarkers(path, checkOptions);
            };
        }
    }

    TreeCounts Run(const std::string& root) {
        m_counts = {};
        m_listed.Clear();
        m_rows.clear();
        m_handled = 0;
        m_lists = 0;

        const Clock::time_point walkStart = Clock::now();
        vorn::WalkEngine(m_options).Walk({root}, *this);
        m_walkMs = MillisecondsSince(walkStart);
        // In this tree every folder has entries, so each list but the caller's is a folder.
        m_counts.files = m_handled - (m_lists - 1);

        const Clock::time_point checkStart = Clock::now();
        m_counts.jpegs += m_rows.size();
        for (const std::string& row : m_rows) {
            if (vorn::CheckMarkers(row) != vorn::MarkerVerdict::Normal) {
                ++m_counts.errors;
            }
        }
        m_checkMs = MillisecondsSince(checkStart);
        return m_counts;
    }

    double WalkMs() const { return m_walkMs; }
    double CheckMs() const { return m_checkMs; }

    bool IsListed(const std::string& path) override { return m_listed.Contains(path); }
    void Take(const std::string& path, vorn::FileResult&& result) override {
        m_listed.Insert(path);
        if (m_checkAsFound) {
            ++m_counts.jpegs;
            m_counts.errors += result.verdict != vorn::MarkerVerdict::Normal;
            return;
        }
        m_rows.push_back(path);
    }
    void ListStarted(std::size_t) override { ++m_lists; }
    void PathHandled(const std::string&) override { ++m_handled; }

private:
    vorn::WalkEngine::Options m_options;
    bool m_checkAsFound;
    vorn::ListedPaths m_listed;
    std::vector<std::string> m_rows;
    std::size_t m_handled = 0;
    std::size_t m_lists = 0;
    TreeCounts m_counts;
    double m_walkMs = 0;
    double m_checkMs = 0;
};

void PrintCounts(const char* label, const TreeCounts& counts) {
    std::printf("  %-10s files %zu, JPEG %zu, errors %zu\n", label, counts.files, counts.jpegs,
                counts.errors);
}

int Main(int argc, char** argv) {
    vorn::bench::BenchOptions options = vorn::bench::ParseBenchOptions(argc, argv);
    const vorn::bench::TreeFolder folder(options);

    Clock::time_point start = Clock::now();
    const TreeCounts made =
        vorn::bench::MakeBenchTree(options.tree, options.folders, options.files);
    std::printf("tree: %s, %d folders of %d files, ready in %.0f ms\n", options.tree.c_str(),
                options.folders, options.files, MillisecondsSince(start));

    start = Clock::now();
    const vorn::PathCollator& collator = vorn::DefaultPathCollator();
    std::printf("path order: locale \"%s\", collator made in %.1f ms\n",
                vorn::Icu().uloc_getDefault(), MillisecondsSince(start));

    // Warm-up: one untimed pass of each fills the caches.
    CoreRun core(collator, false);
    CoreRun coreAsFound(collator, true);
    TreeCounts reference = vorn::bench::ReferenceLoop(options.tree);
    TreeCounts ours = core.Run(options.tree);
    TreeCounts oursAsFound = coreAsFound.Run(options.tree);

    double bestReference = 1e300;
    double bestCore = 1e300;
    double bestAsFound = 1e300;
    double coreWalk = 0;
    double coreCheck = 0;
    for (int run = 0; run < options.runs; ++run) {
        start = Clock::now();
        reference = vorn::bench::ReferenceLoop(options.tree);
        bestReference = std::min(bestReference, MillisecondsSince(start));

        start = Clock::now();
        oursAsFound = coreAsFound.Run(options.tree);
        bestAsFound = std::min(bestAsFound, MillisecondsSince(start));

        start = Clock::now();
        ours = core.Run(options.tree);
        const double elapsed = MillisecondsSince(start);
        if (elapsed < bestCore) {
            bestCore = elapsed;
            coreWalk = core.WalkMs();
            coreCheck = core.CheckMs();
        }
    }

    std::printf("reference loop (opendir/readdir/stat; open/read/lseek/read/close): "
                "best of %d %.1f ms\n",
                options.runs, bestReference);
    std::printf("core, each file checked as found: best of %d %.1f ms\n", options.runs,
                bestAsFound);
    std::printf("core, walk then check row by row: best of %d %.1f ms (walk %.1f ms, sorting on "
                "the I/O threads; check %.1f ms)\n",
                options.runs, bestCore, coreWalk, coreCheck);
    std::printf("counts:\n");
    PrintCounts("tree", made);
    PrintCounts("reference", reference);
    PrintCounts("core", ours);
    PrintCounts("as found", oursAsFound);
    const bool agree = reference == ours && ours == made && oursAsFound == made;
    std::printf("counts agree: %s\n", agree ? "yes" : "NO");
    std::printf("ratio core checked as found / reference: %.2f (goal <= 1.30)\n",
                bestAsFound / bestReference);
    std::printf("ratio core walk then check / reference: %.2f\n", bestCore / bestReference);
    return agree ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    return vorn::bench::BenchMain(
        "vorn_core_bench", "vorn_core_bench [--tree DIR] [--folders N] [--files N] [--runs N]",
        [&] { return Main(argc, argv); });
}
