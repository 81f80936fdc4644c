#pragma once
// What stops a JPEG file from being vouched for: damage, or a file the check will not decode.

#include <cstdint>
#include <optional>
#include <string>

namespace vorn {

struct JpegFault {
    enum class Kind {
        Damaged,      // the file breaks a rule a decoder relies on
        Unverifiable, // the file may be sound, but is beyond a ceiling or a decoder's abilities
    };
    Kind kind = Kind::Damaged;
    std::string reason;                  // "cut short at byte 4096", "too large to verify: ..."
    std::optional<std::uint64_t> offset; // the byte the fault was found at, where one is known
};

} // namespace vorn
