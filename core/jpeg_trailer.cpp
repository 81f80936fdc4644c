#include "core/jpeg/trailer.h"

#include "core/jpeg/markers.h"

#include <algorithm>
#include <cstring>

namespace vorn {

namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

// An ISO base media file opens with a box whose type is "ftyp" at byte 4.
bool IsMediaFile(std::span<const std::uint8_t> bytes) {
    return StartsWith(bytes, 4, "ftyp");
}

} // namespace

TrailerKind ClassifyTrailer(std::span<const std::uint8_t> trailer) {
    if (trailer.empty()) {
        return TrailerKind::None;
    }
    if (std::all_of(trailer.begin(), trailer.end(), [](std::uint8_t b) { return b == 0; }) ||
        std::all_of(trailer.begin(), trailer.end(), [](std::uint8_t b) { return b == 0xFF; })) {
        return TrailerKind::Padding;
    }
    if (IsMediaFile(trailer)) {
        return TrailerKind::Video;
    }
    // Some phones put a tag before the video.
    constexpr std::string_view kMotionTag = "MotionPhoto_Data";
    if (StartsWith(trailer, 0, kMotionTag) && IsMediaFile(trailer.subspan(kMotionTag.size()))) {
        return TrailerKind::Video;
    }
    if (trailer.size() >= 3 && trailer[0] == kMarkerPrefix && trailer[1] == kStartOfImage &&
        trailer[2] == kMarkerPrefix) {
        return TrailerKind::Jpeg;
    }
    return TrailerKind::Other;
}

std::string_view TrailerName(TrailerKind kind) {
    switch (kind) {
    case TrailerKind::None:
        return "none";
    case TrailerKind::Padding:
        return "padding";
    case TrailerKind::Video:
        return "video";
    case TrailerKind::Jpeg:
        return "jpeg";
    case TrailerKind::Other:
        break;
    }
    return "other";
}

std::string_view TrailerDescription(TrailerKind kind) {
    switch (kind) {
    case TrailerKind::None:
        return "";
    case TrailerKind::Padding:
        return "padding";
    case TrailerKind::Video:
        return "a motion-photo video";
    case TrailerKind::Jpeg:
        return "another JPEG picture";
    case TrailerKind::Other:
        break;
    }
    return "unrecognised data";
}

} // namespace vorn
