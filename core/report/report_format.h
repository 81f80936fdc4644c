#pragma once
// The lines vorn-check prints.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/check/deep_check.h"
#include "core/check/marker_check.h"

namespace vorn {

// A JSON string literal for bytes: valid UTF-8 as it stands (control characters, quote and
// backslash escaped), every other byte 0xXY as \udcXY, so the exact bytes can be recovered.
std::string JsonString(std::string_view bytes);

// A name as the tab-separated report writes it: a backslash as \\, tab, newline and carriage
// return as \t, \n and \r, every other control byte (0x00 to 0x1f, 0x7f) as \xHH, and when
// the whole name is valid UTF-8 the C1 controls (U+0080 to U+009F) as the \xHH of their two
// bytes. Everything else is written as it is. A report line then always holds one file, a
// name cannot move a column or drive the terminal, and the exact bytes can be recovered.
std::string EscapeForReport(std::string_view bytes);

// What the state of earlier runs (--state) adds to a file's line.
struct StateNote {
    bool remembered = false;    // taken from the state, the file not read
    std::int64_t checkedAt = 0; // when the verdict was found, seconds since the epoch
    // "changed on disk": the bytes differ from those checked at this time under the same
    // identity.
    std::optional<std::int64_t> changedSince;
};

// A time as the report writes it: "2026-12-09T01:12:08Z".
std::string ReportTime(std::int64_t secondsSinceEpoch);

// One line, newline included: "VERDICT\tPATH[\tDEEP\tREASON][\tEXPLANATION]\n" with the
// path, the reason and the explanation escaped as above (DEEP and REASON, the picture check's
// verdict and reason, when `deep` is given), or a JSON object of type "file" that holds them
// exactly. `movedTo`, where --quarantine moves the file, is the last column, or "moved_to".
// With `state`, a file changed on disk has "changed on disk" as its DEEP and as REASON
// both check times; JSON has "remembered", "checked_at" and, for such a file, "changed_since".
std::string ReportLine(vorn::MarkerVerdict verdict, std::string_view path,
                       std::string_view explanation, bool json,
                       const vorn::DeepCheckResult* deep = nullptr,
                       const StateNote* state = nullptr, std::string_view movedTo = {});

// The line of a file listed and not checked yet (the window's report of a row never checked):
// "Unchecked\tPATH\n", or a JSON object of type "file" with the verdict "Unchecked".
std::string UncheckedReportLine(std::string_view path, bool json);

// The last line of --summary; as JSON, an object of type "summary".
std::string SummaryLine(std::size_t files, std::size_t sound, std::size_t failed, bool json);

} // namespace vorn
