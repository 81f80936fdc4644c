#pragma once
// When two paths name the same row ("already listed"). One function used everywhere.
// On Linux the file system tells case apart, so photo.jpg and Photo.JPG in one folder are two
// files: equality is exact there. On Windows, where the file system folds case, ASCII letters
// of either case are equal.

#include <string>
#include <string_view>

namespace vorn {

enum class PathEquality { Exact, AsciiCaseInsensitive };

constexpr PathEquality kPlatformPathEquality =
#ifdef _WIN32
    PathEquality::AsciiCaseInsensitive;
#else
    PathEquality::Exact;
#endif

// A key such that two paths are the same exactly when their keys are equal.
std::string PathKey(std::string_view path, PathEquality rule = kPlatformPathEquality);
bool SamePath(std::string_view a, std::string_view b, PathEquality rule = kPlatformPathEquality);

} // namespace vorn
