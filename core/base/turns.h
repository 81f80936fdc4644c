#pragma once
// Turns at something only so many threads may do at once (the picture check, which is work for
// the processors rather than the file system): a thread takes a turn, waiting while all of them
// are taken, and gives it back when its Turn ends. Each thread's time at turns is counted, so
// that what measures the storage by how long its requests take can leave that time out.
//
// In place of std::counting_semaphore. In the GCC 12 library its release wakes no one when the
// count was above zero, while a thread that has just found it at zero may be on its way to
// sleep; that thread then sleeps until a later release finds the count at zero, and when no
// other thread wants a turn meanwhile, for good. vorn-check hung so, its walking thread asleep
// for a turn while both were free and every I/O thread idle.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vorn {

class Turns {
public:
    explicit Turns(std::size_t count);
    Turns(const Turns&) = delete;
    Turns& operator=(const Turns&) = delete;

    // What the calling thread has spent so far at turns of any Turns: its time waiting for them
    // and holding them, and how many times it had to wait for one. Work for the processors,
    // and waits for them, however long they took.
    struct ThreadTotals {
        std::chrono::nanoseconds time{0};
        std::uint64_t waits = 0;
    };
    static ThreadTotals ThreadAtTurns();

    // A turn, held from its construction, which waits for it, to its destruction.
    class Turn {
    public:
        explicit Turn(Turns& turns);
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        Turns& m_turns;
        std::chrono::steady_clock::time_point m_asked;
    };

private:
    std::mutex m_mutex;
    std::condition_variable m_given;
    std::size_t m_free;
    std::size_t m_waiting = 0;
};

} // namespace vorn
