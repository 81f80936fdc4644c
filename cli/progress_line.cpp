#include "cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/os/file_system.h"
#include "core/paths/path_rules.h"

namespace vorn::cli {

namespace {

// Decimal units, as storage is sold and as file managers show speeds.
std::string BytesPerSecond(double rate) {
    static constexpr const char* kUnits[] = {"B/s", "kB/s", "MB/s", "GB/s", "TB/s"};
    std::size_t unit = 0;
    while (rate >= 1000 && unit + 1 < std::size(kUnits)) {
        rate /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", rate, kUnits[unit]);
    return text;
}

std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    char text[48];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld h %02lld min", whole / 3600, whole % 3600 / 60);
    } else if (whole >= 60) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld s", whole);
    }
    return text;
}

} // namespace

std::string ProgressText(const ProgressCounts& counts, double seconds) {
    const double elapsed = std::max(seconds, 0.0);
    const double filesRate = elapsed > 0 ? static_cast<double>(counts.checked) / elapsed : 0.0;
    std::string text = "checked " + std::to_string(counts.checked);
    // A guess the run has outgrown says nothing more.
    const bool total = counts.total && !(counts.totalGuessed && counts.checked >= *counts.total);
    const std::string about = counts.totalGuessed ? "about " : "";
    if (total) {
        text += " of " + about + std::to_string(std::max(*counts.total, counts.checked));
    }
    char rates[64];
    std::snprintf(rates, sizeof rates, "%.0f files/s", filesRate);
    text += ", failed " + std::to_string(counts.failed) + ", remembered " +
            std::to_string(counts.remembered) + ", " + rates + ", " +
            BytesPerSecond(elapsed > 0 ? static_cast<double>(counts.bytesRead) / elapsed : 0.0);
    // The rate so far stands for the rest: a guess, but one that settles as the run goes on.
    if (total && counts.checked > 0 && filesRate > 0) {
        const std::size_t left =
            *counts.total > counts.checked ? *counts.total - counts.checked : 0;
        text += ", " + about + Duration(static_cast<double>(left) / filesRate) + " left";
    }
    return text;
}

std::optional<FilesToReport>
FilesNamed(const std::vector<std::string>& paths, const std::function<bool()>& stop,
           const std::function<std::size_t(const std::string&)>& filesLastTime) {
    FilesToReport files;
    std::size_t& count = files.count;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (stop()) {
            return std::nullopt;
        }
        // A path named twice is reported once.
        if (i > 0 && paths[i] == paths[i - 1]) {
            continue;
        }
        // The walk reports a named file, link, pipe or device under a JPEG name, and a named
        // path it cannot examine; a folder adds what it holds, unknown before it is walked.
        switch (ExamineEntry(paths[i])) {
        case EntryKind::Folder: {
            const std::size_t below =
                filesLastTime ? filesLastTime(WithTrailingDelimiter(paths[i])) : 0;
            if (below == 0) {
                return std::nullopt;
            }
            count += below;
            files.guessed = true;
            break;
        }
        case EntryKind::Missing:
        case EntryKind::Unknown:
            break;
        case EntryKind::Refused:
            ++count;
            break;
        case EntryKind::File:
        case EntryKind::Special:
        case EntryKind::Dangling:
            count += HasJpegExtension(paths[i]) ? 1 : 0;
            break;
        }
    }
    return files;
}

} // namespace vorn::cli
