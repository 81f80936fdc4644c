#include "core/paths/path_equality.h"

#include "core/base/ascii_case.h"

namespace vorn {

std::string PathKey(std::string_view path, PathEquality rule) {
    std::string key(path);
    if (rule == PathEquality::AsciiCaseInsensitive) {
        for (char& c : key) {
            c = AsciiLower(c);
        }
    }
    return key;
}

bool SamePath(std::string_view a, std::string_view b, PathEquality rule) {
    return rule == PathEquality::Exact ? a == b : EqualsIgnoringAsciiCase(a, b);
}

} // namespace vorn
