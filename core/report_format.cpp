#include "core/report_format.h"

#include <cstdint>
#include <cstdio>

namespace vorn::cli {

std::string_view VerdictWord(vorn::MarkerVerdict verdict) {
    return verdict == vorn::MarkerVerdict::Normal ? "OK" : vorn::VerdictErrorText(verdict);
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `bytes`, or 0.
std::size_t Utf8SequenceLength(std::string_view bytes) {
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint8_t>(bytes[i]);
    };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        }
        if (lead == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        }
        if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
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
void AppendDeep(std::string& line, const vorn::DeepCheckResult& deep, bool json) {
    const std::string_view verdict = vorn::DeepVerdictWord(deep.verdict);
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

std::string ReportLine(vorn::MarkerVerdict verdict, std::string_view path,
                       std::string_view explanation, bool json, const vorn::DeepCheckResult* deep) {
    std::string line;
    if (json) {
        line = "{\"type\":\"file\",\"verdict\":" + JsonString(VerdictWord(verdict)) +
               ",\"path\":" + JsonString(path);
        if (deep) {
            AppendDeep(line, *deep, true);
        }
        if (!explanation.empty()) {
            line += ",\"explanation\":" + JsonString(explanation);
        }
        line += "}\n";
        return line;
    }
    line.append(VerdictWord(verdict)).append("\t").append(EscapeForReport(path));
    if (deep) {
        AppendDeep(line, *deep, false);
    }
    if (!explanation.empty()) {
        line.append("\t").append(EscapeForReport(explanation));
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

} // namespace vorn::cli
