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
    // Blocks decoded, summed over the scans, as the headers declare them. A progressive
    // 48-megapixel 4:4:4 photo decodes about 10 million (ten scans over 2.25 million blocks);
    // a run of empty blocks costs the decoder some 20 ns a block, so the worst file within this
    // takes a few seconds.
    std::uint64_t maxScanBlocks = 150'000'000;
    // What the decoder may allocate. A progressive picture holds all its coefficients, 128 bytes
    // for each block of 8 × 8 samples: 6 bytes a pixel in 4:4:4, so 288 MB for a common
    // 48-megapixel export. This takes an 80-megapixel 4:4:4 one (480 MB) and the decoder's own
    // buffers; the decoder asks before it allocates, so a file that only declares more costs
    // nothing.
    std::size_t maxMemory = std::size_t{512} << 20;
    // Larger files are not read into memory.
    std::uint64_t maxFileBytes = 256u << 20;
};

} // namespace vorn
