#pragma once
// Decodes a JPEG picture held in memory to RGB pixels for showing it, as far as it decodes,
// together with the first row that could not be decoded correctly. The structure walk runs
// first under the picture check's ceilings: a file beyond one is refused without decoding.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/jpeg/decode_limits.h"
#include "core/jpeg/fault.h"
#include "core/jpeg/structure.h"

namespace vorn {

struct DecodedPicture {
    // Nothing when the picture decodes without a fault; otherwise the first one, the walk's
    // before the decoder's. An unverifiable one means nothing was decoded.
    std::optional<JpegFault> fault;
    std::uint32_t declaredWidth = 0; // the frame's size, as the headers declare it
    std::uint32_t declaredHeight = 0;
    std::uint32_t width = 0; // the decoded (scaled) size; 0 when nothing was decoded
    std::uint32_t height = 0;
    unsigned scale = 0;            // the decoded size in eighths of the declared one; 0 as width is
    std::vector<std::uint8_t> rgb; // width × height × 3 bytes, rows top down
    // The first row (of the decoded size) from which on the picture is not what the file
    // meant: corrupt data, data missing, or rows the decoder never reached. Rows not decoded
    // are mid grey.
    std::optional<std::uint32_t> firstDamagedRow;
};

// The scale in eighths (1 to 8) a picture of `width` × `height` is decoded at for a box of
// `fitWidth` × `fitHeight`: as small as keeps it at least as large as its fit into the box. Full
// size (8) when either box side is 0.
unsigned DecodeScale(std::uint32_t width, std::uint32_t height, std::uint32_t fitWidth,
                     std::uint32_t fitHeight);

// A side of `length` pixels at `eighths` of its size, as the decoder rounds it (up).
std::uint32_t ScaledLength(std::uint32_t length, unsigned eighths);

// `bytes` is the whole file. The picture is decoded at DecodeScale for the box (0: full size).
// Setting `*cancel` from another thread ends the decode soon; the result is then empty.
DecodedPicture DecodePicture(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits,
                             std::uint32_t fitWidth = 0, std::uint32_t fitHeight = 0,
                             const std::atomic<bool>* cancel = nullptr);

// The same for a file whose structure the caller has walked already, under the same `limits`.
DecodedPicture DecodePicture(std::span<const std::uint8_t> bytes, const JpegStructure& structure,
                             const DeepCheckLimits& limits, std::uint32_t fitWidth,
                             std::uint32_t fitHeight, const std::atomic<bool>* cancel);

} // namespace vorn
