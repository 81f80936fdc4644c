#pragma once
// A tree of many files for the benchmarks, and the plain loop the program's walk is measured
// against. Plain C++ and POSIX; nothing of the program is used, so the reference stays honest.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorn::bench {

struct TreeCounts {
    std::size_t files = 0;  // every entry that is not a folder
    std::size_t jpegs = 0;  // files whose extension is .jpg or .jpeg, in any letter case
    std::size_t errors = 0; // JPEG files without FF D8 at the start or FF D9 at the end
    friend bool operator==(const TreeCounts&, const TreeCounts&) = default;
};

// Makes `folders` folders of `filesPerFolder` files under `root` (created when missing) and
// returns the counts the tree holds. Most files are small sound JPEG files; some miss their
// start or end marker, some are other types, names mix letter case, digits and punctuation.
// A tree made earlier under `root` with the same shape is reused as it is; one of another shape
// is removed and made anew. Throws std::runtime_error when the tree cannot be written, or when
// `root` is a folder that holds files but no benchmark tree.
TreeCounts MakeBenchTree(const std::string& root, int folders, int filesPerFolder);

// Walks `root` recursively with opendir/readdir/stat, and reads the first and the last two
// bytes of each JPEG file with open/read/lseek/read/close: the obvious way to do the job.
TreeCounts ReferenceLoop(const std::string& root);

// The JPEG files of the tree as ReferenceLoop finds them, in its order, unchecked; without a
// stat of each file where the listing tells its type.
std::vector<std::string> ListJpegFiles(const std::string& root);

// Checks `files` as ReferenceLoop does, `threads` at once: the plainest parallel check, the floor
// of what a program can reach on the storage. Returns the number of damaged files.
std::size_t CheckInParallel(const std::vector<std::string>& files, int threads);

// Removes a tree made by MakeBenchTree (every file and folder under `root`, and `root`).
void RemoveTree(const std::string& root);

// ---- Plumbing every benchmark's main shares ----

using Clock = std::chrono::steady_clock;
double MillisecondsSince(Clock::time_point start);
double SecondsSince(Clock::time_point start);
// The middle value (the mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);

// The command line every benchmark takes: --tree DIR --folders N --files N --runs N.
struct BenchOptions {
    std::string tree; // empty: a temporary folder, removed at the end
    int folders = 100;
    int files = 1000;
    int runs = 3;
};
// Options one benchmark takes beyond those: flags (--name) and options with a value.
struct ExtraOptions {
    std::map<std::string, bool*> flags;
    std::map<std::string, std::string*> values;
};

// A command line the benchmark does not take; BenchMain prints the usage for it.
struct UsageError : std::runtime_error {
    UsageError()
        : std::runtime_error("usage") {}
};

// Throws UsageError on an unknown option, a missing value or a count below one.
BenchOptions ParseBenchOptions(int argc, char** argv, const ExtraOptions& extra = {});

// The folder of the tree for one run: `options.tree` (made when missing), or a new temporary folder
// (then options.tree names it) that is removed with everything in it when this goes, also when the
// benchmark ends with an exception. Throws std::runtime_error when none can be made.
class TreeFolder {
public:
    explicit TreeFolder(BenchOptions& options);
    ~TreeFolder();
    TreeFolder(const TreeFolder&) = delete;
    TreeFolder& operator=(const TreeFolder&) = delete;

private:
    std::string m_temporary;
};

// The body of every benchmark's main: runs `body` and gives its status; a UsageError prints
// "usage: " and `usage` and gives 2; any other exception prints `name` and what went wrong and
// gives 1, after the body's objects have cleaned up (trees removed, mounts unmounted).
int BenchMain(const char* name, const char* usage, const std::function<int()>& body);

} // namespace vorn::bench
