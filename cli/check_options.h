#pragma once
// The command line of vorn-check.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/end_marker_explanation.h"

struct CheckOptions {
    bool errorsOnly = false; // --errors
    bool json = false;       // --json
    bool summary = false;    // --summary
    bool explain = false;    // --explain
    bool help = false;       // --help
    bool version = false;    // --version
    std::size_t jobs = 0;    // --jobs N; 0 until parsed: the number of cores
    // --explain-limit SIZE: the most file data one explanation reads
    std::uint64_t explainLimit = vorn::kDefaultExplanationDataLimit;
    std::vector<std::string> paths;
};

struct OptionsResult {
    std::optional<CheckOptions> options; // empty on a usage error
    std::string error;                   // what was wrong, for the usage message
};

// Parses argv[1..]. Options may stand anywhere; "--" ends them, so a path may begin with "-".
// "-a" and "/a", the window's check switch, are taken and ignored: vorn-check always checks.
OptionsResult ParseCheckOptions(int argc, const char* const* argv);

// The text of --help.
std::string HelpText();
