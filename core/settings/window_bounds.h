#pragma once
// Window bounds: the outer frame in screen pixels, and where a dialog goes over the main window.

#include <cstdint>
#include <vector>

namespace vorn {

struct WindowBounds {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const WindowBounds&, const WindowBounds&) = default;
};

struct WindowPosition {
    std::int32_t left = 0;
    std::int32_t top = 0;
    friend bool operator==(const WindowPosition&, const WindowPosition&) = default;
};

// Centres a dialog of the given outer size over the main window: main.left + main.width / 2 -
// width / 2, and the same for top, each division truncating towards zero. No clamping to the
// screen.
WindowPosition CentredOver(const WindowBounds& main, std::int32_t width, std::int32_t height);

// Where a window with the frame `frame` goes when the screens are `screens` (their full areas)
// and the primary screen's free area (without panels) is `primary`: where it is, as long as the
// frame overlaps some screen by at least one pixel; otherwise, as after a monitor was unplugged,
// the same size moved onto the primary screen, centred, with its top left corner on the screen
// when the frame is larger than it.
WindowBounds KeptOnAScreen(const WindowBounds& frame, const std::vector<WindowBounds>& screens,
                           const WindowBounds& primary);

} // namespace vorn
