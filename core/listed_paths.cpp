#include "core/paths/listed_paths.h"

namespace vorn {

ListedPaths::ListedPaths(PathEquality rule)
    : m_rule(rule) {}

bool ListedPaths::Contains(std::string_view path) const {
    // With exact equality the path is its own key: look it up without building a copy.
    if (m_rule == PathEquality::Exact) {
        return m_keys.find(path) != m_keys.end();
    }
    return m_keys.find(PathKey(path, m_rule)) != m_keys.end();
}

void ListedPaths::Insert(std::string_view path) {
    m_keys.insert(PathKey(path, m_rule));
}

void ListedPaths::Clear() {
    m_keys.clear();
}

} // namespace vorn
