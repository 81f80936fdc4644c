#pragma once
// One file's picture decoded for showing, under the picture check's ceilings and within the
// memory budget the picture checks share: the file's bytes, the decoder's memory and the
// decoded pixels are held from the budget while the decode runs, waiting for them when other
// checks hold too much, and given back before it returns. The pixels returned are the caller's
// from then on; they are about the size the picture is shown at.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "core/check/memory_budget.h"
#include "core/jpeg/decode_limits.h"
#include "core/jpeg/picture_decode.h"

namespace vorn {

struct PictureFile {
    DecodedPicture picture;
    // The first fault's reason, or why the file was not read or decoded, in the picture check's
    // words ("cannot be opened", "too large to verify: needs ..."); "" when there is none.
    std::string reason;
    bool cancelled = false; // called off: nothing else is set
};

// Reads the file at `path` (bytes, used as they are; only a regular file, with an open that never
// blocks) and decodes it for a box of `fitWidth` × `fitHeight` (DecodePicture). A picture that
// needs more than the whole budget is not decoded and says so. `waiting` is called (on this
// thread) before the decode waits for memory. Setting `cancel`, then calling the budget's
// WakeWaiters, ends the call soon, a wait included.
PictureFile DecodePictureFile(const std::string& path, std::uint32_t fitWidth,
                              std::uint32_t fitHeight, MemoryBudget& budget,
                              const std::atomic<bool>& cancel,
                              const std::function<void()>& waiting = {},
                              const DeepCheckLimits& limits = {});

// The memory a decode for showing needs besides the file's bytes: the decoder's (within the
// ceiling on it) and the pixels at the scale the box asks for.
std::uint64_t PictureDecodeMemory(const JpegStructure& structure, std::uint32_t fitWidth,
                                  std::uint32_t fitHeight, const DeepCheckLimits& limits);

} // namespace vorn
