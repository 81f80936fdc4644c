#pragma once
// Why a file that starts with FF D8 does not end with FF D9: its marker structure is walked
// (segments by their lengths, scans with their stuffed bytes and restart markers; no pixel is
// decoded) until the end marker or the end of the file.

#include <cstdint>
#include <string>

namespace vorn {

struct EndMarkerExplanation {
    enum class Kind {
        AppendedData,        // the image ends with an end marker and more bytes follow it
        CutShortInHeaders,   // the file ends before the first scan's image data
        CutShortInImageData, // the file ends inside or after the image data, before an end marker
        Unrecognised,        // a byte where a marker must stand is not one
        Unfinished,          // the data limit was reached before the walk could tell
    };
    Kind kind = Kind::Unrecognised;
    std::uint64_t offset = 0;        // where the end marker ends, or where the walk stopped
    std::uint64_t appendedBytes = 0; // AppendedData: the bytes after the end marker
};

// How much file data an explanation reads at most unless told otherwise: far more than any
// camera image, little enough that a huge file is dealt with in well under a second when cached.
constexpr std::uint64_t kDefaultExplanationDataLimit = std::uint64_t{64} << 20;

// Walks the file open as `fd` from offset 0, reading every byte at most once (segment bodies are
// skipped, not read) and holes not at all: a hole reads as zero bytes without costing a read, so
// a huge sparse file is walked as quickly as the data it holds. After `dataLimit` bytes have been
// read the walk stops and answers Unfinished at the offset it reached. `fd` must be a regular
// file; its position is changed.
EndMarkerExplanation ExplainEndMarker(int fd,
                                      std::uint64_t dataLimit = kDefaultExplanationDataLimit);

// One line for a person: "image data ends with an end marker followed by 12 more bytes (appended
// data)", "cut short in the image data at byte 4096", ...
std::string Describe(const EndMarkerExplanation& explanation);

} // namespace vorn
