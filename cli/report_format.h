#pragma once
// The lines vorn-check prints.

#include <string>
#include <string_view>

#include "core/marker_check.h"

// "OK", "SOI", "EOI" or "File open error".
std::string_view VerdictWord(vorn::MarkerVerdict verdict);

// A JSON string literal for bytes: valid UTF-8 as it stands (control characters, quote and
// backslash escaped), every other byte 0xXY as \udcXY, so the exact bytes can be recovered.
std::string JsonString(std::string_view bytes);

// One line, newline included: "VERDICT\tPATH[\tEXPLANATION]\n" or a JSON object.
std::string ReportLine(vorn::MarkerVerdict verdict, std::string_view path,
                       std::string_view explanation, bool json);

// The last line of --summary.
std::string SummaryLine(std::size_t files, std::size_t sound, std::size_t failed, bool json);
