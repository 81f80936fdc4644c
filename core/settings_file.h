#pragma once
// The settings file: INI text beside the executable that keeps the main window's bounds and the
// list's column widths. The whole file is read into an in-memory copy, looked up there, and the
// copy is written back whole. The copy keeps only the lines that count, each in the form it is
// written back in, in one string: it never takes more memory than the file, however many lines
// the file holds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths/path_rules.h"

namespace vorn {

// The executable's path with its extension replaced by ".ini", or ".ini" appended when it has
// none (a dot in a folder name is not an extension).
std::string SettingsFilePath(std::string_view executablePath,
                             const PathRules& rules = PathRules::Platform());

// The file counts as present when it exists, is not a folder, and its last-write time in local
// time fits a DOS date and time (1980 to 2107).
bool SettingsFilePresent(const std::string& path);

// The number syntax of a value: decimal in 32-bit range, or "$", "x", "X", "0x", "0X"
// hexadecimal with at most eight significant digits taken as a 32-bit pattern. Nothing else.
std::optional<std::int32_t> ParseInteger(std::string_view value);

class SettingsFile {
public:
    struct Line {
        std::string key;   // the trimmed text before the first "="; empty for a plain line
        std::string value; // the trimmed text after it; the whole line for a plain line
        bool isEntry = false;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    // Reads the file at `path` into a new copy. A file that is not present gives an empty copy;
    // one that is present but cannot be read throws EFOpenError.
    void Read(const std::string& path);
    // Parses text as read from a file (for Read and for tests).
    void Parse(std::string_view text);

    // The value of the last matching entry in the last matching section (names compared without
    // regard to ASCII case), or nothing.
    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;

    void Clear();
    // Appends the entry, creating the section after the last one when none matches.
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

    // Each section as "[name]", its lines, then an empty line; every line ends in CR LF.
    std::string Text() const;
    // Replaces the file at `path` with Text() as ReplaceFileContents does (file_replacement.h):
    // a write cut short leaves the old settings in place.
    void Write(const std::string& path) const;

    // The copy as sections and lines, built on each call (for inspection and tests).
    std::vector<Section> Sections() const;

private:
    // Drops what no lookup can find (comments, empty lines, lines before the first section,
    // anything after a NUL byte) and writes each other line as "[name]", "key=value" or its
    // trimmed text, ended by "\n", in place in m_text.
    void Compact();

    std::string m_text;
};

} // namespace vorn
