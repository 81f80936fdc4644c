#include "core/os/read_at.h"

#include <unistd.h>

#include "core/os/retry_on_interrupt.h"

namespace vorn {

std::optional<std::size_t> ReadAt(int fd, std::uint64_t offset, std::size_t size, void* into) {
    auto* const bytes = static_cast<unsigned char*>(into);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = RetryOnInterrupt(
            [&] { return ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got)); });
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

} // namespace vorn
