#pragma once
// The check of the picture itself, beside the marker check: the file's structure, its image
// data and an entropy decode, within ceilings that hold whatever the file declares, and what
// follows the end marker.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/check/memory_budget.h"
#include "core/jpeg/decode_limits.h"
#include "core/jpeg/structure.h"
#include "core/jpeg/trailer.h"

namespace vorn {

enum class DeepVerdict {
    Sound,      // the picture decodes without a fault; a trailer may follow it
    Damaged,    // a fault a decoder would meet
    Unverified, // beyond a ceiling, or coded in a way the decoder does not take
    Unreadable, // the file could not be read
};

struct DeepCheckResult {
    DeepVerdict verdict = DeepVerdict::Unreadable;
    // Why, for a person: "cut short at byte 4096", "too large to verify: 64250 × 64250
    // declared"; for a sound picture with a trailer, what follows it; otherwise "".
    std::string reason;
    std::optional<std::uint64_t> offset; // where the fault was found, when known
    TrailerKind trailer = TrailerKind::None;
    std::uint64_t trailerBytes = 0;
    std::uint64_t scans = 0;
    // XXH3-128 of the bytes the check read, the picture (and what follows it, when that was
    // read with it), once the picture was read: what tells later that its bytes changed
    // without anyone writing it.
    std::optional<std::array<std::uint8_t, 16>> contentHash;
};

// Checks the bytes of a whole file.
DeepCheckResult DeepCheckBytes(std::span<const std::uint8_t> bytes,
                               const DeepCheckLimits& limits = {});

// Reads the file at `path` (bytes, used as they are) and checks it. Only a regular file is read,
// and never past the size it had when opened; the open never blocks. Never throws for anything
// the file system does.
DeepCheckResult DeepCheckFile(const std::string& path, const DeepCheckLimits& limits = {},
                              MemoryBudget& budget = MachineMemoryBudget());

// The same on a regular file of `size` bytes the caller has open and has examined (the marker
// check's): read with pread, so the descriptor's position does not matter.
// Only the picture is held in memory, from the start marker to the end marker; of what follows
// it, only the bytes that tell its class are read (for padding, the data after them; holes are
// not read). The picture's bytes and the decoder's memory are held from `budget` while the check
// runs, waiting for them when other checks hold too much; a picture that needs more than the
// whole budget is unverified.
DeepCheckResult DeepCheckOpenFile(int fd, std::uint64_t size, const DeepCheckLimits& limits = {},
                                  MemoryBudget& budget = MachineMemoryBudget());

// What the decoder allocates for a picture of this structure, at most: the coefficients of a
// picture coded in several scans, which it holds whole at full size whatever the output's scale,
// and rows of samples.
std::uint64_t DecoderMemory(const JpegStructure& structure);

// Why a picture whose check needs `need` bytes of memory is not checked within a budget of
// `total`: "too large to verify: needs 600 MB of memory, more than the budget of 512 MB".
std::string OverBudgetReason(std::uint64_t need, std::uint64_t total);

// "sound", "damaged", "unverified", "unreadable": the words the reports print.
std::string_view DeepVerdictWord(DeepVerdict verdict);

} // namespace vorn
