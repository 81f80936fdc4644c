#pragma once
// The file-level check of one JPEG file: FF D8 at the start, FF D9 at the end.

#include "core/check/end_marker_explanation.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace vorn {

enum class MarkerVerdict {
    Normal,    // both markers found
    Soi,       // fewer than two bytes, or the first two are not FF D8
    Eoi,       // the start marker is there, the last two bytes are not FF D9
    OpenError, // the path cannot be opened as a regular file
};

// What the caller asks of one check beyond the verdict.
struct MarkerCheckOptions {
    // The caller has already seen that the path names a regular file (from a folder listing or
    // a stat), so the check need not ask again before opening. The type is still confirmed on
    // the open file.
    bool knownRegularFile = false;
    // When the verdict is Eoi and this is given, the file's marker structure is walked on the
    // same open file to say why (end_marker_explanation.h).
    EndMarkerExplanation* explanation = nullptr;
    // The most file data the explanation reads (holes are not read and do not count).
    std::uint64_t explanationDataLimit = kDefaultExplanationDataLimit;
    // Called with the open file and its status once its verdict is Normal, Soi or Eoi, before
    // it is closed: a further check of the same file (the picture check) then reads the very
    // file the marker check judged, without opening the path or asking its status again. It
    // must not throw.
    std::function<void(int fd, const struct stat& info)> onOpenFile;
    // When the verdict is OpenError and this is given, why, as an errno value: the open's own
    // (ENOENT, EACCES...), or EISDIR for a folder, ENXIO for a named pipe, device or socket,
    // ELOOP for a link that leads nowhere, ENODEV for a kernel pseudo file system, EBUSY for a
    // file another program holds a write lock on.
    int* openError = nullptr;
};

// Checks the file at `path` (bytes, used as they are; a relative path is resolved against the
// working directory). Reads at most four bytes: two at offset 0 and two at size - 2.
// Only a regular file (or a link to one) is opened: the type is looked up first, so a folder,
// named pipe, socket or device gives OpenError without being opened, whatever its name, and a
// writer waiting on a named pipe is never let through. The open never blocks, and the type is
// confirmed on the open file, so a path replaced by something else in between is not read
// either. A file of a kernel pseudo file system (proc, sysfs...; reached through a link) is
// not read and gives OpenError, and so does a file on which another program holds a write
// lock. A path too long for one system call is reached piece by piece. Never
// throws for anything the file system does; the file is closed on every path.
MarkerVerdict CheckMarkers(const std::string& path, const MarkerCheckOptions& options) noexcept;
MarkerVerdict CheckMarkers(const std::string& path) noexcept;

// The error text a verdict writes into a row: "", "SOI", "EOI" or "File open error".
std::string_view VerdictErrorText(MarkerVerdict verdict) noexcept;

} // namespace vorn
