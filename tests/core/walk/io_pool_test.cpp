// A thread waiting for a result in order sleeps until its task and a batch of others have ended:
// it must never return before its task has run, never sleep through the end that concerns it,
// and never wait for more tasks than were ever submitted. Tasks that wait on storage each get a
// thread, run after run; tasks that took long without waiting on storage (their thread lost
// the processor, worked, or waited for a turn at the processors) do not.

#include "core/walk/io_pool.h"

#include "core/base/turns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <sched.h>
#include <thread>
#include <vector>

namespace vorn {
namespace {

// Runs on a worker until released, or for at most ten seconds, so that a failed test ends.
struct HeldTask final : IoPool::Task {
    std::atomic<bool> started{false};
    std::atomic<bool> released{false};
    void Run() noexcept override {
        started = true;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!released && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
};

// A request that waits a millisecond, as one to a cold disk does.
struct SlowTask final : IoPool::Task {
    void Run() noexcept override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
};

// A run of slow tasks tells the pool that its tasks wait on storage: then every task gets a
// thread of its own.
void LearnTasksAreSlow(IoPool& pool) {
    std::vector<std::shared_ptr<SlowTask>> tasks;
    for (int i = 0; i < 16; ++i) {
        tasks.push_back(std::make_shared<SlowTask>());
        pool.Submit(tasks.back());
    }
    for (const auto& task : tasks) {
        pool.Wait(*task);
    }
}

bool AllStartedWithin(const std::vector<std::shared_ptr<HeldTask>>& tasks,
                      std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (const auto& task : tasks) {
        while (!task->started) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
    }
    return true;
}

void ReleaseAndWait(IoPool& pool, const std::vector<std::shared_ptr<HeldTask>>& tasks) {
    for (const auto& task : tasks) {
        task->released = true;
    }
    for (const auto& task : tasks) {
        pool.Wait(*task);
    }
}

TEST(IoPool, EverySlowTaskGetsAThreadRunAfterRun) {
    constexpr int kThreads = 8;
    IoPool pool(kThreads);
    LearnTasksAreSlow(pool);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::shared_ptr<HeldTask>> tasks;
        for (int i = 0; i < kThreads; ++i) {
            tasks.push_back(std::make_shared<HeldTask>());
            pool.Submit(tasks.back());
        }
        const bool started = AllStartedWithin(tasks, std::chrono::seconds(2));
        ReleaseAndWait(pool, tasks);
        ASSERT_TRUE(started) << "round " << round;
    }
}

#ifdef __linux__
// The calling thread, and the threads it starts from now on, on one processor of those it has.
class OnOneProcessor {
public:
    OnOneProcessor() {
        ::sched_getaffinity(0, sizeof m_before, &m_before);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &m_before)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        ::sched_setaffinity(0, sizeof one, &one);
    }
    ~OnOneProcessor() { ::sched_setaffinity(0, sizeof m_before, &m_before); }
    OnOneProcessor(const OnOneProcessor&) = delete;
    OnOneProcessor& operator=(const OnOneProcessor&) = delete;

private:
    cpu_set_t m_before{};
};

// Tasks that take long without waiting on storage: none of them may make the pool take its
// tasks for requests to a slow disk and wake every thread.
struct NotStorageCase {
    const char* name;
    // One task's work; `turns` has one turn.
    void (*run)(Turns& turns);
    // Runs with a busy thread beside the pool, all on one processor.
    bool besideABusyThread;
};

void PrintTo(const NotStorageCase& row, std::ostream* out) {
    *out << row.name;
}

void WorkFor(std::chrono::microseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
    }
}

class IoPoolNotStorage : public ::testing::TestWithParam<NotStorageCase> {};

TEST_P(IoPoolNotStorage, DoesNotWakeEveryThread) {
    const NotStorageCase& row = GetParam();
    struct Work final : IoPool::Task {
        const NotStorageCase* row = nullptr;
        Turns* turns = nullptr;
        void Run() noexcept override { row->run(*turns); }
    };
    std::optional<OnOneProcessor> pinned;
    if (row.besideABusyThread) {
        pinned.emplace();
    }
    const std::size_t threads = std::max(1u, std::thread::hardware_concurrency()) + 4;
    IoPool pool(threads);
    {
        std::atomic<bool> stop{false};
        std::thread busy;
        if (row.besideABusyThread) {
            busy = std::thread([&] {
                while (!stop) {
                }
            });
        }
        Turns turns(1);
        std::vector<std::shared_ptr<Work>> tasks;
        for (int i = 0; i < 64; ++i) {
            tasks.push_back(std::make_shared<Work>());
            tasks.back()->row = &row;
            tasks.back()->turns = &turns;
            pool.Submit(tasks.back());
        }
        for (const auto& task : tasks) {
            pool.Wait(*task);
        }
        stop = true;
        if (busy.joinable()) {
            busy.join();
        }
    }
    // Taken for tasks waiting on storage, these would each get a thread at once.
    std::vector<std::shared_ptr<HeldTask>> held;
    for (std::size_t i = 0; i < threads; ++i) {
        held.push_back(std::make_shared<HeldTask>());
        pool.Submit(held.back());
    }
    const bool allStarted = AllStartedWithin(held, std::chrono::milliseconds(500));
    ReleaseAndWait(pool, held);
    EXPECT_FALSE(allStarted);
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, IoPoolNotStorage,
    ::testing::Values(
        // Gives the processor to the busy thread halfway, as the scheduler does to an I/O
        // thread, and gets it back a slice later.
        NotStorageCase{"Preempted", [](Turns&) { ::sched_yield(); }, true},
        // A picture checked from the page cache: work for the processor alone.
        NotStorageCase{"Working", [](Turns&) { WorkFor(std::chrono::microseconds(300)); }, false},
        // Waits for the one turn while others check their pictures at it.
        NotStorageCase{"AtATurn",
                       [](Turns& turns) {
                           const Turns::Turn turn(turns);
                           WorkFor(std::chrono::microseconds(300));
                       },
                       false}),
    [](const ::testing::TestParamInfo<NotStorageCase>& row) {
        return std::string(row.param.name);
    });
#endif

// A run of one file costs no thread: its one task runs on the thread that waits for it, and only
// a second task starts a worker.
TEST(IoPool, ALoneTaskRunsOnTheThreadThatWaitsForIt) {
    struct Probe final : IoPool::Task {
        std::thread::id ranOn;
        void Run() noexcept override { ranOn = std::this_thread::get_id(); }
    };
    IoPool pool(8);
    const auto lone = std::make_shared<Probe>();
    pool.Submit(lone);
    // Time for a worker, had one started, to take the task first.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pool.Wait(*lone);
    EXPECT_EQ(lone->ranOn, std::this_thread::get_id());

    const std::vector<std::shared_ptr<HeldTask>> two{std::make_shared<HeldTask>(),
                                                     std::make_shared<HeldTask>()};
    pool.Submit(two[0]);
    pool.Submit(two[1]);
    EXPECT_TRUE(AllStartedWithin({two[0]}, std::chrono::seconds(2)));
    ReleaseAndWait(pool, two);
}

struct WaitCase {
    const char* name;
    int tasks;
    std::uint64_t batch;
    std::vector<int> releaseOrder; // task 0 is waited for
    bool waitForOther;             // wait for task 0 or task 1, whichever ends first
};

// A row is told by its name, in a failure's message too, not by a dump of its bytes.
void PrintTo(const WaitCase& row, std::ostream* out) {
    *out << row.name;
}

class IoPoolWait : public ::testing::TestWithParam<WaitCase> {};

TEST_P(IoPoolWait, ReturnsOnceItsTaskHasEnded) {
    const WaitCase& row = GetParam();
    IoPool pool(static_cast<std::size_t>(row.tasks));
    LearnTasksAreSlow(pool);
    std::vector<std::shared_ptr<HeldTask>> tasks;
    for (int i = 0; i < row.tasks; ++i) {
        tasks.push_back(std::make_shared<HeldTask>());
        pool.Submit(tasks.back());
    }
    // Every task on a worker, so that the waiting thread cannot run its own.
    ASSERT_TRUE(AllStartedWithin(tasks, std::chrono::seconds(10)));
    std::thread releaser([&] {
        for (const int index : row.releaseOrder) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            tasks[static_cast<std::size_t>(index)]->released = true;
        }
    });
    if (row.waitForOther) {
        while (!tasks[0]->Done() && !tasks[1]->Done()) {
            pool.WaitForEither(*tasks[0], tasks[1].get(), row.batch);
        }
        EXPECT_TRUE(tasks[1]->Done()) << "the other task was released first";
    } else {
        pool.Wait(*tasks[0], row.batch);
        EXPECT_TRUE(tasks[0]->Done());
    }
    for (const auto& task : tasks) {
        task->released = true;
    }
    releaser.join();
}

INSTANTIATE_TEST_SUITE_P(
    Batches, IoPoolWait,
    ::testing::Values(WaitCase{"TaskAlone", 1, 0, {0}, false},
                      WaitCase{"TaskFirstThenTheBatch", 5, 4, {0, 1, 2, 3, 4}, false},
                      WaitCase{"BatchFirstThenTheTask", 5, 2, {1, 2, 3, 4, 0}, false},
                      WaitCase{"BatchLargerThanEverSubmitted", 3, 100, {2, 0, 1}, false},
                      WaitCase{"TaskEndsButTheBatchNever", 4, 8, {0, 1, 2, 3}, false},
                      WaitCase{"OtherEndsFirst", 3, 1, {1, 2, 0}, true}),
    [](const ::testing::TestParamInfo<WaitCase>& row) { return std::string(row.param.name); });

} // namespace
} // namespace vorn
