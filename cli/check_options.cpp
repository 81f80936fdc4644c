#include "cli/check_options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/walk/walk_engine.h"

namespace vorn::cli {

namespace {

// A whole number of bytes, with K, M or G (powers of 1024) after it if wanted; at least 1.
std::optional<std::uint64_t> ParseByteCount(std::string_view text) {
    std::uint64_t unit = 1;
    if (!text.empty()) {
        const std::string_view units = "KMG";
        if (const std::size_t power = units.find(text.back()); power != std::string_view::npos) {
            unit = std::uint64_t{1} << (10 * (power + 1));
            text.remove_suffix(1);
        }
    }
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || count == 0 ||
        count > UINT64_MAX / unit) {
        return std::nullopt;
    }
    return count * unit;
}

// A whole number of days, hours, minutes or seconds: "90d", "12h", "30m", "0s".
std::optional<std::int64_t> ParseDuration(std::string_view text) {
    if (text.size() < 2) {
        return std::nullopt;
    }
    const std::string_view units = "smhd";
    constexpr std::int64_t kSeconds[] = {1, 60, 3600, 86400};
    const std::size_t unit = units.find(text.back());
    if (unit == std::string_view::npos) {
        return std::nullopt;
    }
    text.remove_suffix(1);
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size() || count < 0 ||
        count > INT64_MAX / kSeconds[unit]) {
        return std::nullopt;
    }
    return count * kSeconds[unit];
}

// A whole number from 1 to 1024.
std::optional<std::size_t> ParseJobs(std::string_view text) {
    std::size_t jobs = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs == 0 || jobs > 1024) {
        return std::nullopt;
    }
    return jobs;
}

// What an option does with its value ("" for an option without one): the usage error, or "".
using OptionSetter = std::string (*)(CheckOptions& options, std::string_view value);

// Options without a value that switch something on.
template <bool CheckOptions::*kFlag>
std::string SetFlag(CheckOptions& options, std::string_view) {
    options.*kFlag = true;
    return {};
}

// Options whose value is a size in bytes: `field` takes it, or the usage error is `error`.
std::string SetByteCount(std::uint64_t& field, std::string_view value, const char* error) {
    const std::optional<std::uint64_t> count = ParseByteCount(value);
    if (!count) {
        return error;
    }
    field = *count;
    return {};
}

struct OptionRow {
    std::string_view name;      // "--jobs"; a value may follow after "=" or as the next argument
    std::string_view shortName; // "-j", or ""; its value is the next argument
    bool takesValue;
    std::string_view needsValue; // the usage error when the value is missing or empty
    OptionSetter set;
};

// Every option of vorn-check: one row each.
constexpr OptionRow kOptionRows[] = {
    // The window's switch to check after start-up; here every run checks.
    {"-a", "", false, "",
     [](CheckOptions&, std::string_view) {
         return std::string();
     }},
    {"--errors", "", false, "", SetFlag<&CheckOptions::errorsOnly>},
    {"--json", "", false, "", SetFlag<&CheckOptions::json>},
    {"--summary", "", false, "", SetFlag<&CheckOptions::summary>},
    {"--explain", "", false, "", SetFlag<&CheckOptions::explain>},
    {"--deep", "", false, "", SetFlag<&CheckOptions::deep>},
    {"--explain-limit", "", true, "--explain-limit needs a size",
     [](CheckOptions& o, std::string_view value) {
         return SetByteCount(o.explainLimit, value,
                             "--explain-limit takes a size in bytes, such as 4096 or 64M");
     }},
    {"--memory", "", true, "--memory needs a size",
     [](CheckOptions& o, std::string_view value) {
         return SetByteCount(o.memory, value, "--memory takes a size in bytes, such as 512M or 4G");
     }},
    {"--null", "-0", false, "", SetFlag<&CheckOptions::nullSeparated>},
    {"--files-from", "", true, "--files-from needs a file",
     [](CheckOptions& o, std::string_view value) {
         o.filesFrom = value;
         return std::string();
     }},
    {"--help", "-h", false, "", SetFlag<&CheckOptions::help>},
    {"--version", "", false, "", SetFlag<&CheckOptions::version>},
    {"--jobs", "-j", true, "--jobs needs a number",
     [](CheckOptions& o, std::string_view value) {
         const std::optional<std::size_t> jobs = ParseJobs(value);
         if (!jobs) {
             return std::string("--jobs takes a whole number from 1 to 1024");
         }
         o.jobs = *jobs;
         return std::string();
     }},
    {"--progress", "", false, "",
     [](CheckOptions& o, std::string_view) {
         o.progress = true;
         return std::string();
     }},
    {"--no-progress", "", false, "",
     [](CheckOptions& o, std::string_view) {
         o.progress = false;
         return std::string();
     }},
    {"--quarantine", "", true, "--quarantine needs a folder",
     [](CheckOptions& o, std::string_view value) {
         o.quarantine = value;
         return std::string();
     }},
    {"--dry-run", "", false, "", SetFlag<&CheckOptions::dryRun>},
    {"--state", "", true, "--state needs a file",
     [](CheckOptions& o, std::string_view value) {
         o.state = value;
         return std::string();
     }},
    {"--recheck-after", "", true, "--recheck-after needs a duration",
     [](CheckOptions& o, std::string_view value) {
         o.recheckAfter = ParseDuration(value);
         return o.recheckAfter ? std::string()
                               : std::string("--recheck-after takes a duration such as 90d, "
                                             "12h, 30m or 0s");
     }},
};

// The row `arg` names, with the value written after "=" in `inlineValue`; null when none does.
const OptionRow* FindOption(std::string_view arg, std::optional<std::string_view>& inlineValue) {
    for (const OptionRow& row : kOptionRows) {
        if (arg == row.name || (!row.shortName.empty() && arg == row.shortName)) {
            return &row;
        }
        if (row.takesValue && arg.size() > row.name.size() && arg.starts_with(row.name) &&
            arg[row.name.size()] == '=') {
            inlineValue = arg.substr(row.name.size() + 1);
            return &row;
        }
    }
    return nullptr;
}

} // namespace

std::string ByteCountText(std::uint64_t bytes) {
    const std::string_view units = "KMG";
    std::size_t power = 0;
    while (power < units.size() && bytes != 0 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++power;
    }
    return std::to_string(bytes) + (power == 0 ? "" : std::string(1, units[power - 1]));
}

OptionsResult ParseCheckOptions(int argc, const char* const* argv) {
    CheckOptions options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (optionsEnded || arg.empty() || arg == "-" || arg[0] != '-') {
            options.paths.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string_view> value;
        const OptionRow* const row = FindOption(arg, value);
        if (!row) {
            return {std::nullopt, "unknown option " + std::string(arg)};
        }
        if (row->takesValue && !value) {
            value = i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
        }
        if (row->takesValue && value->empty()) {
            return {std::nullopt, std::string(row->needsValue)};
        }
        if (std::string error = row->set(options, value.value_or("")); !error.empty()) {
            return {std::nullopt, std::move(error)};
        }
    }
    if (options.jobs == 0) {
        options.jobs = vorn::WalkEngine::kDefaultThreads;
    }
    if (options.dryRun && options.quarantine.empty()) {
        return {std::nullopt, "--dry-run needs --quarantine"};
    }
    if (options.recheckAfter && options.state.empty()) {
        return {std::nullopt, "--recheck-after needs --state"};
    }
    if (options.paths.empty() && options.filesFrom.empty() && !options.help && !options.version) {
        return {std::nullopt, "no path given"};
    }
    return {options, {}};
}

std::string HelpText() {
    const std::string jobs = std::to_string(vorn::WalkEngine::kDefaultThreads);
    const std::string explainLimit = ByteCountText(vorn::kDefaultExplanationDataLimit);
    return R"(Usage: vorn-check [OPTIONS] PATH...
Checks JPEG files for damage. A file is sound when its first two bytes are FF D8
and its last two are FF D9; only those four bytes are read, unless --deep checks
the picture itself or --explain looks for why the end is wrong.

The paths are sorted in path order; folders are walked recursively in path order;
only files whose names end in .jpg or .jpeg (any case) are checked; a path is
checked once. A path named on the command line or in --files-from that names
nothing is reported on standard error and makes the exit status 1; paths met in
folders are skipped without a word unless they are JPEG files. A folder that
cannot be read or entered, and a path the system refuses to examine, is reported
as "File open error". Below the named paths, kernel pseudo file systems (proc,
sysfs) are not walked.

One line is printed per file, in list order whatever the parallelism:
  VERDICT<TAB>PATH
where VERDICT is OK, SOI (the start is wrong), EOI (the end is wrong) or
"File open error". In a path, a backslash is written as \\, a tab, line break
and carriage return as \t, \n and \r, and every other control character as
\xHH (C0, DEL, and in a UTF-8 name the C1 range as its two bytes), so each line
holds one file; --json gives the exact names.

With --deep, the picture itself is checked too, and two columns follow the path:
  VERDICT<TAB>PATH<TAB>DEEP<TAB>REASON
where DEEP is "sound", "damaged" (with where: "cut short at byte 4096", "bad
Huffman table at byte 180", "image data: bad Huffman code"...), "unverified"
(beyond a ceiling: "too large to verify: 64250 × 64250 declared", or coded in a
way the decoder does not take) or "unreadable". Data after the end marker is
named in REASON with its size, and the picture stays sound: a motion photo's
video, padding, another JPEG picture or unrecognised data. With --deep, a file
counts as sound when DEEP is "sound", whatever its marker verdict.

Options:
  --errors       print only the files that failed
  --json         print one JSON object per line: "type" is "file" for a file's
                 verdict and "summary" for the counts; with --deep, a file also
                 has "deep_verdict", "deep_reason", "deep_offset" (the byte where
                 the fault or the trailer starts, or null) and "trailer" ("none",
                 "padding", "video", "jpeg" or "other"); bytes of a name that are
                 not valid UTF-8 are written as \udc80 to \udcff (byte 0x80 to 0xff)
  --jobs N       keep N file-system requests in flight on as many threads
                 (default: )" +
           jobs + R"(, for the latency of cold disks and network shares)
  --files-from FILE
                 also check the paths listed in FILE, one per line ("-" reads
                 standard input); they are taken as command-line paths are
  -0, --null     the names in --files-from end with a NUL byte instead of a
                 line break (as find -print0 writes them)
  --summary      end with a line "N Files<TAB>C: n<TAB>E: n" (sound and failed)
  --deep         check the picture: every segment and table, the image data
                 and its restart markers, and an entropy decode, within ceilings
                 on declared pixels, scans and memory
  --memory SIZE  with --deep, the memory the pictures checked at once may hold
                 together (default: a quarter of the machine's memory; K, M and G
                 count in 1024s); a picture waits its turn for it, and one that
                 needs more than all of it is "unverified"
  --explain      for an EOI file, walk its marker structure and say why: data
                 appended after the end marker (as phone motion photos carry), or
                 where the file is cut short (in the headers or in the image data)
  --explain-limit SIZE
                 read at most SIZE bytes of data for one explanation (default
                 )" +
           explainLimit + R"(; K, M and G count in 1024s; holes are not read); a longer
                 walk says that the explanation was cut short
  --state FILE   remember each file's check in FILE (an SQLite database, made
                 readable by its owner alone) and report a file whose device,
                 inode, size and modification time are unchanged since a check at
                 least as deep without reading it (JSON: "remembered": true and
                 "checked_at"); files gone leave FILE when their folder is walked;
                 with --deep, a hash of each file's bytes is kept too
  --recheck-after DURATION
                 with --state, read again the files checked longer ago than
                 DURATION (90d, 12h, 30m, 0s); a file whose bytes differ while its
                 size and time did not change is reported as "changed on disk",
                 a failure, with both check times
  --quarantine DIR
                 move each failed file into DIR, below its path relative to the
                 named path it was found under, never over another file (a
                 number is added to its name instead); the line says where (last
                 column; JSON "moved_to") and is written before the move; a link,
                 a folder, a file not opened or changed since its check stays
  --dry-run      with --quarantine, report what would move and move nothing
  --progress, --no-progress
                 a line on standard error with the files checked, failed and
                 remembered and the rate, redrawn at most ten times a second and
                 erased at the end (by default when standard error is a terminal)
  --help         show this text
  --version      show the version
  --             end of options: later arguments are paths even if they begin with -

Exit status: 0 every file sound (or no file found), 1 at least one file failed
or a named path names nothing, 2 a usage error, a --files-from file that cannot
be read, a --state file that is damaged, foreign or in use, a report that could
not be written, or a run that could not go on (or was interrupted).
)";
}

bool ReadPathList(const std::string& file, bool nullSeparated, std::vector<std::string>& paths,
                  std::string& error) {
    const bool standardInput = file == "-";
    std::FILE* const stream = standardInput ? stdin : std::fopen(file.c_str(), "rb");
    if (!stream) {
        error = file + ": " + std::strerror(errno);
        return false;
    }
    const char separator = nullSeparated ? '\0' : '\n';
    std::string path;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, stream);
        // A name may span two reads: what follows the last separator waits in `path`.
        for (const char *at = buffer, *end = buffer + n; at < end;) {
            const char* const stop = std::find(at, end, separator);
            path.append(at, stop);
            if (stop == end) {
                break;
            }
            if (!path.empty()) {
                paths.push_back(std::move(path));
                path.clear();
            }
            at = stop + 1;
        }
        if (n < sizeof buffer) {
            ok = !std::ferror(stream);
            break;
        }
    }
    if (!path.empty()) {
        paths.push_back(std::move(path));
    }
    if (!ok) {
        error = file + ": " + std::strerror(errno);
    }
    if (!standardInput) {
        std::fclose(stream);
    }
    return ok;
}

} // namespace vorn::cli
