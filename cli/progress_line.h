#pragma once
// The text of the progress line vorn-check keeps on a terminal during a run.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorn::cli {

struct ProgressCounts {
    std::size_t checked = 0; // files reported so far, remembered ones too
    std::size_t failed = 0;
    std::size_t remembered = 0;
    std::uint64_t bytesRead = 0;
    // The files the whole run reports, once that is known, or as a guess.
    std::optional<std::size_t> total;
    bool totalGuessed = false; // the total is what a state remembers of the named folders
};

// "checked 120 of 400, failed 2, remembered 10, 60 files/s, 12.5 MB/s, 4 s left" after `seconds`
// of the run. Without a total, or before anything was checked, no "of" and no time left. A
// guessed total reads "of about 400" and "about 4 s left", and is left out once the run has
// checked as many files.
std::string ProgressText(const ProgressCounts& counts, double seconds);

struct FilesToReport {
    std::size_t count = 0;
    bool guessed = false;
};

// How many files a run over `paths` (sorted) reports, when that is known before the walk: when
// none of them is a folder, one report per JPEG name that names something. A folder's files are
// known only as a guess, from `filesLastTime` (what a state remembers below the folder, with
// its trailing delimiter: 0 when nothing); without one, or with nothing remembered, or when
// `stop` turns true on the way (it is asked before each path's look-up), nothing.
std::optional<FilesToReport>
FilesNamed(const std::vector<std::string>& paths, const std::function<bool()>& stop,
           const std::function<std::size_t(const std::string&)>& filesLastTime = {});

} // namespace vorn::cli
