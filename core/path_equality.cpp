#include "core/path_equality.h"

namespace vorn {

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

std::string PathKey(std::string_view path, PathEquality rule) {
    std::string key(path);
    if (rule == PathEquality::AsciiCaseInsensitive) {
        for (char& c : key)
            c = AsciiLower(c);
    }
    return key;
}

bool SamePath(std::string_view a, std::string_view b, PathEquality rule) {
    if (a.size() != b.size())
        return false;
    if (rule == PathEquality::Exact)
        return a == b;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

} // namespace vorn
