#pragma once
// Entropy-decodes a JPEG picture held in memory with libjpeg-turbo, counting the library's
// corrupt-data warnings as damage. The inverse transform is skipped for all but the last row,
// so the cost is that of reading the coded data.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/jpeg/decode_limits.h"
#include "core/jpeg/fault.h"

namespace vorn {

// `bytes` runs from the start marker to the end marker. Nothing when the picture decodes without
// a warning; otherwise the first error or warning, with the byte the decoder had read up to.
// The memory ceiling and the scan ceiling hold while decoding, whatever the headers said.
std::optional<JpegFault> DecodeJpeg(std::span<const std::uint8_t> bytes,
                                    const DeepCheckLimits& limits);

// A message of the library as a reason: "Corrupt JPEG data: " dropped, the first letter in
// lower case unless the word is an abbreviation.
std::string DecoderReason(const char* text);

} // namespace vorn
