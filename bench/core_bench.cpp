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
#include <unicode/uloc.h>
#include <vector>

#include "bench/bench_tree.h"
#include "core/file_system.h"
#include "core/listed_paths.h"
#include "core/marker_check.h"
#include "core/path_order.h"
#include "core/path_rules.h"

namespace {

using vorn::bench::Clock;
using vorn::bench::MillisecondsSince;
using vorn::bench::TreeCounts;

// The program's walk and check: every path in list order; a folder's entries listed, sorted in
// path order and walked depth first; a file that is not listed yet and has a JPEG extension
// becomes a row; then every row is checked. With `checkAsFound` each file is checked the moment
// it is found instead, as vorn-check does and as the reference loop does: the second pass of
// the window's way finds the file system's caches for the first files cold again, which costs
// more than all of the core's own work.
class CoreRun {
public:
    CoreRun(const vorn::PathCollator& collator, bool checkAsFound)
        : m_collator(collator)
        , m_checkAsFound(checkAsFound) {}

    TreeCounts Run(const std::string& root) {
        m_counts = {};
        m_listed.Clear();
        m_rows.clear();
        m_sortMs = 0;

        const Clock::time_point walkStart = Clock::now();
        AddFiles({root});
        m_walkMs = MillisecondsSince(walkStart);

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
    double SortMs() const { return m_sortMs; }
    double CheckMs() const { return m_checkMs; }

private:
    void AddFiles(const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            AddPath(path);
        }
    }

    void AddPath(const std::string& path) {
        if (path.empty() || m_listed.Contains(path)) {
            return;
        }
        const vorn::PathFacts facts = vorn::ExaminePath(path);
        if (facts.folder) {
            AddFolder(path, *facts.folder);
            return;
        }
        ++m_counts.files; // in this tree, whatever is not a folder is a file
        if (!facts.exists || !vorn::HasJpegExtension(path)) {
            return;
        }
        m_listed.Insert(path);
        if (m_checkAsFound) {
            ++m_counts.jpegs;
            m_counts.errors += vorn::CheckMarkers(path) != vorn::MarkerVerdict::Normal;
            return;
        }
        m_rows.push_back(path);
    }

    void AddFolder(const std::string& path, const vorn::FolderIdentity& identity) {
        if (std::find(m_inside.begin(), m_inside.end(), identity) != m_inside.end()) {
            return;
        }
        m_inside.push_back(identity);
        const std::string folder = vorn::WithTrailingDelimiter(path);
        const std::vector<std::string> names = vorn::ListFolder(folder);
        std::vector<std::string> entries;
        entries.reserve(names.size());
        for (const std::string& name : names) {
            entries.push_back(folder + name);
        }
        const Clock::time_point sortStart = Clock::now();
        vorn::SortPaths(entries, m_collator);
        m_sortMs += MillisecondsSince(sortStart);
        AddFiles(entries);
        m_inside.pop_back();
    }

    const vorn::PathCollator& m_collator;
    bool m_checkAsFound;
    vorn::ListedPaths m_listed;
    std::vector<std::string> m_rows;
    std::vector<vorn::FolderIdentity> m_inside;
    TreeCounts m_counts;
    double m_walkMs = 0;
    double m_sortMs = 0;
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
    std::printf("path order: locale \"%s\", collator made in %.1f ms\n", uloc_getDefault(),
                MillisecondsSince(start));

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
    double coreSort = 0;
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
            coreSort = core.SortMs();
            coreCheck = core.CheckMs();
        }
    }

    std::printf("reference loop (opendir/readdir/stat; open/read/lseek/read/close): "
                "best of %d %.1f ms\n",
                options.runs, bestReference);
    std::printf("core, each file checked as found: best of %d %.1f ms\n", options.runs,
                bestAsFound);
    std::printf("core, walk then check (the window's way): best of %d %.1f ms (walk %.1f ms, of "
                "it sorting %.1f ms; check %.1f ms)\n",
                options.runs, bestCore, coreWalk, coreSort, coreCheck);
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
