#include "core/window_bounds.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vorn {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(WindowBounds, DialogIsCentredOverTheMainWindow) {
    struct Case {
        WindowBounds main;
        std::int32_t width;
        std::int32_t height;
        WindowPosition expected;
    };
    const std::vector<Case> cases = {
        {{380, 105, 588, 366}, 342, 74, {503, 251}},
        // An odd main width halves down to the same left.
        {{380, 105, 589, 367}, 342, 74, {503, 251}},
        // Partly off screen: no clamping to the screen.
        {{-101, -50, 300, 100}, 342, 75, {-101 + 150 - 171, -50 + 50 - 37}},
        // A dialog larger than the main window starts before it.
        {{0, 0, 100, 100}, 301, 301, {-100, -100}},
        // Odd negative sizes truncate towards zero: -3 / 2 is -1, not -2.
        {{10, 10, -3, -5}, -3, 7, {10 - 1 + 1, 10 - 2 - 3}},
        // Extremes are worked out without overflow and kept within 32 bits.
        {{kMax, kMin, kMax, kMin}, kMin, kMax, {kMax, kMin}},
        {{kMax, 0, 2, 0}, 0, 0, {kMax, 0}},
        {{kMax, kMin, 0, 0}, 2, -2, {kMax - 1, kMin + 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CentredOver(c.main, c.width, c.height), c.expected)
            << c.main.left << "," << c.main.top << " " << c.main.width << "x" << c.main.height
            << " dialog " << c.width << "x" << c.height;
    }
}

} // namespace
} // namespace vorn
