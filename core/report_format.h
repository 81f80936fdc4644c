#pragma once
// The lines vorn-check prints.

#include <string>
#include <string_view>

#include "core/check/deep_check.h"
#include "core/check/marker_check.h"

namespace vorn::cli {

// "OK", "SOI", "EOI" or "File open error".
std::string_view VerdictWord(vorn::MarkerVerdict verdict);

// A JSON string literal for bytes: valid UTF-8 as it stands (control characters, quote and
// backslash escaped), every other byte 0xXY as \udcXY, so the exact bytes can be recovered.
std::string JsonString(std::string_view bytes);

// A name as the tab-separated report writes it: a backslash as \\, tab, newline and carriage
// return as \t, \n and \r, every other control byte (0x00 to 0x1f, 0x7f) as \xHH, and when
// the whole name is valid UTF-8 the C1 controls (U+0080 to U+009F) as the \xHH of their two
// bytes. Everything else is written as it is. A report line then always holds one file, a
// name cannot move a column or drive the terminal, and the exact bytes can be recovered.
std::string EscapeForReport(std::string_view bytes);

// One line, newline included: "VERDICT\tPATH[\tDEEP\tREASON][\tEXPLANATION]\n" with the
// path, the reason and the explanation escaped as above (DEEP and REASON, the picture check's
// verdict and reason, when `deep` is given), or a JSON object of type "file" that holds them
// exactly.
std::string ReportLine(vorn::MarkerVerdict verdict, std::string_view path,
                       std::string_view explanation, bool json,
                       const vorn::DeepCheckResult* deep = nullptr);

// The line of a file listed and not checked yet (the window's report of a row never checked):
// "Unchecked\tPATH\n", or a JSON object of type "file" with the verdict "Unchecked".
std::string UncheckedReportLine(std::string_view path, bool json);

// The last line of --summary; as JSON, an object of type "summary".
std::string SummaryLine(std::size_t files, std::size_t sound, std::size_t failed, bool json);

} // namespace vorn::cli
