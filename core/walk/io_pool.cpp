#include "core/walk/io_pool.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <pthread.h>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

#include "core/base/processor_count.h"
#include "core/base/turns.h"

namespace vorn {

namespace {

// A request slower than this, during which its thread waited, waits on storage (a cold disk, a
// network share); a faster one is answered from the page cache.
constexpr std::int64_t kSlowTaskNs = 50'000;
// The tasks wait on storage when at least this many of the last 64 were slow.
constexpr int kSlowOfRecent = 4;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How often the calling thread has waited of its own accord since it last looked: for the
// storage, or for anything else. A task that took long without its thread waiting at all was
// slow for the processor, not the storage: it lost the processor halfway to another busy thread
// (the state's writing thread, on two cores), or had work of its own to do. Taken for requests
// waiting on a disk, such tasks woke every I/O thread, and the threads took the processor from
// each other in turn: the two processors stood idle for 11-13 % of a first run with a state,
// against 1-5 % without one; and a --deep run from the page cache, some of whose picture checks
// take over 50 us of the processor's time alone, started all 32 I/O threads in half the runs,
// with a state in every run. The count is read when a thread starts running tasks after a sleep of
// its own and after each slow task, not around every task: the reading is a system call.
class OwnWaits {
public:
    // The thread slept, or may have: the next task reads the count before it starts.
    void Forget() { m_known = false; }
    void TakeIfUnknown() {
        if (!m_known) {
            m_known = Read(m_waits);
        }
    }
    // Whether the thread has waited of its own accord since the count was taken; takes the
    // count again. True when it cannot tell.
    bool WaitedSince() {
        long waits = 0;
        if (!m_known || !Read(waits)) {
            return true;
        }
        const bool waited = waits != m_waits;
        m_waits = waits;
        return waited;
    }

private:
    static bool Read(long& waits) {
#ifdef RUSAGE_THREAD
        struct rusage usage {};
        if (::getrusage(RUSAGE_THREAD, &usage) == 0) {
            waits = usage.ru_nvcsw;
            return true;
        }
#endif
        (void)waits;
        return false;
    }

    bool m_known = false;
    long m_waits = 0;
};

thread_local OwnWaits t_waits;

// Waits a little for `done` without sleeping: a request answered from the page cache takes a
// few microseconds, far less than putting a thread to sleep and waking it again.
template <typename Done>
bool SpinFor(Done done) {
    for (int i = 0; i < 200; ++i) {
        if (done()) {
            return true;
        }
        if (i < 100) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        } else {
            std::this_thread::yield();
        }
    }
    return done();
}

// An I/O thread gives way to the thread that takes the results, and is named so that a profile
// or a process list tells it from the program's own threads.
// Each I/O thread needs the processor for a moment per request, and there are many; the
// scheduler shares the processor between threads evenly, so the one thread all of them wait on
// would otherwise queue behind them while the storage idles (on a cold disk with two cores it
// spent a fifth of the run waiting for a processor, and 94,000 files took 2.4 s instead of
// 2.0 s). In the window that thread draws the rows as well. On Linux the nice value belongs to
// the thread; elsewhere it would lower the whole program, so it is left alone there.
void SetUpIoThread() {
#ifdef __linux__
    constexpr int kIoThreadNice = 10;
    [[maybe_unused]] const int niceNow = ::nice(kIoThreadNice);
    ::pthread_setname_np(::pthread_self(), "vorn-io");
#endif
}

} // namespace

IoPool::IoPool(std::size_t maxThreads)
    : m_maxThreads(std::max<std::size_t>(1, maxThreads))
    , m_cores(ProcessorCount()) {}

IoPool::~IoPool() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void IoPool::Submit(std::shared_ptr<Task> task) {
    const std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(task));
    ++m_submitted;
    WakeMoreLocked();
}

void IoPool::WakeMoreLocked() {
    // A thread told to wake takes a queued task: no more are woken than tasks wait.
    if (m_queue.size() <= m_waking || m_stopping) {
        return;
    }
    // A lone task starts no thread: the thread that waits for it runs it (WaitForEither), so a
    // run of one file costs no thread at all. The second task queued starts the first worker.
    if (m_threads.empty() && m_queue.size() < 2) {
        return;
    }
    // Requests that wait on storage want many in flight; requests the page cache answers want
    // no more threads awake than cores, since each further wake-up costs more than a request.
    const std::size_t cap = SlowTasks() ? m_maxThreads : std::min(m_maxThreads, m_cores);
    const std::size_t awake = m_threads.size() - m_idle + m_waking;
    if (awake >= cap) {
        return;
    }
    if (m_idle > m_waking) {
        ++m_waking;
        m_wake.notify_one();
    } else if (m_threads.size() < m_maxThreads && !m_threadsRefused) {
        try {
            m_threads.emplace_back([this] { ServeQueue(); });
        } catch (const std::system_error&) {
            // The system refuses another thread (a process limit, a container's): the run goes
            // on with the threads it has, down to none, the waiting thread running the rest.
            m_threadsRefused = true;
        }
    }
}

bool IoPool::RunHere(Task& task) {
    int expected = Task::kPending;
    if (!task.m_state.compare_exchange_strong(expected, Task::kRunning,
                                              std::memory_order_acq_rel)) {
        return false;
    }
    const bool tells = task.TellsStorageSpeed();
    if (tells) {
        t_waits.TakeIfUnknown();
    }
    const std::int64_t start = NowNs();
    const Turns::ThreadTotals atTurnsBefore = Turns::ThreadAtTurns();
    try {
        task.Run();
    } catch (...) {
        task.m_failure = std::current_exception();
    }
    // The time at a turn (a picture's check) is work for the processors. A task that had to
    // wait for one says nothing of the storage: its thread slept for the processors, and the
    // count of its waits does not tell that sleep from one for the storage.
    const Turns::ThreadTotals atTurns = Turns::ThreadAtTurns();
    const std::int64_t took = NowNs() - start - (atTurns.time - atTurnsBefore.time).count();
    if (tells && atTurns.waits != atTurnsBefore.waits) {
        t_waits.Forget();
    } else if (tells) {
        const bool slow = took > kSlowTaskNs && t_waits.WaitedSince();
        // Two threads that end at once may lose one of their marks: the count is an estimate.
        const std::uint64_t recent = m_recentSlow.load(std::memory_order_relaxed);
        m_recentSlow.store((recent << 1) | (slow ? 1 : 0), std::memory_order_relaxed);
    }
    // Sequentially consistent with the waiter's marks: either the waiter sees the task done and
    // counted, or this sees the marks and wakes it.
    task.m_state.store(Task::kDone);
    const std::uint64_t ended = m_ended.fetch_add(1) + 1;
    if (task.m_watched.load() || ended >= m_wakeAt.load()) {
        // The lock orders this after the waiter's last look; the wake-up comes after it, so
        // the waiter does not wake into a held lock.
        { const std::lock_guard lock(m_waitMutex); }
        m_finished.notify_one();
    }
    return true;
}

void IoPool::Wait(Task& task, std::uint64_t alsoEnded) {
    while (!task.Done() && !RunHere(task)) {
        WaitForEither(task, nullptr, alsoEnded);
    }
}

void IoPool::WaitForEither(Task& task, Task* other, std::uint64_t alsoEnded) {
    const auto otherDone = [&] {
        return other != nullptr && other->Done();
    };
    // Tasks the page cache answers: the waiting thread runs a queued task itself instead of
    // sleeping, since on few cores its wait would only take a core from the workers; with
    // nothing queued it waits a little without sleeping.
    // So does a thread whose pool has no worker (none needed yet, or the system refuses them),
    // which would otherwise sleep forever.
    if ((!SlowTasks() || !HasWorkers()) &&
        (RunOldestQueued() || SpinFor([&] { return task.Done() || otherDone(); }))) {
        return;
    }
    if (other != nullptr) {
        other->m_watched.store(true);
    }
    // Every task submitted ends, so a count no larger than theirs is reached.
    const std::uint64_t target = std::min(m_ended.load() + alsoEnded, m_submitted.load());
    m_wakeAt.store(target);
    std::unique_lock lock(m_waitMutex);
    for (;;) {
        if (otherDone() || (task.Done() && m_ended.load() >= target)) {
            break;
        }
        if (m_ended.load() >= target) {
            // The batch has ended without `task`: from now on only its own end wakes this
            // thread, not every other one. Marked before the last look, as in RunHere.
            m_wakeAt.store(UINT64_MAX);
            task.m_watched.store(true);
            if (task.Done()) {
                break;
            }
        }
        m_finished.wait(lock);
        t_waits.Forget();
    }
    m_wakeAt.store(UINT64_MAX);
}

bool IoPool::RunOldestQueued() {
    std::shared_ptr<Task> task;
    {
        const std::lock_guard lock(m_mutex);
        while (!m_queue.empty() && !task) {
            if (m_queue.front()->m_state.load() == Task::kPending) {
                task = m_queue.front();
            }
            m_queue.pop_front();
        }
    }
    return task && RunHere(*task);
}

bool IoPool::HasWorkers() const {
    const std::lock_guard lock(m_mutex);
    return !m_threads.empty();
}

bool IoPool::SlowTasks() const {
    // On a cold disk one request in many may wait for a block that then answers the next ones
    // from memory, and those few decide how many should be in flight; yet a request answered
    // from memory is now and then slow too, when its thread loses the processor halfway, and
    // waking every thread for that would make the next ones slow in turn.
    return std::popcount(m_recentSlow.load(std::memory_order_relaxed)) >= kSlowOfRecent;
}

void IoPool::ServeQueue() {
    SetUpIoThread();
    for (;;) {
        std::shared_ptr<Task> task;
        {
            std::unique_lock lock(m_mutex);
            ++m_idle;
            while (!m_stopping && m_queue.empty()) {
                m_wake.wait(lock);
                t_waits.Forget();
                // Told to wake (or woken for no reason): no longer owed a wake-up, also when
                // another thread has taken the task meanwhile and this one sleeps again. A
                // count that kept such threads would soon hold every idle one, and no
                // thread would be woken again however many tasks wait.
                if (m_waking > 0) {
                    --m_waking;
                }
            }
            --m_idle;
            if (m_stopping) {
                return;
            }
            task = std::move(m_queue.front());
            m_queue.pop_front();
            // Slow requests left queued get another thread, so the number in flight grows
            // to what the storage needs without waiting for the next submission.
            WakeMoreLocked();
        }
        // A task the waiting thread has already run is only dropped here.
        RunHere(*task);
    }
}

} // namespace vorn
