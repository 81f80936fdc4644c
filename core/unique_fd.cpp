#include "core/os/unique_fd.h"

#include <cerrno>
#include <unistd.h>

namespace vorn {

UniqueFd::~UniqueFd() {
    Close();
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.Release();
    }
    return *this;
}

int UniqueFd::Release() noexcept {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool UniqueFd::Close() noexcept {
    if (m_fd < 0) {
        return true;
    }
    // close() is not retried on EINTR: the descriptor is gone whatever it returns.
    return ::close(Release()) == 0 || errno == EINTR;
}

} // namespace vorn
