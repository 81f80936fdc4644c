#include "core/window_bounds.h"

#include <algorithm>
#include <limits>

namespace vorn {

namespace {

// main + mainSize / 2 - size / 2 in 64 bits, so that no int32 input overflows; the result is
// clamped into the int32 range of a window coordinate. Division truncates towards zero.
std::int32_t Centred(std::int32_t main, std::int32_t mainSize, std::int32_t size) {
    const std::int64_t value =
        std::int64_t(main) + std::int64_t(mainSize) / 2 - std::int64_t(size) / 2;
    return std::int32_t(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

} // namespace

WindowPosition CentredOver(const WindowBounds& main, std::int32_t width, std::int32_t height) {
    // Left first, then top: the order in which a dialog is moved.
    WindowPosition position;
    position.left = Centred(main.left, main.width, width);
    position.top = Centred(main.top, main.height, height);
    return position;
}

} // namespace vorn
