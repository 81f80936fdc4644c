#include "cli/top_level_paths.h"

#include "core/paths/path_rules.h"

namespace vorn::cli {

namespace {

// True when `rest` is a plain chain of names below a folder: no empty segment (a doubled or a
// final delimiter) and no "." or ".." segment. Only such a text can have come out of a walk; any
// other text of a file below a walked folder is another row.
bool IsPlainBelow(std::string_view rest, const vorn::PathRules& rules) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && (rules.delimiters.find(rest[i]) == std::string_view::npos ||
                                vorn::IsTrailByte(rest, i, rules))) {
            continue;
        }
        const std::string_view segment = rest.substr(start, i - start);
        if (segment.empty() || segment == "." || segment == "..") {
            return false;
        }
        start = i + 1;
    }
    return true;
}

} // namespace

bool TopLevelPaths::Covers(std::string_view path) const {
    if (m_paths.empty()) {
        return false;
    }
    if (m_paths.contains(std::string(path))) {
        return true;
    }
    const vorn::PathRules& rules = vorn::PathRules::Platform();
    bool below = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (rules.delimiters.find(path[i]) == std::string_view::npos ||
            vorn::IsTrailByte(path, i, rules)) {
            continue;
        }
        const std::string folder(path.substr(0, i + 1));
        below = below || (m_folders.contains(folder) && IsPlainBelow(path.substr(i + 1), rules));
        if (below && m_holes.contains(folder)) {
            return false;
        }
    }
    return below;
}

void TopLevelPaths::Add(const std::string& path) {
    m_paths.insert(path);
    m_folders.insert(vorn::WithTrailingDelimiter(path));
}

void TopLevelPaths::AddHole(const std::string& path) {
    m_holes.insert(vorn::WithTrailingDelimiter(path));
}

} // namespace vorn::cli
