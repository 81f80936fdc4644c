#pragma once
// The JPEG marker codes that every reader of the format's structure needs.

#include <cstdint>

namespace vorn {

inline constexpr std::uint8_t kMarkerPrefix = 0xFF;
inline constexpr std::uint8_t kStartOfImage = 0xD8;
inline constexpr std::uint8_t kEndOfImage = 0xD9;
inline constexpr std::uint8_t kStartOfScan = 0xDA;

// RST0 to RST7, which stand between the intervals of image data.
constexpr bool IsRestart(std::uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

// Markers that stand alone, without a length and a body: the restarts and TEM.
constexpr bool IsStandalone(std::uint8_t marker) {
    return IsRestart(marker) || marker == 0x01;
}

} // namespace vorn
