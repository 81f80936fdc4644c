#include "core/settings/window_bounds.h"

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

// The extent [start, start + size) of both along one axis overlaps, worked out in 64 bits.
bool Overlap(std::int32_t start, std::int32_t size, std::int32_t otherStart,
             std::int32_t otherSize) {
    const std::int64_t end = std::int64_t{start} + size;
    const std::int64_t otherEnd = std::int64_t{otherStart} + otherSize;
    return size > 0 && otherSize > 0 && start < otherEnd && otherStart < end;
}

// The start that centres `size` in the extent, or the extent's start when it does not fit.
std::int32_t CentredIn(std::int32_t start, std::int32_t extent, std::int32_t size) {
    return std::int32_t(std::int64_t{start} +
                        std::max<std::int64_t>(0, (std::int64_t{extent} - size) / 2));
}

} // namespace

WindowBounds KeptOnAScreen(const WindowBounds& frame, const std::vector<WindowBounds>& screens,
                           const WindowBounds& primary) {
    for (const WindowBounds& screen : screens) {
        if (Overlap(frame.left, frame.width, screen.left, screen.width) &&
            Overlap(frame.top, frame.height, screen.top, screen.height)) {
            return frame;
        }
    }
    return {CentredIn(primary.left, primary.width, frame.width),
            CentredIn(primary.top, primary.height, frame.height), frame.width, frame.height};
}

WindowPosition CentredOver(const WindowBounds& main, std::int32_t width, std::int32_t height) {
    // Left first, then top: the order in which a dialog is moved.
    WindowPosition position;
    position.left = Centred(main.left, main.width, width);
    position.top = Centred(main.top, main.height, height);
    return position;
}

} // namespace vorn
