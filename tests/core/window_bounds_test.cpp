#include "core/settings/window_bounds.h"

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

TEST(WindowBounds, AFrameOffEveryScreenIsMovedOntoThePrimary) {
    const std::vector<WindowBounds> screens = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const WindowBounds primary{0, 32, 1920, 1048}; // without a panel at the top
    struct Case {
        const char* what;
        WindowBounds frame;
        WindowBounds expected;
    };
    const std::vector<Case> cases = {
        {"on the first screen", {100, 100, 588, 366}, {100, 100, 588, 366}},
        {"on the second screen", {2000, 500, 588, 366}, {2000, 500, 588, 366}},
        {"one pixel on a screen", {-587, -365, 588, 366}, {-587, -365, 588, 366}},
        {"across both", {1800, 0, 588, 366}, {1800, 0, 588, 366}},
        {"just beside every screen", {-588, 0, 588, 366}, {666, 373, 588, 366}},
        {"an unplugged monitor", {100000, 105, 588, 366}, {666, 373, 588, 366}},
        {"below the shorter screen only", {1800, 1030, 588, 366}, {1800, 1030, 588, 366}},
        {"below every screen", {2000, 1080, 588, 366}, {666, 373, 588, 366}},
        {"larger than the primary", {kMax, kMin, 4000, 3000}, {0, 32, 4000, 3000}},
        {"at the far ends", {kMin, kMax, 588, 366}, {666, 373, 588, 366}},
        {"nothing to show", {10, 10, 0, 0}, {960, 556, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeptOnAScreen(c.frame, screens, primary), c.expected) << c.what;
    }
}

} // namespace
} // namespace vorn
