#include "core/check/deep_check.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "core/check/end_marker_explanation.h"
#include "core/jpeg/entropy_decode.h"
#include "core/jpeg/markers.h"
#include "core/jpeg/structure.h"
#include "core/os/file_system.h"
#include "core/os/read_at.h"
#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"

namespace vorn {

namespace {

DeepCheckResult FromFault(const JpegFault& fault, std::uint64_t scans) {
    DeepCheckResult result;
    result.verdict =
        fault.kind == JpegFault::Kind::Damaged ? DeepVerdict::Damaged : DeepVerdict::Unverified;
    result.reason = fault.reason;
    result.offset = fault.offset;
    result.scans = scans;
    return result;
}

DeepCheckResult Unreadable(std::string reason) {
    DeepCheckResult result;
    result.reason = std::move(reason);
    return result;
}

DeepCheckResult Unverified(std::string reason) {
    DeepCheckResult result;
    result.verdict = DeepVerdict::Unverified;
    result.reason = std::move(reason);
    return result;
}

// The bytes of the file that the picture check holds in memory: from the start to just past the
// end marker, and whether the rest is a trailer still to be classified from the file.
struct PictureExtent {
    std::uint64_t bytes = 0;
    bool trailerInFile = false;
};

// A photo, ending with its end marker and without holes, is taken whole, as it most likely is
// all picture (a second picture after it is classified in memory). Otherwise the marker
// structure is walked on the file first, reading the picture once and neither the trailer nor
// holes, so that padding or a video after the picture is never held.
PictureExtent FindPicture(int fd, std::uint64_t size) {
    struct stat info {};
    const bool holes =
        ::fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_blocks) * 512 < size;
    std::array<std::uint8_t, 2> last{};
    if (!holes && size >= 4 &&
        RetryOnInterrupt([&] {
            return ::pread(fd, last.data(), last.size(), static_cast<off_t>(size - last.size()));
        }) == static_cast<ssize_t>(last.size()) &&
        last[0] == kMarkerPrefix && last[1] == kEndOfImage) {
        return {size, false};
    }
    const EndMarkerExplanation walked = ExplainEndMarker(fd, size);
    switch (walked.kind) {
    case EndMarkerExplanation::Kind::AppendedData:
        return {std::min(walked.offset, size), true};
    case EndMarkerExplanation::Kind::Unrecognised:
        // The structure walk stops at the same byte, with what it saw before.
        return {std::min(walked.offset, size), false};
    default:
        // Cut short: the whole file, whose end tells how it was cut.
        return {size, false};
    }
}

// The class of the `length` bytes at `offset`, from their first bytes and, for padding, every
// later byte of data: a hole is zeros, passed over without reading.
std::optional<TrailerKind> ClassifyTrailerInFile(int fd, std::uint64_t offset,
                                                 std::uint64_t length) {
    std::array<std::uint8_t, 64 * 1024> buffer{};
    const std::size_t headSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, kTrailerClassBytes));
    const ssize_t head = RetryOnInterrupt(
        [&] { return ::pread(fd, buffer.data(), headSize, static_cast<off_t>(offset)); });
    if (head < 0) {
        return std::nullopt;
    }
    const TrailerKind kind =
        ClassifyTrailer(std::span(buffer).first(static_cast<std::size_t>(head)));
    if (kind != TrailerKind::Padding) {
        return kind;
    }
    const std::uint8_t fill = buffer[0];
    const std::uint64_t end = offset + length;
    std::uint64_t at = offset + static_cast<std::uint64_t>(head);
    while (at < end) {
        off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0) {
            // No data after `at` (ENXIO): a hole to the end. A file system that cannot tell
            // holes from data has none.
            data = errno == ENXIO ? static_cast<off_t>(end) : static_cast<off_t>(at);
        }
        if (static_cast<std::uint64_t>(data) > at) {
            if (fill != 0) {
                return TrailerKind::Other;
            }
            at = static_cast<std::uint64_t>(data);
            continue;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - at, buffer.size()));
        const ssize_t n = RetryOnInterrupt(
            [&] { return ::pread(fd, buffer.data(), want, static_cast<off_t>(at)); });
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break; // the file shrank meanwhile: what there was is padding
        }
        if (!std::all_of(buffer.begin(), buffer.begin() + n,
                         [&](std::uint8_t b) { return b == fill; })) {
            return TrailerKind::Other;
        }
        at += static_cast<std::uint64_t>(n);
    }
    return TrailerKind::Padding;
}

// In MB, rounded up for a need and down for what is there, so that the two never read the same.
std::string Megabytes(std::uint64_t bytes, bool up) {
    return std::to_string((bytes + (up ? (1u << 20) - 1 : 0)) >> 20) + " MB";
}

// The picture's structure walked and its data decoded, the trailer not yet looked at.
DeepCheckResult CheckPicture(const JpegStructure& structure, std::span<const std::uint8_t> picture,
                             const DeepCheckLimits& limits) {
    if (structure.fault) {
        return FromFault(*structure.fault, structure.scans);
    }
    if (const std::optional<JpegFault> fault = DecodeJpeg(picture, limits)) {
        return FromFault(*fault, structure.scans);
    }
    DeepCheckResult result;
    result.verdict = DeepVerdict::Sound;
    result.scans = structure.scans;
    return result;
}

void AddTrailer(DeepCheckResult& result, TrailerKind kind, std::uint64_t bytes,
                std::uint64_t offset) {
    result.trailer = kind;
    result.trailerBytes = bytes;
    if (kind != TrailerKind::None) {
        result.reason = "followed by " + std::string(TrailerDescription(kind)) + " (" +
                        std::to_string(bytes) + " bytes)";
        result.offset = offset;
    }
}

// XXH3-128 of the bytes the check holds, in its canonical (big-endian) form.
std::array<std::uint8_t, 16> ContentHash(std::span<const std::uint8_t> bytes) {
    XXH128_canonical_t hash;
    XXH128_canonicalFromHash(&hash, XXH3_128bits(bytes.data(), bytes.size()));
    std::array<std::uint8_t, 16> digest{};
    std::copy(std::begin(hash.digest), std::end(hash.digest), digest.begin());
    return digest;
}

} // namespace

DeepCheckResult DeepCheckBytes(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits) {
    const JpegStructure structure = WalkJpegStructure(bytes, limits);
    DeepCheckResult result = CheckPicture(structure, bytes.first(structure.end), limits);
    if (result.verdict == DeepVerdict::Sound) {
        const std::span<const std::uint8_t> trailer = bytes.subspan(structure.end);
        AddTrailer(result, ClassifyTrailer(trailer), trailer.size(), structure.end);
    }
    return result;
}

DeepCheckResult DeepCheckFile(const std::string& path, const DeepCheckLimits& limits,
                              MemoryBudget& budget) {
    const UniqueFd file(OpenForCheck(path));
    if (!file.Valid()) {
        return Unreadable("cannot be opened");
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Unreadable("not a regular file");
    }
    return DeepCheckOpenFile(file.Get(), static_cast<std::uint64_t>(info.st_size), limits, budget);
}

DeepCheckResult DeepCheckOpenFile(int fd, std::uint64_t size, const DeepCheckLimits& limits,
                                  MemoryBudget& budget) {
    try {
        // A file that does not start as a JPEG file is judged on its first bytes alone, however
        // large it is.
        std::array<std::uint8_t, 2> start{};
        const std::optional<std::size_t> started =
            ReadAt(fd, 0, std::min<std::uint64_t>(size, start.size()), start.data());
        if (!started) {
            return Unreadable("read error");
        }
        if (*started < 2 || start[0] != kMarkerPrefix || start[1] != kStartOfImage) {
            return DeepCheckBytes(std::span(start).first(*started), limits);
        }
        const PictureExtent extent = FindPicture(fd, size);
        if (extent.bytes > limits.maxFileBytes) {
            return Unverified("too large to verify: a " +
                              std::string(extent.bytes == size ? "file" : "picture") + " of " +
                              std::to_string(extent.bytes) + " bytes");
        }
        // The decoder's memory is known once the headers are read. A check holding the
        // picture's bytes does not wait for it: when it is not free, the check gives back
        // what it holds and starts again, asking for both at once.
        std::uint64_t decoder = 0;
        for (;;) {
            const std::uint64_t need = extent.bytes + decoder;
            if (need > budget.Total()) {
                return Unverified(OverBudgetReason(need, budget.Total()));
            }
            MemoryBudget::Hold hold = budget.Acquire(need);
            const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(extent.bytes);
            const std::optional<std::size_t> got = ReadAt(fd, 0, extent.bytes, bytes.get());
            if (!got) {
                return Unreadable("read error");
            }
            const std::span<const std::uint8_t> picture(bytes.get(), *got);
            const JpegStructure structure = WalkJpegStructure(picture, limits);
            if (!structure.fault) {
                const std::uint64_t wanted =
                    std::min<std::uint64_t>(DecoderMemory(structure), limits.maxMemory);
                if (wanted > decoder && !hold.TryGrow(wanted - decoder)) {
                    decoder = wanted;
                    continue;
                }
            }
            DeepCheckResult result = CheckPicture(structure, picture.first(structure.end), limits);
            result.contentHash = ContentHash(picture);
            if (result.verdict != DeepVerdict::Sound) {
                return result;
            }
            if (!extent.trailerInFile) {
                const std::span<const std::uint8_t> trailer = picture.subspan(structure.end);
                AddTrailer(result, ClassifyTrailer(trailer), trailer.size(), structure.end);
                return result;
            }
            const std::uint64_t length = size > structure.end ? size - structure.end : 0;
            const std::optional<TrailerKind> kind =
                ClassifyTrailerInFile(fd, structure.end, length);
            if (!kind) {
                return Unreadable("read error");
            }
            AddTrailer(result, *kind, length, structure.end);
            return result;
        }
    } catch (const std::bad_alloc&) {
        return Unverified("too large to verify: out of memory");
    }
}

// The rows: at most four components, up to 32 rows each for sampling and its context, a few
// buffers.
std::uint64_t DecoderMemory(const JpegStructure& structure) {
    constexpr std::uint64_t kCoefficientBytes = 64 * 2;
    const std::uint64_t coefficients =
        structure.scans > 1 ? structure.frameBlocks * kCoefficientBytes : 0;
    const std::uint64_t rows = (std::uint64_t{structure.width} + 64) * 4 * 32 * 3;
    return coefficients + rows + (std::uint64_t{1} << 20);
}

std::string OverBudgetReason(std::uint64_t need, std::uint64_t total) {
    return "too large to verify: needs " + Megabytes(need, true) +
           " of memory, more than the budget of " + Megabytes(total, false);
}

std::string_view DeepVerdictWord(DeepVerdict verdict) {
    switch (verdict) {
    case DeepVerdict::Sound:
        return "sound";
    case DeepVerdict::Damaged:
        return "damaged";
    case DeepVerdict::Unverified:
        return "unverified";
    case DeepVerdict::Unreadable:
        break;
    }
    return "unreadable";
}

} // namespace vorn
