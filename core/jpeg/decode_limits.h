#pragma once
// The ceilings that keep the picture check bounded whatever a file declares.

#include <cstddef>
#include <cstdint>

namespace vorn {

struct DeepCheckLimits {
    // Declared width × height; a 200-megapixel phone picture stays below.
    std::uint64_t maxPixels = 300'000'000;
    // Progressive files written by encoders have about ten scans; a few thousand would already
    // mean one pass over the picture for each.
    std::uint64_t maxScans = 1000;
    // What the decoder may allocate (a progressive file holds all its coefficients).
    std::size_t maxMemory = 256u << 20;
    // Larger files are not read into memory.
    std::uint64_t maxFileBytes = 256u << 20;
};

} // namespace vorn
