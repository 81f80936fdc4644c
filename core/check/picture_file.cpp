#include "core/check/picture_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "core/check/deep_check.h"
#include "core/os/file_system.h"
#include "core/os/read_at.h"
#include "core/os/unique_fd.h"

namespace vorn {

namespace {

constexpr std::uint64_t kCoefficientBytes = 64 * 2;

PictureFile Failed(std::string reason) {
    PictureFile file;
    file.reason = std::move(reason);
    return file;
}

PictureFile Cancelled() {
    PictureFile file;
    file.cancelled = true;
    return file;
}

} // namespace

std::uint64_t PictureDecodeMemory(const JpegStructure& structure, std::uint32_t fitWidth,
                                  std::uint32_t fitHeight, const DeepCheckLimits& limits) {
    std::uint64_t decoder = DecoderMemory(structure);
    // A walk that stopped in the first scan has not seen the others; a progressive picture's
    // decoder holds all its coefficients from the start all the same.
    if (structure.fault && structure.scans <= 1) {
        decoder += structure.frameBlocks * kCoefficientBytes;
    }
    const unsigned scale = DecodeScale(structure.width, structure.height, fitWidth, fitHeight);
    const std::uint64_t width = ScaledLength(structure.width, scale);
    const std::uint64_t height = ScaledLength(structure.height, scale);
    // Three bytes a pixel, and one row of four for a CMYK picture.
    const std::uint64_t pixels = width * height * 3 + width * 4;
    return std::min<std::uint64_t>(decoder, limits.maxMemory) + pixels;
}

PictureFile DecodePictureFile(const std::string& path, std::uint32_t fitWidth,
                              std::uint32_t fitHeight, MemoryBudget& budget,
                              const std::atomic<bool>& cancel, const std::function<void()>& waiting,
                              const DeepCheckLimits& limits) {
    try {
        const UniqueFd file(OpenForCheck(path));
        if (!file.Valid()) {
            return Failed("cannot be opened");
        }
        struct stat info {};
        if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return Failed("not a regular file");
        }
        const auto size = static_cast<std::uint64_t>(info.st_size);
        if (size > limits.maxFileBytes) {
            return Failed("too large to verify: a file of " + std::to_string(size) + " bytes");
        }
        // What the decode needs besides the bytes is known once the headers are read. Holding
        // the bytes, the decode does not wait for more: when it is not free, the decode gives
        // back what it holds and waits for both at once, as the picture check does.
        std::uint64_t decoder = 0;
        for (;;) {
            const std::uint64_t need = size + decoder;
            if (need > budget.Total()) {
                return Failed(OverBudgetReason(need, budget.Total()));
            }
            std::optional<MemoryBudget::Hold> hold = budget.TryAcquire(need);
            if (!hold) {
                if (waiting) {
                    waiting();
                }
                hold = budget.Acquire(need, cancel);
                if (!hold) {
                    return Cancelled();
                }
            }
            if (cancel.load()) {
                return Cancelled();
            }
            const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
            const std::optional<std::size_t> got = ReadAt(file.Get(), 0, size, bytes.get());
            if (!got) {
                return Failed("read error");
            }
            const std::span<const std::uint8_t> data(bytes.get(), *got);
            const JpegStructure structure = WalkJpegStructure(data, limits);
            const bool decodes =
                !structure.fault || structure.fault->kind != JpegFault::Kind::Unverifiable;
            if (decodes) {
                const std::uint64_t wanted =
                    PictureDecodeMemory(structure, fitWidth, fitHeight, limits);
                if (wanted > decoder && !hold->TryGrow(wanted - decoder)) {
                    decoder = wanted;
                    continue;
                }
            }
            PictureFile result;
            result.picture = DecodePicture(data, structure, limits, fitWidth, fitHeight, &cancel);
            if (cancel.load()) {
                return Cancelled();
            }
            if (result.picture.fault) {
                result.reason = result.picture.fault->reason;
            }
            return result;
        }
    } catch (const std::bad_alloc&) {
        return Failed("too large to verify: out of memory");
    }
}

} // namespace vorn
