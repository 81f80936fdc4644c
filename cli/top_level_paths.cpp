#include "cli/top_level_paths.h"

#include "core/path_rules.h"

bool TopLevelPaths::Covers(std::string_view path) const {
    if (m_paths.empty())
        return false;
    if (m_paths.contains(std::string(path)))
        return true;
    const vorn::PathRules& rules = vorn::PathRules::Platform();
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (rules.delimiters.find(path[i]) == std::string_view::npos ||
            vorn::IsTrailByte(path, i, rules))
            continue;
        if (m_folders.contains(std::string(path.substr(0, i + 1))))
            return true;
    }
    return false;
}

void TopLevelPaths::Add(const std::string& path) {
    m_paths.insert(path);
    m_folders.insert(vorn::WithTrailingDelimiter(path));
}
