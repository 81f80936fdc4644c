#include "core/report/report_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include <unicode/utf8.h>

namespace vorn {

namespace {

// "OK", "SOI", "EOI" or "File open error".
std::string_view VerdictWord(vorn::MarkerVerdict verdict) {
    return verdict == vorn::MarkerVerdict::Normal ? "OK" : vorn::VerdictErrorText(verdict);
}

// The length of the well-formed UTF-8 sequence at the start of `bytes`, or 0. ICU's macro
// refuses overlong forms, surrogates and code points beyond U+10FFFF, and calls no library.
std::size_t Utf8SequenceLength(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length =
        static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), U8_MAX_LENGTH));
    std::int32_t next = 0;
    UChar32 c = 0;
    U8_NEXT(data, next, length, c);
    return c < 0 ? 0 : static_cast<std::size_t>(next);
}

void AppendEscape(std::string& out, unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
    out += buffer;
}

bool IsValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t length = Utf8SequenceLength(bytes);
        if (length == 0) {
            return false;
        }
        bytes.remove_prefix(length);
    }
    return true;
}

void AppendHexEscape(std::string& out, std::uint8_t byte) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02x", unsigned{byte});
    out += buffer;
}

} // namespace

std::string EscapeForReport(std::string_view bytes) {
    const bool utf8 = IsValidUtf8(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<std::uint8_t>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            AppendHexEscape(out, c);
        } else if (utf8 && c == 0xC2 && i + 1 < bytes.size() &&
                   static_cast<std::uint8_t>(bytes[i + 1]) <= 0x9F) {
            // U+0080 to U+009F; in valid UTF-8 a continuation byte follows, so it is >= 0x80.
            AppendHexEscape(out, c);
            AppendHexEscape(out, static_cast<std::uint8_t>(bytes[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string JsonString(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    while (!bytes.empty()) {
        const auto c = static_cast<std::uint8_t>(bytes[0]);
        const std::size_t length = Utf8SequenceLength(bytes);
        if (length == 0) {
            AppendEscape(out, 0xDC00u + c);
            bytes.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            AppendEscape(out, c);
        } else {
            out.append(bytes.substr(0, length));
        }
        bytes.remove_prefix(length);
    }
    out += '"';
    return out;
}

namespace {

// The members of the picture check, after the file's verdict and path.
void AppendDeep(std::string& line, const vorn::DeepCheckResult& deep, bool json,
                bool changedOnDisk = false) {
    const std::string_view verdict =
        changedOnDisk ? std::string_view("changed on disk") : vorn::DeepVerdictWord(deep.verdict);
    if (!json) {
        line.append("\t").append(verdict).append("\t").append(EscapeForReport(deep.reason));
        return;
    }
    line += ",\"deep_verdict\":" + JsonString(verdict) +
            ",\"deep_reason\":" + JsonString(deep.reason) +
            ",\"deep_offset\":" + (deep.offset ? std::to_string(*deep.offset) : "null") +
            ",\"trailer\":" + JsonString(vorn::TrailerName(deep.trailer));
}

} // namespace

std::string ReportTime(std::int64_t secondsSinceEpoch) {
    const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    char buffer[32] = {};
    if (gmtime_r(&time, &utc)) {
        std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    return buffer;
}

namespace {

// A file whose bytes changed under an unchanged identity: its picture verdict is that.
vorn::DeepCheckResult ChangedOnDisk(const StateNote& state) {
    vorn::DeepCheckResult changed;
    changed.reason = "checked at " + ReportTime(*state.changedSince) + ", other bytes at " +
                     ReportTime(state.checkedAt);
    return changed;
}

void AppendState(std::string& line, const StateNote& state) {
    line += std::string(",\"remembered\":") + (state.remembered ? "true" : "false") +
            ",\"checked_at\":" + JsonString(ReportTime(state.checkedAt));
    if (state.changedSince) {
        line += ",\"changed_since\":" + JsonString(ReportTime(*state.changedSince));
    }
}

} // namespace

std::string ReportLine(vorn::MarkerVerdict verdict, std::string_view path,
                       std::string_view explanation, bool json, const vorn::DeepCheckResult* deep,
                       const StateNote* state, std::string_view movedTo) {
    const bool changed = state && state->changedSince;
    std::optional<vorn::DeepCheckResult> changedDeep;
    if (changed) {
        changedDeep = ChangedOnDisk(*state);
        deep = &*changedDeep;
    }
    std::string line;
    if (json) {
        line = "{\"type\":\"file\",\"verdict\":" + JsonString(VerdictWord(verdict)) +
               ",\"path\":" + JsonString(path);
        if (deep) {
            AppendDeep(line, *deep, true, changed);
        }
        if (!explanation.empty()) {
            line += ",\"explanation\":" + JsonString(explanation);
        }
        if (state) {
            AppendState(line, *state);
        }
        if (!movedTo.empty()) {
            line += ",\"moved_to\":" + JsonString(movedTo);
        }
        line += "}\n";
        return line;
    }
    line.append(VerdictWord(verdict)).append("\t").append(EscapeForReport(path));
    if (deep) {
        AppendDeep(line, *deep, false, changed);
    }
    if (!explanation.empty()) {
        line.append("\t").append(EscapeForReport(explanation));
    }
    if (!movedTo.empty()) {
        line.append("\t").append(EscapeForReport(movedTo));
    }
    line += '\n';
    return line;
}

std::string UncheckedReportLine(std::string_view path, bool json) {
    if (json) {
        return "{\"type\":\"file\",\"verdict\":\"Unchecked\",\"path\":" + JsonString(path) + "}\n";
    }
    return "Unchecked\t" + EscapeForReport(path) + "\n";
}

std::string SummaryLine(std::size_t files, std::size_t sound, std::size_t failed, bool json) {
    if (json) {
        return "{\"type\":\"summary\",\"files\":" + std::to_string(files) +
               ",\"sound\":" + std::to_string(sound) + ",\"failed\":" + std::to_string(failed) +
               "}\n";
    }
    return std::to_string(files) + " Files\tC: " + std::to_string(sound) +
           "\tE: " + std::to_string(failed) + "\n";
}

} // namespace vorn
