// Feeds arbitrary bytes to the picture check: whatever a file holds, the check ends with a
// verdict, without a crash, a hang or memory beyond its ceilings.

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/check/deep_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Lower ceilings than the program's, so that each input is decoded quickly.
    vorn::DeepCheckLimits limits;
    limits.maxPixels = 4'000'000;
    limits.maxScans = 100;
    limits.maxMemory = 64u << 20;
    const vorn::DeepCheckResult result = vorn::DeepCheckBytes(std::span(data, size), limits);
    if (result.verdict == vorn::DeepVerdict::Sound && result.trailerBytes > size) {
        __builtin_trap();
    }
    return 0;
}
