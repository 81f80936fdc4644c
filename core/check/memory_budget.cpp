#include "core/check/memory_budget.h"

#include <algorithm>
#include <unistd.h>

namespace vorn {

MemoryBudget::Hold::Hold(Hold&& other) noexcept
    : m_budget(other.m_budget)
    , m_bytes(other.m_bytes) {
    other.m_budget = nullptr;
    other.m_bytes = 0;
}

MemoryBudget::Hold& MemoryBudget::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        Release();
        m_budget = other.m_budget;
        m_bytes = other.m_bytes;
        other.m_budget = nullptr;
        other.m_bytes = 0;
    }
    return *this;
}

bool MemoryBudget::Hold::TryGrow(std::uint64_t bytes) {
    if (bytes == 0) {
        return true;
    }
    if (m_budget == nullptr) {
        return false;
    }
    const std::lock_guard lock(m_budget->m_mutex);
    if (!m_budget->TakeLocked(bytes)) {
        return false;
    }
    m_bytes += bytes;
    return true;
}

void MemoryBudget::Hold::Release() {
    if (m_budget != nullptr && m_bytes > 0) {
        m_budget->Give(m_bytes);
    }
    m_bytes = 0;
}

MemoryBudget::MemoryBudget(std::uint64_t total)
    : m_total(total) {}

std::uint64_t MemoryBudget::Peak() const {
    const std::lock_guard lock(m_mutex);
    return m_peak;
}

bool MemoryBudget::TakeLocked(std::uint64_t bytes) {
    if (bytes > m_total - m_held) {
        return false;
    }
    m_held += bytes;
    m_peak = std::max(m_peak, m_held);
    return true;
}

void MemoryBudget::Give(std::uint64_t bytes) {
    {
        const std::lock_guard lock(m_mutex);
        m_held -= bytes;
    }
    // Waiters want amounts of every size: each looks whether its own is free now.
    m_freed.notify_all();
}

MemoryBudget::Hold MemoryBudget::Acquire(std::uint64_t bytes) {
    Hold hold;
    hold.m_budget = this;
    if (bytes == 0) {
        return hold;
    }
    bytes = std::min(bytes, m_total);
    std::unique_lock lock(m_mutex);
    m_freed.wait(lock, [&] { return TakeLocked(bytes); });
    hold.m_bytes = bytes;
    return hold;
}

std::optional<MemoryBudget::Hold> MemoryBudget::Acquire(std::uint64_t bytes,
                                                        const std::atomic<bool>& cancel) {
    Hold hold;
    hold.m_budget = this;
    bytes = std::min(bytes, m_total);
    if (bytes == 0) {
        return hold;
    }
    std::unique_lock lock(m_mutex);
    bool taken = false;
    m_freed.wait(lock, [&] { return cancel.load() || (taken = TakeLocked(bytes)); });
    if (!taken) {
        return std::nullopt;
    }
    hold.m_bytes = bytes;
    return hold;
}

std::optional<MemoryBudget::Hold> MemoryBudget::TryAcquire(std::uint64_t bytes) {
    Hold hold;
    hold.m_budget = this;
    if (!hold.TryGrow(bytes)) {
        return std::nullopt;
    }
    return hold;
}

void MemoryBudget::WakeWaiters() {
    // Under the lock, so that a waiter that has just found its flag clear is waiting already.
    const std::lock_guard lock(m_mutex);
    m_freed.notify_all();
}

std::uint64_t DefaultMemoryBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return std::uint64_t{1} << 30;
    }
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 4;
}

MemoryBudget& MachineMemoryBudget() {
    static MemoryBudget budget(DefaultMemoryBudget());
    return budget;
}

} // namespace vorn
