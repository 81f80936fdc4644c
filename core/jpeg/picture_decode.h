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

namespace vorn {

struct DecodedPicture {
    // Nothing when the picture decodes without a fault; otherwise the first one, the walk's
    // before the decoder's. An unverifiable one means nothing was decoded.
    std::optional<JpegFault> fault;
    std::uint32_t declaredWidth = 0; // the frame's size, as the headers declare it
    std::uint32_t declaredHeight = 0;
    std::uint32_t width = 0; // the decoded (scaled) size; 0 when nothing was decoded
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb; // width × height × 3 bytes, rows top down
    // The first row (of the decoded size) from which on the picture is not what the file
    // meant: corrupt data, data missing, or rows the decoder never reached. Rows not decoded
    // are mid grey.
    std::optional<std::uint32_t> firstDamagedRow;
};

// `bytes` is the whole file. The picture is decoded scaled down in eighths, as little
// as keeps it at least `fitWidth` × `fitHeight` when fitted into that box (0: full size).
// Setting `*cancel` from another thread ends the decode soon; the result is then empty.
DecodedPicture DecodePicture(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits,
                             std::uint32_t fitWidth = 0, std::uint32_t fitHeight = 0,
                             const std::atomic<bool>* cancel = nullptr);

} // namespace vorn
