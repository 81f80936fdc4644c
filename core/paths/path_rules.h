#pragma once
// How a path is cut into folder part, name part and extension. Two rule sets exist as data:
// the Windows one ("\" and ":" as delimiters, double-byte lead bytes of Shift-JIS) and the
// POSIX one ("/" only; UTF-8 never has a "/" byte inside a character). The program uses
// PathRules::Platform(); the tests exercise both.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

struct PathRules {
    std::string_view delimiters;     // every byte that ends a folder part
    char trailingDelimiter;          // the delimiter a folder path must end in
    std::array<bool, 256> leadBytes; // lead bytes of the code page; all false for single-byte

    static const PathRules& Windows(); // "\" and ":", Shift-JIS lead bytes 0x81-0x9F, 0xE0-0xFC
    static const PathRules& Posix();   // "/" only, no lead bytes
    static const PathRules& Platform();
};

// True when the byte at `index` is the second byte of a double-byte character: the run of
// lead-byte values directly before it has odd length.
bool IsTrailByte(std::string_view path, std::size_t index,
                 const PathRules& rules = PathRules::Platform());

// The path up to and including its last delimiter; empty when there is none.
std::string_view FolderPart(std::string_view path, const PathRules& rules = PathRules::Platform());
// The path after its last delimiter; the whole path when there is none.
std::string_view NamePart(std::string_view path, const PathRules& rules = PathRules::Platform());
// From the last "." (dot included) to the end, when no delimiter follows that dot; else empty.
std::string_view Extension(std::string_view path, const PathRules& rules = PathRules::Platform());
// `folder` with the trailing delimiter appended unless its last byte already is one (and is not
// the second byte of a double-byte character). ":" does not count here: "C:" becomes "C:\".
std::string WithTrailingDelimiter(std::string_view folder,
                                  const PathRules& rules = PathRules::Platform());

// ".jpg" or ".jpeg", comparing byte by byte with only the ASCII letters folded.
bool IsJpegExtension(std::string_view extension);
bool HasJpegExtension(std::string_view path, const PathRules& rules = PathRules::Platform());

} // namespace vorn
