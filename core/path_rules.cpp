#include "core/paths/path_rules.h"

#include "core/base/ascii_case.h"

namespace vorn {

namespace {

constexpr std::array<bool, 256> ShiftJisLeadBytes() {
    std::array<bool, 256> lead{};
    for (int b = 0x81; b <= 0x9F; ++b) {
        lead[b] = true;
    }
    for (int b = 0xE0; b <= 0xFC; ++b) {
        lead[b] = true;
    }
    return lead;
}

constexpr PathRules kWindowsRules{"\\:", '\\', ShiftJisLeadBytes()};
constexpr PathRules kPosixRules{"/", '/', {}};

bool IsLeadByte(char c, const PathRules& rules) {
    return rules.leadBytes[static_cast<unsigned char>(c)];
}

// The position of the last delimiter of `path` (or dot, with `dotToo`) that is not the second
// byte of a double-byte character, or npos. Trail bytes are only worked out for candidates, and the
// lead-byte runs counted for them never overlap (a candidate is never a lead byte), so the
// scan stays linear in the length of the path.
std::size_t LastStop(std::string_view path, const PathRules& rules, bool dotToo) {
    for (std::size_t i = path.size(); i-- > 0;) {
        const bool stop =
            rules.delimiters.find(path[i]) != std::string_view::npos || (dotToo && path[i] == '.');
        if (stop && !IsTrailByte(path, i, rules)) {
            return i;
        }
    }
    return std::string_view::npos;
}

} // namespace

const PathRules& PathRules::Windows() {
    return kWindowsRules;
}

const PathRules& PathRules::Posix() {
    return kPosixRules;
}

const PathRules& PathRules::Platform() {
#ifdef _WIN32
    return kWindowsRules;
#else
    return kPosixRules;
#endif
}

bool IsTrailByte(std::string_view path, std::size_t index, const PathRules& rules) {
    if (index >= path.size()) {
        return false;
    }
    std::size_t run = 0;
    while (run < index && IsLeadByte(path[index - run - 1], rules)) {
        ++run;
    }
    return run % 2 == 1;
}

std::string_view FolderPart(std::string_view path, const PathRules& rules) {
    const std::size_t last = LastStop(path, rules, false);
    return last == std::string_view::npos ? std::string_view() : path.substr(0, last + 1);
}

std::string_view NamePart(std::string_view path, const PathRules& rules) {
    const std::size_t last = LastStop(path, rules, false);
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view Extension(std::string_view path, const PathRules& rules) {
    // Whichever comes last decides: a dot gives an extension, a delimiter none.
    const std::size_t last = LastStop(path, rules, true);
    if (last == std::string_view::npos || path[last] != '.') {
        return {};
    }
    return path.substr(last);
}

std::string WithTrailingDelimiter(std::string_view folder, const PathRules& rules) {
    std::string result(folder);
    const bool ends = !folder.empty() && folder.back() == rules.trailingDelimiter &&
                      !IsTrailByte(folder, folder.size() - 1, rules);
    if (!ends) {
        result += rules.trailingDelimiter;
    }
    return result;
}

bool IsJpegExtension(std::string_view extension) {
    return EqualsIgnoringAsciiCase(extension, ".jpg") ||
           EqualsIgnoringAsciiCase(extension, ".jpeg");
}

bool HasJpegExtension(std::string_view path, const PathRules& rules) {
    return IsJpegExtension(Extension(path, rules));
}

} // namespace vorn
