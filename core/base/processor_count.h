#pragma once
// How many processors the program counts on: the picture checks take as many turns at once, and
// the allocator and the I/O pool size themselves by it. At least one when the system cannot tell.

#include <algorithm>
#include <cstddef>
#include <thread>

namespace vorn {

inline std::size_t ProcessorCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace vorn
