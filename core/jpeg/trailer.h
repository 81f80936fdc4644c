#pragma once
// What follows a JPEG file's end marker.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vorn {

enum class TrailerKind {
    None,    // the file ends with its end marker
    Padding, // zero bytes only (or FF fill), as cameras and copy tools leave
    Video,   // an MP4/QuickTime file, as phones append for a motion photo
    Jpeg,    // another JPEG file: a preview, a depth map, the second picture of a pair
    Other,   // anything else: a vendor's trailer, or another file
};

// Looks at the bytes after the end marker.
TrailerKind ClassifyTrailer(std::span<const std::uint8_t> trailer);

// The trailer's first bytes tell its class: ClassifyTrailer of no more than these gives the class
// of the whole, except that padding is padding only if every later byte is the same fill.
constexpr std::size_t kTrailerClassBytes = 32;

// "none", "padding", "video", "jpeg", "other": the names scripts read.
std::string_view TrailerName(TrailerKind kind);

// What a person reads: "a motion-photo video", "padding"...
std::string_view TrailerDescription(TrailerKind kind);

} // namespace vorn
