#include "core/base/turns.h"

namespace vorn {

namespace {

thread_local Turns::ThreadTotals t_atTurns;

} // namespace

Turns::Turns(std::size_t count)
    : m_free(count) {}

Turns::ThreadTotals Turns::ThreadAtTurns() {
    return t_atTurns;
}

Turns::Turn::Turn(Turns& turns)
    : m_turns(turns)
    , m_asked(std::chrono::steady_clock::now()) {
    std::unique_lock lock(turns.m_mutex);
    if (turns.m_free == 0) {
        ++t_atTurns.waits;
        ++turns.m_waiting;
        turns.m_given.wait(lock, [&] { return turns.m_free > 0; });
        --turns.m_waiting;
    }
    --turns.m_free;
}

Turns::Turn::~Turn() {
    t_atTurns.time += std::chrono::steady_clock::now() - m_asked;
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
