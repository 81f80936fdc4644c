#pragma once
// Window bounds: the outer frame in screen pixels, and where a dialog goes over the main window.

#include <cstdint>

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

} // namespace vorn
