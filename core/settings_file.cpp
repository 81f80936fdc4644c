#include "core/settings/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/ascii_case.h"
#include "core/base/exceptions.h"
#include "core/os/file_replacement.h"
#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"

namespace vorn {

namespace {

// The oldest and newest years a DOS date can hold.
constexpr int kFirstDosYear = 1980;
constexpr int kLastDosYear = 2107;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Removes every byte from 0 to 32 at both ends.
std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) {
        ++begin;
    }
    std::size_t end = text.size();
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One or more hexadecimal digits with at most eight significant ones, as a 32-bit pattern.
std::optional<std::uint32_t> ParseHexDigits(std::string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint32_t pattern = 0;
    int significant = 0;
    for (char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        if (significant > 0 || digit != 0) {
            if (++significant > 8) {
                return std::nullopt;
            }
        }
        pattern = (pattern << 4) | static_cast<std::uint32_t>(digit);
    }
    return pattern;
}

// One or more decimal digits whose value, with the sign, lies in 32-bit range.
std::optional<std::int32_t> ParseDecimalDigits(std::string_view digits, bool negative) {
    if (digits.empty()) {
        return std::nullopt;
    }
    constexpr std::int64_t kLimit = std::int64_t{1} << 31; // the magnitude of the lowest value
    std::int64_t magnitude = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return std::nullopt;
        }
    }
    if (!negative && magnitude == kLimit) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

std::string SettingsFilePath(std::string_view executablePath, const PathRules& rules) {
    const std::string_view extension = Extension(executablePath, rules);
    std::string path(executablePath.substr(0, executablePath.size() - extension.size()));
    path += ".ini";
    return path;
}

bool SettingsFilePresent(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    // A last-write time that a DOS date cannot express makes the file count as missing.
    const std::time_t modified = status.st_mtime;
    std::tm local{};
    if (::localtime_r(&modified, &local) == nullptr) {
        return false;
    }
    const long year = static_cast<long>(local.tm_year) + 1900;
    return year >= kFirstDosYear && year <= kLastDosYear;
}

std::optional<std::int32_t> ParseInteger(std::string_view value) {
    // "0x1F" is read as "$1F". The general syntax below also takes "0x" after a sign.
    std::string replaced;
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        replaced = "$";
        replaced += value.substr(2);
        value = replaced;
    }

    bool negative = false;
    std::string_view rest = value;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }

    std::size_t prefix = 0;
    if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
        prefix = 1;
    } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        prefix = 2;
    }
    if (prefix == 0) {
        return ParseDecimalDigits(rest, negative);
    }

    const std::optional<std::uint32_t> pattern = ParseHexDigits(rest.substr(prefix));
    if (!pattern) {
        return std::nullopt;
    }
    // A minus before a hexadecimal value negates the 32-bit pattern: "-$1F" is -31 and
    // "-$FFFFFFFF" is 1.
    const std::uint32_t bits = negative ? 0u - *pattern : *pattern;
    return static_cast<std::int32_t>(bits);
}

void SettingsFile::Read(const std::string& path) {
    m_text.clear();
    if (!SettingsFilePresent(path)) {
        return;
    }
    // Non-blocking, so that a named pipe standing at the path cannot make the open wait.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        throw EFOpenError(path);
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        throw EFOpenError(path);
    }
    // Only a regular file has text to read; a pipe or a device reads as empty, so reading can
    // neither wait nor go on forever. The text is read into one buffer of the file's size
    // (growing only if the file grows meanwhile) and compacted where it stands.
    std::string text;
    if (S_ISREG(status.st_mode)) {
        text.resize(static_cast<std::size_t>(status.st_size) + 1);
        std::size_t used = 0;
        for (;;) {
            if (used == text.size()) {
                text.resize(text.size() * 2);
            }
            const ssize_t got = RetryOnInterrupt(
                [&] { return ::read(file.Get(), text.data() + used, text.size() - used); });
            if (got < 0) {
                throw EFOpenError(path);
            }
            if (got == 0) {
                break;
            }
            used += static_cast<std::size_t>(got);
        }
        text.resize(used);
    }
    m_text = std::move(text);
    Compact();
}

void SettingsFile::Parse(std::string_view text) {
    m_text.assign(text);
    Compact();
}

namespace {

bool IsHeader(std::string_view line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

std::string_view HeaderName(std::string_view line) {
    return line.substr(1, line.size() - 2);
}

// Calls `visit(line, begin)` for each line of the kept text, without its "\n".
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = text.find('\n', pos);
        visit(text.substr(pos, end - pos), pos);
        pos = end + 1;
    }
}

// A kept line of a section: "key=value" split at its first '=', or text without one.
SettingsFile::Line Classify(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return SettingsFile::Line{std::string(), std::string(line), false};
    }
    return SettingsFile::Line{std::string(line.substr(0, equals)),
                              std::string(line.substr(equals + 1)), true};
}

} // namespace

void SettingsFile::Compact() {
    if (const std::size_t nul = m_text.find('\0'); nul != std::string::npos) {
        m_text.resize(nul);
    }
    // Each kept line is written back at `out`, never beyond where it was read: trimming, and
    // dropping the blanks around "=", only shorten a line, and "\n" takes the place of its end.
    // Only the last line, without an end, can grow by one byte, at the end of the text.
    std::string& text = m_text;
    const auto put = [&text](std::size_t& out, std::string_view part) {
        std::memmove(text.data() + out, part.data(), part.size());
        out += part.size();
    };
    const auto putChar = [&text](std::size_t& out, char c) {
        if (out == text.size()) {
            text.push_back(c);
        } else {
            text[out] = c;
        }
        ++out;
    };
    bool inSection = false;
    std::size_t out = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        std::size_t next = end;
        if (next < text.size()) {
            next +=
                (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
        }
        const std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = next;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (IsHeader(line)) {
            const std::string_view name = Trim(HeaderName(line));
            putChar(out, '[');
            put(out, name);
            putChar(out, ']');
            inSection = true;
        } else if (!inSection) {
            continue;
        } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            const std::string_view value = Trim(line.substr(equals + 1));
            put(out, Trim(line.substr(0, equals)));
            putChar(out, '=');
            put(out, value);
        } else {
            put(out, line);
        }
        putChar(out, '\n');
    }
    text.resize(out);
    if (text.capacity() > 2 * text.size() + 4096) {
        text.shrink_to_fit();
    }
}

std::optional<std::string> SettingsFile::Lookup(std::string_view section,
                                                std::string_view key) const {
    // Only the last section of the name counts; earlier ones are ignored entirely.
    // A value and a flag rather than an optional view: GCC 12 at -O3 takes the optional's view
    // for uninitialised and fails the release build.
    std::string_view found;
    bool present = false;
    bool inMatch = false;
    ForEachLine(m_text, [&](std::string_view line, std::size_t) {
        if (IsHeader(line)) {
            inMatch = EqualsIgnoringAsciiCase(HeaderName(line), section);
            if (inMatch) {
                present = false;
            }
            return;
        }
        const std::size_t equals = line.find('=');
        if (inMatch && equals != std::string_view::npos &&
            EqualsIgnoringAsciiCase(line.substr(0, equals), key)) {
            found = line.substr(equals + 1);
            present = true;
        }
    });
    if (!present) {
        return std::nullopt;
    }
    return std::string(found);
}

std::int32_t SettingsFile::ReadInteger(std::string_view section, std::string_view key,
                                       std::int32_t defaultValue) const {
    const std::optional<std::string> value = Lookup(section, key);
    return ParseInteger(value ? *value : std::string_view()).value_or(defaultValue);
}

void SettingsFile::Clear() {
    m_text.clear();
    m_text.shrink_to_fit();
}

void SettingsFile::WriteInteger(std::string_view section, std::string_view key,
                                std::int32_t value) {
    // The entry goes at the end of the section a lookup would read, so it is found again.
    std::size_t insertAt = std::string::npos;
    bool inMatch = false;
    ForEachLine(m_text, [&](std::string_view line, std::size_t begin) {
        if (IsHeader(line)) {
            inMatch = EqualsIgnoringAsciiCase(HeaderName(line), section);
        }
        if (inMatch) {
            insertAt = begin + line.size() + 1;
        }
    });
    std::string entry;
    if (insertAt == std::string::npos) {
        insertAt = m_text.size();
        entry.append("[").append(section).append("]\n");
    }
    entry.append(key).append("=").append(std::to_string(value)).append("\n");
    m_text.insert(insertAt, entry);
}

std::vector<SettingsFile::Section> SettingsFile::Sections() const {
    std::vector<Section> sections;
    ForEachLine(m_text, [&](std::string_view line, std::size_t) {
        if (IsHeader(line)) {
            sections.push_back(Section{std::string(HeaderName(line)), {}});
        } else {
            sections.back().lines.push_back(Classify(line));
        }
    });
    return sections;
}

std::string SettingsFile::Text() const {
    std::string text;
    ForEachLine(m_text, [&](std::string_view line, std::size_t begin) {
        if (begin > 0 && IsHeader(line)) {
            text += "\r\n";
        }
        text.append(line).append("\r\n");
    });
    if (!m_text.empty()) {
        text += "\r\n";
    }
    return text;
}

void SettingsFile::Write(const std::string& path) const {
    ReplaceFileContents(path, Text());
}

} // namespace vorn
