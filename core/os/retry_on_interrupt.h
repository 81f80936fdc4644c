#pragma once
// System calls that a signal can interrupt before they do anything.

#include <cerrno>
#include <utility>

namespace vorn {

// Calls `call` until it does not fail with EINTR and returns its last result. `call` reports a
// failure as -1 with errno set, as the system calls do. Not for close(): on Linux the descriptor
// is released whatever close() returns, so a retry could close a descriptor opened meanwhile.
template <typename Call>
auto RetryOnInterrupt(Call&& call) {
    for (;;) {
        auto result = std::forward<Call>(call)();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

} // namespace vorn
