#pragma once
// The index of the paths already in the list, kept beside the rows so that "already listed"
// costs one hash lookup instead of a search through every row. It applies SamePath's equality
// exactly and is emptied whenever the list is emptied.

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "core/paths/path_equality.h"

namespace vorn {

class ListedPaths {
public:
    explicit ListedPaths(PathEquality rule = kPlatformPathEquality);

    bool Contains(std::string_view path) const;
    void Insert(std::string_view path);
    void Clear();
    std::size_t Size() const { return m_keys.size(); }

private:
    // Hashes a std::string and a std::string_view alike, so a lookup needs no copy of the path.
    // Not noexcept on purpose: libstdc++ then keeps each key's hash beside it, and a lookup
    // compares those instead of hashing again every key it passes in a bucket (a path is long,
    // and a walk asks for every path it meets).
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>{}(key);
        }
    };

    PathEquality m_rule;
    std::unordered_set<std::string, KeyHash, std::equal_to<>> m_keys;
};

} // namespace vorn
