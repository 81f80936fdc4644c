#include "core/base/scope_exit.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(ScopeExit, RunsOnceWhenTheScopeEndsNormallyOrByAnException) {
    for (const bool throws : {false, true}) {
        int runs = 0;
        try {
            const ScopeExit count([&runs] { ++runs; });
            EXPECT_EQ(runs, 0);
            if (throws) {
                throw std::runtime_error("leave");
            }
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(runs, 1) << "throws " << throws;
    }
}

} // namespace
} // namespace vorn
