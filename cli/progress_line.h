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
    // The files the whole run reports, once that is known.
    std::optional<std::size_t> total;
};

// "checked 120 of 400, failed 2, remembered 10, 60 files/s, 12.5 MB/s, 4 s left" after `seconds`
// of the run. Without a total, or before anything was checked, no "of" and no time left.
std::string ProgressText(const ProgressCounts& counts, double seconds);

// How many files a run over `paths` (sorted) reports, when that is known before the walk: when
// none of them is a folder, one report per JPEG name that names something; nothing when one is a
// folder, or when `stop` turns true on the way (it is asked before each path's look-up).
std::optional<std::size_t> FilesNamed(const std::vector<std::string>& paths,
                                      const std::function<bool()>& stop);

} // namespace vorn::cli
