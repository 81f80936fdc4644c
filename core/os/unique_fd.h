#pragma once
// Ownership of one open file descriptor.

namespace vorn {

// Closes the descriptor it holds when it goes out of scope. A negative descriptor (a failed
// open) is held as "none".
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) noexcept
        : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const noexcept { return m_fd; }
    bool Valid() const noexcept { return m_fd >= 0; }
    // Gives the descriptor up without closing it.
    int Release() noexcept;
    // Closes now and tells whether the system took it without an error: some file systems
    // (network ones, a full disk with delayed allocation) report a failed write only here.
    // An interrupted close still released the descriptor and counts as done. Holding none
    // counts as done too.
    bool Close() noexcept;

private:
    int m_fd;
};

} // namespace vorn
