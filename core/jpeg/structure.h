#pragma once
// The marker structure of a JPEG file held in memory, walked from the start marker to the end
// marker: every segment by its length, the frame header, Huffman and quantisation tables, scan
// headers and restart interval checked for values a decoder refuses, and the image data of each
// scan read for its stuffed bytes and restart markers. No pixel is decoded.

#include <cstdint>
#include <optional>
#include <span>

#include "core/jpeg/decode_limits.h"
#include "core/jpeg/fault.h"

namespace vorn {

struct JpegStructure {
    std::optional<JpegFault> fault; // the first fault; the fields below hold up to there
    std::uint64_t end = 0;          // just past the end marker, when the walk reached it
    std::uint64_t scans = 0;
    // Blocks decoded, summed over the scans: the decoder's work.
    std::uint64_t scanBlocks = 0;
    // The frame's blocks as a decoder stores them, each component padded to whole MCUs: the
    // coefficients it holds at once for a picture coded in several scans.
    std::uint64_t frameBlocks = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Damage is reported before a ceiling is: a file with too many scans that is also cut short is
// reported as cut short.
JpegStructure WalkJpegStructure(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits);

} // namespace vorn
