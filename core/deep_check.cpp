#include "core/check/deep_check.h"

#include <algorithm>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

#include "core/jpeg/entropy_decode.h"
#include "core/jpeg/markers.h"
#include "core/jpeg/structure.h"
#include "core/os/file_system.h"
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

// Reads up to `size` bytes from the start; fewer when the file shrinks meanwhile.
bool ReadWhole(int fd, std::uint64_t size, std::vector<std::uint8_t>& bytes) {
    bytes.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = RetryOnInterrupt(
            [&] { return ::pread(fd, bytes.data() + got, size - got, static_cast<off_t>(got)); });
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return true;
}

} // namespace

DeepCheckResult DeepCheckBytes(std::span<const std::uint8_t> bytes, const DeepCheckLimits& limits) {
    const JpegStructure structure = WalkJpegStructure(bytes, limits);
    if (structure.fault) {
        return FromFault(*structure.fault, structure.scans);
    }
    const std::span<const std::uint8_t> picture = bytes.first(structure.end);
    if (const std::optional<JpegFault> fault = DecodeJpeg(picture, limits)) {
        return FromFault(*fault, structure.scans);
    }

    DeepCheckResult result;
    result.verdict = DeepVerdict::Sound;
    result.scans = structure.scans;
    const std::span<const std::uint8_t> trailer = bytes.subspan(structure.end);
    result.trailer = ClassifyTrailer(trailer);
    result.trailerBytes = trailer.size();
    if (result.trailer != TrailerKind::None) {
        result.reason = "followed by " + std::string(TrailerDescription(result.trailer)) + " (" +
                        std::to_string(trailer.size()) + " bytes)";
        result.offset = structure.end;
    }
    return result;
}

DeepCheckResult DeepCheckFile(const std::string& path, const DeepCheckLimits& limits) {
    const UniqueFd file(OpenForCheck(path));
    if (!file.Valid()) {
        return Unreadable("cannot be opened");
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Unreadable("not a regular file");
    }
    return DeepCheckOpenFile(file.Get(), static_cast<std::uint64_t>(info.st_size), limits);
}

DeepCheckResult DeepCheckOpenFile(int fd, std::uint64_t size, const DeepCheckLimits& limits) {
    try {
        // A file that does not start as a JPEG file is judged on its first bytes alone, however
        // large it is.
        std::vector<std::uint8_t> bytes;
        if (!ReadWhole(fd, std::min<std::uint64_t>(size, 2), bytes)) {
            return Unreadable("read error");
        }
        if (bytes.size() < 2 || bytes[0] != kMarkerPrefix || bytes[1] != kStartOfImage) {
            return DeepCheckBytes(bytes, limits);
        }
        if (size > limits.maxFileBytes) {
            DeepCheckResult result;
            result.verdict = DeepVerdict::Unverified;
            result.reason = "too large to verify: a file of " + std::to_string(size) + " bytes";
            return result;
        }
        if (!ReadWhole(fd, size, bytes)) {
            return Unreadable("read error");
        }
        DeepCheckResult result = DeepCheckBytes(bytes, limits);
        XXH128_canonical_t hash;
        XXH128_canonicalFromHash(&hash, XXH3_128bits(bytes.data(), bytes.size()));
        result.contentHash.emplace();
        std::copy(std::begin(hash.digest), std::end(hash.digest), result.contentHash->begin());
        return result;
    } catch (const std::bad_alloc&) {
        DeepCheckResult result;
        result.verdict = DeepVerdict::Unverified;
        result.reason = "too large to verify: out of memory";
        return result;
    }
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
