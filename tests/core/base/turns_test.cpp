// Turns are never held by more threads than there are turns, and every thread that waits for
// one gets it: a lost wake-up would leave a thread asleep while turns are free, and the test
// would not end.

#include "core/base/turns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace vorn {
namespace {

TEST(Turns, NoMoreHoldersThanTurnsAndEveryWaiterServed) {
    for (const std::size_t count : {1u, 2u}) {
        Turns turns(count);
        std::atomic<std::size_t> holding{0};
        std::atomic<std::size_t> most{0};
        std::atomic<int> taken{0};
        constexpr int kThreads = 5;
        constexpr int kRounds = 20000;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                for (int round = 0; round < kRounds; ++round) {
                    const Turns::Turn turn(turns);
                    const std::size_t now = ++holding;
                    std::size_t seen = most.load();
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {
                    }
                    ++taken;
                    --holding;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(taken.load(), kThreads * kRounds) << count << " turns";
        EXPECT_LE(most.load(), count) << count << " turns";
    }
}

} // namespace
} // namespace vorn
