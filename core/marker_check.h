#pragma once
// The file-level check of one JPEG file: FF D8 at the start, FF D9 at the end.

#include <string>
#include <string_view>

namespace vorn {

enum class MarkerVerdict {
    Normal,    // both markers found
    Soi,       // fewer than two bytes, or the first two are not FF D8
    Eoi,       // the start marker is there, the last two bytes are not FF D9
    OpenError, // the path cannot be opened as a regular file
};

// Checks the file at `path` (bytes, used as they are; a relative path is resolved against the
// working directory). Reads at most four bytes: two at offset 0 and two at size - 2.
// The open never blocks, and only regular files are read: a folder, named pipe, socket or
// device gives OpenError at once, whatever its name. A file held locked by another program
// gives OpenError too. Never throws for anything the file system does; the file is closed on
// every path.
MarkerVerdict CheckMarkers(const std::string& path) noexcept;

struct EndMarkerExplanation;
// The same check; when the verdict is Eoi and `explanation` is given, the file's marker
// structure is walked on the same open file to say why (end_marker_explanation.h).
MarkerVerdict CheckMarkers(const std::string& path, EndMarkerExplanation* explanation) noexcept;

// The error text a verdict writes into a row: "", "SOI", "EOI" or "File open error".
std::string_view VerdictErrorText(MarkerVerdict verdict) noexcept;

} // namespace vorn
