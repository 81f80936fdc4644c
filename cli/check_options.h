#pragma once
// The command line of vorn-check.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/check/end_marker_explanation.h"

namespace vorn::cli {

struct CheckOptions {
    bool errorsOnly = false;    // --errors
    bool json = false;          // --json
    bool summary = false;       // --summary
    bool explain = false;       // --explain
    bool deep = false;          // --deep
    bool help = false;          // --help
    bool version = false;       // --version
    std::size_t jobs = 0;       // --jobs N; 0 until parsed: the engine's default
    std::string filesFrom;      // --files-from FILE: "-" is standard input
    bool nullSeparated = false; // -0, --null: FILE's names end with NUL, not a line break
    // --explain-limit SIZE: the most file data one explanation reads
    std::uint64_t explainLimit = vorn::kDefaultExplanationDataLimit;
    // --memory SIZE: what the picture checks in flight may hold together; 0: the machine's
    // default (vorn::DefaultMemoryBudget)
    std::uint64_t memory = 0;
    // --progress, --no-progress: a progress line on standard error; by default when it is a
    // terminal
    std::optional<bool> progress;
    std::string quarantine; // --quarantine DIR: failed files are moved there
    bool dryRun = false;    // --dry-run: what --quarantine would move is reported, not moved
    std::string state;      // --state FILE: the results of earlier runs, kept and reused
    // --recheck-after DURATION: remembered results older than this many seconds are checked again
    std::optional<std::int64_t> recheckAfter;
    std::vector<std::string> paths;
};

struct OptionsResult {
    std::optional<CheckOptions> options; // empty on a usage error
    std::string error;                   // what was wrong, for the usage message
};

// Parses argv[1..]. Options may stand anywhere; "--" ends them, so a path may begin with "-".
// "-a", the window's check switch, is taken and ignored: vorn-check always checks. Every
// parameter that does not begin with "-" is a path ("/a" names the folder a).
OptionsResult ParseCheckOptions(int argc, const char* const* argv);

// Appends the paths listed in `file` ("-": standard input), each ended by a line break or, with
// `nullSeparated`, a NUL byte; a last name without its end counts too, empty names do not. The
// bytes are kept as they are. False with `error` set when the file cannot be read.
bool ReadPathList(const std::string& file, bool nullSeparated, std::vector<std::string>& paths,
                  std::string& error);

// A byte count as the options take it: "64M" for 64 MiB, "4096" for what is no whole K.
std::string ByteCountText(std::uint64_t bytes);

// The text of --help; its defaults are the constants the run uses.
std::string HelpText();

} // namespace vorn::cli
