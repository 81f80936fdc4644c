// The benchmarks' reference and plumbing: every contender is judged against these, so a fault
// here would make every figure wrong.

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "bench/bench_tree.h"
#include "bench/child_run.h"
#include "bench/latency_mount.h"

namespace {

using namespace vorn::bench;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

TEST(BenchTree, TheLoopTheListAndTheParallelCheckCountTheTreeAlike) {
    BenchOptions options;
    std::string root;
    {
        const TreeFolder folder(options);
        root = options.tree + "/tree";
        const TreeCounts made = MakeBenchTree(root, 2, 1000);
        EXPECT_EQ(ReferenceLoop(root), made);
        const std::vector<std::string> files = ListJpegFiles(root);
        EXPECT_EQ(files.size(), made.jpegs);
        for (const int threads : {1, 7, 64}) {
            EXPECT_EQ(CheckInParallel(files, threads), made.errors) << threads << " threads";
        }
        // Through the latency mount, whose folder listings span several reads of the kernel.
        const LatencyMount mount(root, {.delayUs = 0, .threads = 4});
        if (mount.Mounted()) {
            EXPECT_EQ(ReferenceLoop(mount.Path()), made);
        }
    }
    EXPECT_FALSE(Exists(root)) << "a temporary tree is left behind";
}

TEST(BenchOptions, TakesItsOwnAndTheBenchmarksOptions) {
    struct Row {
        std::vector<std::string> args;
        bool usageError;
        int runs;
        bool flag;
        std::string value;
    };
    const std::vector<Row> rows = {
        {{}, false, 3, false, ""},
        {{"--runs", "5", "--flag", "--value", "x"}, false, 5, true, "x"},
        {{"--runs", "0"}, true, 0, false, ""},
        {{"--runs"}, true, 0, false, ""},
        {{"--other", "1"}, true, 0, false, ""},
    };
    for (const Row& row : rows) {
        std::vector<char*> argv{const_cast<char*>("bench")};
        for (const std::string& arg : row.args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        bool flag = false;
        std::string value;
        const ExtraOptions extra{.flags = {{"--flag", &flag}}, .values = {{"--value", &value}}};
        if (row.usageError) {
            EXPECT_THROW(ParseBenchOptions(int(argv.size()), argv.data(), extra), UsageError);
            continue;
        }
        const BenchOptions options = ParseBenchOptions(int(argv.size()), argv.data(), extra);
        EXPECT_EQ(options.runs, row.runs);
        EXPECT_EQ(flag, row.flag);
        EXPECT_EQ(value, row.value);
    }
}

TEST(BenchMain, GivesTheBodysStatusOrTwoForUsageOrOneForAFailure) {
    EXPECT_EQ(BenchMain("t", "t", [] { return 5; }), 5);
    EXPECT_EQ(BenchMain("t", "t", []() -> int { throw UsageError(); }), 2);
    EXPECT_EQ(BenchMain("t", "t", []() -> int { throw std::runtime_error("no"); }), 1);
}

TEST(Median, MiddleValueOrMeanOfTheMiddleTwo) {
    EXPECT_EQ(Median({}), 0);
    EXPECT_EQ(Median({3, 1, 2}), 2);
    EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
}

TEST(ChildRun, StatusAndOutput) {
    const ChildRun run = RunChild({"/bin/sh", "-c", "printf 'a\\nb'; exit 3"}, true);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.output, "a\nb");
    EXPECT_EQ(RunChild({"/bin/sh", "-c", "kill -9 $$"}).status, -1);
    EXPECT_THROW(RunChild({"/nonexistent/program"}), std::runtime_error);
}

} // namespace
