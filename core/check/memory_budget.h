#pragma once
// One amount of memory shared by the picture checks that run at once on the I/O threads (and
// the picture window's decode, which keeps the same rules), in place of a ceiling per file per
// thread: a check holds what its picture needs while it runs, so a large picture is checked
// when memory allows and waits its turn when it does not.
//
// Waiting never deadlocks, whatever the number of threads or the order results are taken in:
// memory is held only while a check runs and is given back when it ends (a result waiting to be
// taken holds none), and a check that holds memory never waits for more or for anything else
// (TryGrow does not wait). So every hold ends, and a waiting request is served once enough
// holds have ended, also on the thread that takes the results in order.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace vorn {

class MemoryBudget {
public:
    // Memory held for the bytes of one check; given back when it is destroyed or released.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { Release(); }

        std::uint64_t Bytes() const { return m_bytes; }
        // Adds `bytes` when they are free now; never waits. False, holding what it held, when
        // they are not.
        bool TryGrow(std::uint64_t bytes);
        void Release();

    private:
        friend class MemoryBudget;
        MemoryBudget* m_budget = nullptr;
        std::uint64_t m_bytes = 0;
    };

    explicit MemoryBudget(std::uint64_t total);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    std::uint64_t Total() const { return m_total; }
    // The most held at once so far.
    std::uint64_t Peak() const;

    // Waits until `bytes` are free and holds them. A request for more than Total() could never
    // be served: the caller says so instead of asking (asked, it waits until nothing else is
    // held and holds Total()).
    Hold Acquire(std::uint64_t bytes);
    // The same for a waiter that may be called off: nothing, holding nothing, once `cancel` is
    // set and WakeWaiters is called or memory is given back.
    std::optional<Hold> Acquire(std::uint64_t bytes, const std::atomic<bool>& cancel);
    // Holds `bytes` when they are free now; never waits.
    std::optional<Hold> TryAcquire(std::uint64_t bytes);
    // Has every waiter look at its cancel flag again: for the one who set it.
    void WakeWaiters();

private:
    bool TakeLocked(std::uint64_t bytes);
    void Give(std::uint64_t bytes);

    const std::uint64_t m_total;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    std::uint64_t m_held = 0;
    std::uint64_t m_peak = 0;
};

// A quarter of the machine's physical memory: room for the largest pictures a camera writes
// beside whatever else the machine runs.
std::uint64_t DefaultMemoryBudget();

// The budget of the checks that are given none: DefaultMemoryBudget(), one for the process.
MemoryBudget& MachineMemoryBudget();

} // namespace vorn
