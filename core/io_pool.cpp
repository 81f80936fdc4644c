#include "core/io_pool.h"

#include <algorithm>

namespace vorn {

IoPool::IoPool(std::size_t maxThreads)
    : m_maxThreads(std::max<std::size_t>(1, maxThreads)) {}

IoPool::~IoPool() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void IoPool::Submit(std::shared_ptr<Task> task) {
    bool start = false;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(task));
        // A new thread only when every started one is busy: a queue that idle workers drain
        // needs no more of them.
        start = m_idle < m_queue.size() && m_threads.size() < m_maxThreads;
        if (start)
            m_threads.emplace_back([this] { Work(); });
    }
    if (!start)
        m_wake.notify_one();
}

bool IoPool::RunHere(Task& task) {
    int expected = Task::kPending;
    if (!task.m_state.compare_exchange_strong(expected, Task::kRunning, std::memory_order_acq_rel))
        return false;
    task.Run();
    // Sequentially consistent with the waiters' count: either a waiter sees the task done, or
    // this sees the waiter; the lock then orders the wake-up after the waiter's last look.
    task.m_state.store(Task::kDone);
    m_completions.fetch_add(1);
    if (m_waiters.load() > 0) {
        const std::lock_guard lock(m_mutex);
        m_finished.notify_all();
    }
    return true;
}

void IoPool::Wait(Task& task) {
    if (task.Done() || RunHere(task))
        return;
    std::unique_lock lock(m_mutex);
    ++m_waiters;
    m_finished.wait(lock, [&] { return task.m_state.load() == Task::kDone; });
    --m_waiters;
}

void IoPool::WaitForCompletion(std::uint64_t seen) {
    std::unique_lock lock(m_mutex);
    ++m_waiters;
    m_finished.wait(lock, [&] { return m_completions.load() != seen; });
    --m_waiters;
}

std::size_t IoPool::Threads() const {
    const std::lock_guard lock(m_mutex);
    return m_threads.size();
}

void IoPool::Work() {
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::unique_lock lock(m_mutex);
            ++m_idle;
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            --m_idle;
            if (m_stopping)
                return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // A task the waiting thread has already run is only dropped here.
        RunHere(*task);
    }
}

} // namespace vorn
