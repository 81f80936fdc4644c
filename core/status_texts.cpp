#include "core/program/status_texts.h"

namespace vorn {

std::array<std::string, 4> StatusTexts(std::size_t rowCount, const StateCounts& counts) {
    // std::to_string never groups digits, whatever the locale.
    return {std::to_string(rowCount) + " Files", "U: " + std::to_string(counts.unchecked),
            "C: " + std::to_string(counts.normal), "E: " + std::to_string(counts.error)};
}

} // namespace vorn
