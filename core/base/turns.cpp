#include "core/base/turns.h"

namespace vorn {

Turns::Turns(std::size_t count)
    : m_free(count) {}

Turns::Turn::Turn(Turns& turns)
    : m_turns(turns) {
    std::unique_lock lock(turns.m_mutex);
    ++turns.m_waiting;
    turns.m_given.wait(lock, [&] { return turns.m_free > 0; });
    --turns.m_waiting;
    --turns.m_free;
}

Turns::Turn::~Turn() {
    bool waiting = false;
    {
        const std::lock_guard lock(m_turns.m_mutex);
        ++m_turns.m_free;
        waiting = m_turns.m_waiting > 0;
    }
    if (waiting) {
        m_turns.m_given.notify_one();
    }
}

} // namespace vorn
