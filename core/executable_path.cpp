#include "core/os/executable_path.h"

#include <unistd.h>

namespace vorn {

std::string ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        // readlink() does not say whether it truncated: a result that fills the buffer may
        // have been cut, so try again with a larger one.
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace vorn
