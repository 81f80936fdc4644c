#pragma once
// The texts of the status bar summary.

#include <array>
#include <cstddef>
#include <string>

namespace vorn {

struct StateCounts {
    std::size_t unchecked = 0;
    std::size_t normal = 0;
    std::size_t error = 0;
};

// Panels 0 to 3: "<rows> Files", "U: <unchecked>", "C: <normal>", "E: <error>"; plain decimal,
// no grouping, no singular form ("1 Files").
std::array<std::string, 4> StatusTexts(std::size_t rowCount, const StateCounts& counts);

} // namespace vorn
