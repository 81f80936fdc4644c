#pragma once
// A tree of many files for the benchmarks, and the plain loop the program's walk is measured
// against. Plain C++ and POSIX; nothing of the program is used, so the reference stays honest.

#include <cstddef>
#include <string>

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

// The command line every benchmark takes: --tree DIR --folders N --files N --runs N.
struct BenchOptions {
    std::string tree; // empty: a temporary folder, removed at the end
    int folders = 100;
    int files = 1000;
    int runs = 3;
};
// False on anything else, or a count below one.
bool ParseBenchOptions(int argc, char** argv, BenchOptions& options);

// The folder of the tree: `options.tree`, or a new temporary folder (then `temporary` is set and
// options.tree names it). Throws std::runtime_error when none can be made.
void ChooseTreeFolder(BenchOptions& options, bool& temporary);

// Removes a tree made by MakeBenchTree (every file and folder under `root`, and `root`).
void RemoveTree(const std::string& root);

} // namespace vorn::bench
