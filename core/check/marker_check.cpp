#include "core/check/marker_check.h"

#include "core/check/end_marker_explanation.h"
#include "core/jpeg/markers.h"
#include "core/os/file_system.h"
#include "core/os/read_at.h"
#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace vorn {

static_assert(sizeof(off_t) == 8, "the end marker is read at a 64-bit offset");

namespace {

// The file cannot be opened without sharing as an exclusive open would, so the check asks
// instead whether another program holds a record lock on the file (fcntl or open-file-
// description locks, which editors, databases and network file servers take). Only a lock that
// would keep the check from reading means the file is in use: a write lock. Another reader's
// shared lock does not, and such a file is checked. Asking takes no lock, so the check never
// gets in another program's way and costs no lock bookkeeping per file. A file system or kernel
// without such locks answers with an error; the file is then read anyway, since a missing lock
// facility must not turn a readable file into an error.
bool HeldByAnotherProgram(int fd) {
    struct flock probe {};
    probe.l_type = F_RDLCK;    // conflicts only with a write lock
    probe.l_whence = SEEK_SET; // l_start 0, l_len 0: the whole file
    if (RetryOnInterrupt([&] { return ::fcntl(fd, F_OFD_GETLK, &probe); }) != 0) {
        return false;
    }
    return probe.l_type != F_UNLCK;
}

// True when two bytes were read at `offset` and they are `first` then `second`. Any failure or
// a short read (the file shrank, an I/O error) counts as a mismatch.
bool BytesAt(int fd, off_t offset, unsigned char first, unsigned char second) {
    unsigned char bytes[2];
    return ReadAt(fd, static_cast<std::uint64_t>(offset), sizeof bytes, bytes) == sizeof bytes &&
           bytes[0] == first && bytes[1] == second;
}

// Why a path that is not a regular file cannot be checked, as an errno value.
int NotAFileError(EntryKind kind) {
    switch (kind) {
    case EntryKind::Folder:
        return EISDIR;
    case EntryKind::Special:
        return ENXIO;
    case EntryKind::Dangling:
        return ELOOP;
    case EntryKind::Refused:
        return EACCES;
    case EntryKind::Missing:
        return ENOENT;
    case EntryKind::Unknown:
    case EntryKind::File:
        break;
    }
    return EIO;
}

} // namespace

MarkerVerdict CheckMarkers(const std::string& path) noexcept {
    return CheckMarkers(path, MarkerCheckOptions{});
}

MarkerVerdict CheckMarkers(const std::string& path, const MarkerCheckOptions& options) noexcept {
    // Opening is not harmless for everything else: it lets a writer waiting on a named pipe
    // through (and it then fails on its first write), and reading a device such as a kernel
    // log consumes what it holds. So the type is known before the open.
    const auto openError = [&](int error) {
        if (options.openError) {
            *options.openError = error;
        }
        return MarkerVerdict::OpenError;
    };
    if (!options.knownRegularFile) {
        const EntryKind kind = ExamineEntry(path);
        if (kind != EntryKind::File) {
            return openError(NotAFileError(kind));
        }
    }

    const UniqueFd file(OpenForCheck(path));
    if (!file.Valid()) {
        return openError(errno);
    }
    // The path may name something else by now.
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        return openError(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return openError(S_ISDIR(info.st_mode) ? EISDIR : ENXIO);
    }
    if (OnPseudoFileSystem(file.Get(), info.st_dev)) {
        return openError(ENODEV);
    }
    if (HeldByAnotherProgram(file.Get())) {
        return openError(EBUSY);
    }

    MarkerVerdict verdict = MarkerVerdict::Normal;
    if (!BytesAt(file.Get(), 0, kMarkerPrefix, kStartOfImage)) {
        verdict = MarkerVerdict::Soi;
    } else if (info.st_size < 2 ||
               !BytesAt(file.Get(), info.st_size - 2, kMarkerPrefix, kEndOfImage)) {
        // The size is the one seen at the open; a file shorter than two bytes by now cannot
        // hold the end marker.
        verdict = MarkerVerdict::Eoi;
        if (options.explanation) {
            *options.explanation = ExplainEndMarker(file.Get(), options.explanationDataLimit);
        }
    }
    if (options.onOpenFile) {
        options.onOpenFile(file.Get(), info);
    }
    return verdict;
}

std::string_view VerdictErrorText(MarkerVerdict verdict) noexcept {
    switch (verdict) {
    case MarkerVerdict::Normal:
        return "";
    case MarkerVerdict::Soi:
        return "SOI";
    case MarkerVerdict::Eoi:
        return "EOI";
    case MarkerVerdict::OpenError:
        return "File open error";
    }
    return "File open error";
}

} // namespace vorn
