#pragma once
// A pool of threads for file-system requests that mostly wait (a cold disk, a network share),
// so it is sized by the number of requests worth keeping in flight, not by the number of cores.
// Threads start only when a task finds no idle one, and the first only for a second task: a
// run of one file starts none, its one task runs on the thread that waits for it.
// Tasks answered from the page cache in microseconds keep no more threads awake than cores
// (waking a thread costs more than such a task); slower ones get up to the maximum, unless they
// were slow only because their thread lost the processor to another.
//
// A task is run once, by a worker or by the thread that waits for it (Wait runs a task that no
// worker has started yet on the waiting thread, so waiting never depends on a free worker).
// The destructor drops the tasks not started, waits for the running ones and joins every
// thread: a pool that goes out of scope leaves no thread behind.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vorn {

// The requests a caller keeps ahead of the results it takes: `window`, or sixteen times the
// threads when it is 0. A caller refills the window only as it takes results, in turns; with a
// deep window a thread that ends a request finds the next one queued instead of going to sleep
// until the caller's next turn (cold, two cores, 94,000 files on 32 threads: 1.5-1.6 s with
// 512 requests ahead, 1.8-2.2 s with 64, and the window's check 1.5-1.9 s against 2.2 s).
inline std::size_t LookAheadWindow(std::size_t window, std::size_t threads) {
    return window != 0 ? window : 16 * (threads != 0 ? threads : 1);
}

// The results a caller taking them in order lets end before it wakes, once it has to sleep: an
// eighth of its look-ahead. It then wakes once for a batch of results instead of once for each
// (on a cold disk, a sleep and a wake-up per file cost as much as a fifth of the run), while the
// rest of the window keeps the threads busy.
inline std::uint64_t WakeBatch(std::size_t window) {
    return window / 8;
}

class IoPool {
public:
    class Task {
    public:
        virtual ~Task() = default;
        bool Done() const { return m_state.load(std::memory_order_acquire) == kDone; }
        // Once done: whether Run threw, and that exception thrown again on the calling thread
        // (the one taking the result), nothing when it did not.
        bool Failed() const { return m_failure != nullptr; }
        void RethrowFailure() const {
            if (m_failure) {
                std::rethrow_exception(m_failure);
            }
        }

    protected:
        // Runs on a worker or on a waiting thread. What it throws is kept for the thread that
        // takes the result (RethrowFailure), so a failure ends no thread of the pool.
        virtual void Run() = 0;
        // Whether the time this task took, once run, tells how fast the storage answers: not
        // for a task that spends most of its time computing.
        virtual bool TellsStorageSpeed() const { return true; }

    private:
        friend class IoPool;
        static constexpr int kPending = 0;
        static constexpr int kRunning = 1;
        static constexpr int kDone = 2;
        std::atomic<int> m_state{kPending};
        // A thread sleeps until this task is done: its end wakes that thread. The end of any
        // other task wakes no one, so a caller taking results in order sleeps once per result
        // it has to wait for, not once per request that ends meanwhile.
        std::atomic<bool> m_watched{false};
        std::exception_ptr m_failure; // written before the task is marked done
    };

    explicit IoPool(std::size_t maxThreads);
    ~IoPool();
    IoPool(const IoPool&) = delete;
    IoPool& operator=(const IoPool&) = delete;

    // Queues `task`; tasks start in the order they were submitted.
    void Submit(std::shared_ptr<Task> task);
    // Returns once `task` has run, running it here when no worker has started it; with
    // `alsoEnded`, sleeps until that many further tasks have ended too (see WaitForEither).
    void Wait(Task& task, std::uint64_t alsoEnded = 0);
    // Runs `task` here when no one has started it yet; false when someone has.
    bool RunHere(Task& task);
    // Returns once `task` has run and `alsoEnded` further tasks have ended since the call (or
    // every task submitted so far has), or once `other` (when not null) has run, or once this
    // thread has run another queued task in their place (the caller then looks again).
    // A caller taking results in order passes WakeBatch of its look-ahead as `alsoEnded`. One
    // thread waits at a time.
    void WaitForEither(Task& task, Task* other, std::uint64_t alsoEnded = 0);

private:
    // A worker thread's life: it runs queued tasks until the pool stops.
    void ServeQueue();
    // Wakes or starts one more worker when tasks are queued and fewer are awake than the
    // tasks' speed asks for. Called with the lock held.
    void WakeMoreLocked();
    // Takes the oldest queued task no one has started and runs it here; false when there is
    // none.
    bool RunOldestQueued();
    // True when the tasks wait on storage: enough of the recent ones took longer than the page
    // cache takes.
    bool SlowTasks() const;
    bool HasWorkers() const;

    const std::size_t m_maxThreads;
    const std::size_t m_cores;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<Task>> m_queue;
    std::vector<std::thread> m_threads;
    std::size_t m_idle = 0;   // workers asleep, waiting for a task
    std::size_t m_waking = 0; // of them, told to wake and not awake yet
    // One bit per task ended lately, the newest lowest: set when it was slow.
    std::atomic<std::uint64_t> m_recentSlow{0};
    std::atomic<std::uint64_t> m_submitted{0};
    std::atomic<std::uint64_t> m_ended{0};
    // A sleeping waiter's count of ended tasks to be woken at; none sleeps: the largest value.
    std::atomic<std::uint64_t> m_wakeAt{UINT64_MAX};
    // The waiter sleeps on its own lock, apart from the queue's, so that the workers taking
    // tasks never queue behind it.
    std::mutex m_waitMutex;
    std::condition_variable m_finished;
    bool m_stopping = false;
    bool m_threadsRefused = false; // the system refused a thread: no further one is asked for
};

} // namespace vorn
