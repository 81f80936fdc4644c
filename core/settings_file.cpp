#include "core/settings_file.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/ascii_case.h"
#include "core/exceptions.h"
#include "core/retry_on_interrupt.h"
#include "core/unique_fd.h"

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
    m_sections.clear();
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
    // neither wait nor go on forever.
    std::string text;
    if (S_ISREG(status.st_mode)) {
        char buffer[4096];
        for (;;) {
            const ssize_t got =
                RetryOnInterrupt([&] { return ::read(file.Get(), buffer, sizeof buffer); });
            if (got < 0) {
                throw EFOpenError(path);
            }
            if (got == 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    Parse(text);
}

void SettingsFile::Parse(std::string_view text) {
    m_sections.clear();
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }

    Section* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        std::string_view raw;
        if (end == std::string_view::npos) {
            raw = text.substr(pos);
            pos = text.size();
        } else {
            raw = text.substr(pos, end - pos);
            pos = end + 1;
            if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') {
                ++pos;
            }
        }

        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            m_sections.push_back(Section{std::string(Trim(line.substr(1, line.size() - 2))), {}});
            current = &m_sections.back();
            continue;
        }
        if (current == nullptr) {
            continue;
        }
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            current->lines.push_back(Line{std::string(Trim(line.substr(0, equals))),
                                          std::string(Trim(line.substr(equals + 1))), true});
        } else {
            current->lines.push_back(Line{std::string(), std::string(line), false});
        }
    }
}

std::optional<std::string> SettingsFile::Lookup(std::string_view section,
                                                std::string_view key) const {
    // Only the last section of the name counts; earlier ones are ignored entirely.
    for (auto s = m_sections.rbegin(); s != m_sections.rend(); ++s) {
        if (!EqualsIgnoringAsciiCase(s->name, section)) {
            continue;
        }
        for (auto l = s->lines.rbegin(); l != s->lines.rend(); ++l) {
            if (l->isEntry && EqualsIgnoringAsciiCase(l->key, key)) {
                return l->value;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::int32_t SettingsFile::ReadInteger(std::string_view section, std::string_view key,
                                       std::int32_t defaultValue) const {
    const std::optional<std::string> value = Lookup(section, key);
    return ParseInteger(value ? *value : std::string_view()).value_or(defaultValue);
}

void SettingsFile::Clear() {
    m_sections.clear();
}

void SettingsFile::WriteInteger(std::string_view section, std::string_view key,
                                std::int32_t value) {
    // The entry goes into the section a lookup would read, so it is found again.
    Section* target = nullptr;
    for (auto s = m_sections.rbegin(); s != m_sections.rend(); ++s) {
        if (EqualsIgnoringAsciiCase(s->name, section)) {
            target = &*s;
            break;
        }
    }
    if (target == nullptr) {
        m_sections.push_back(Section{std::string(section), {}});
        target = &m_sections.back();
    }
    target->lines.push_back(Line{std::string(key), std::to_string(value), true});
}

std::string SettingsFile::Text() const {
    std::string text;
    for (const Section& section : m_sections) {
        text += '[';
        text += section.name;
        text += "]\r\n";
        for (const Line& line : section.lines) {
            if (line.isEntry) {
                text += line.key;
                text += '=';
            }
            text += line.value;
            text += "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

void SettingsFile::Write(const std::string& path) const {
    const std::string text = Text();

    // A folder at the path cannot be replaced, and a file that grants nobody write permission is
    // read-only: both fail before anything is opened, also for a user whom the permission bits
    // would not stop.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 &&
        (S_ISDIR(status.st_mode) || (status.st_mode & 0222) == 0)) {
        throw EFCreateError(path);
    }
    // Non-blocking, so that a named pipe without a reader fails at once instead of waiting.
    UniqueFd file(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (file.Get() < 0) {
        throw EFCreateError(path);
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = RetryOnInterrupt(
            [&] { return ::write(file.Get(), text.data() + written, text.size() - written); });
        if (put <= 0) {
            throw EWriteError();
        }
        written += static_cast<std::size_t>(put);
    }
    if (!file.Close()) {
        throw EWriteError();
    }
}

} // namespace vorn
