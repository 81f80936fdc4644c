#include "core/os/file_system.h"

#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vorn {

namespace {

// A path with a NUL byte inside names nothing: handing its first part to the system would
// answer for another path.
bool Unusable(const std::string& path) {
    return path.empty() || path.find('\0') != std::string::npos;
}

// A folder descriptor from which `rest` names `path` in a text short enough for one call,
// opened piece by piece. False (errno set) when a piece cannot be opened or one name alone is
// too long.
bool AnchorLongPath(const std::string& path, UniqueFd& anchor, std::string& rest) {
    constexpr std::size_t kPiece = PATH_MAX / 2;
    std::string_view left(path);
    int at = AT_FDCWD;
    if (left.front() == '/') {
        anchor = UniqueFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (anchor.Get() < 0) {
            return false;
        }
        at = anchor.Get();
        left.remove_prefix(1);
    }
    while (left.size() >= kPiece) {
        const std::size_t cut = left.substr(0, kPiece).rfind('/');
        if (cut == std::string_view::npos || cut == 0) {
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string piece(left.substr(0, cut));
        const int next = ::openat(at, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) {
            return false;
        }
        anchor = UniqueFd(next);
        at = next;
        left.remove_prefix(cut + 1);
    }
    rest.assign(left.empty() ? std::string_view(".") : left);
    return true;
}

// `call(folder, name)` for `path`, a system call of the *at family: first with the path whole,
// and when the system refuses it as too long, again from the folders on its way. Its result, or
// -1 with errno set.
template <typename AtCall>
int AtPath(const std::string& path, AtCall call) {
    const int result = call(AT_FDCWD, path.c_str());
    if (result >= 0 || errno != ENAMETOOLONG) {
        return result;
    }
    UniqueFd anchor;
    std::string rest;
    if (!AnchorLongPath(path, anchor, rest)) {
        return -1;
    }
    return call(anchor.Get() < 0 ? AT_FDCWD : anchor.Get(), rest.c_str());
}

int StatPath(const std::string& path, struct stat& info, int flags) {
    return AtPath(path,
                  [&](int at, const char* name) { return ::fstatat(at, name, &info, flags); });
}

EntryKind KindOfMode(mode_t mode) {
    if (S_ISDIR(mode)) {
        return EntryKind::Folder;
    }
    return S_ISREG(mode) ? EntryKind::File : EntryKind::Special;
}

EntryKind KindOfListing(unsigned char type) {
    switch (type) {
    case DT_REG:
        return EntryKind::File;
    case DT_DIR:
        return EntryKind::Folder;
    case DT_FIFO:
    case DT_CHR:
    case DT_BLK:
    case DT_SOCK:
        return EntryKind::Special;
    default: // DT_LNK, DT_UNKNOWN: only a stat tells
        return EntryKind::Unknown;
    }
}

// The type of a kernel pseudo file system (statfs's f_type): process and device tables,
// control files and mirrors of other trees, where links lead everywhere and reading a file may
// change the kernel's state (as reading the kernel log consumes it).
bool IsPseudoFileSystem(long type) {
    switch (static_cast<unsigned long>(type)) {
    case 0x9fa0:     // proc
    case 0x62656572: // sysfs
    case 0x64626720: // debugfs
    case 0x74726163: // tracefs
    case 0x73636673: // securityfs
    case 0x0027e0eb: // cgroup
    case 0x63677270: // cgroup2
    case 0x00001cd1: // devpts
    case 0xcafe4a11: // bpf
    case 0x62656570: // configfs
    case 0x6165676c: // pstore
    case 0xde5e81e4: // efivarfs
    case 0x65735543: // fusectl
    case 0x42494e4d: // binfmt_misc
    case 0xf97cff8c: // selinuxfs
    case 0x19800202: // mqueue
    case 0x6e736673: // nsfs
        return true;
    default:
        return false;
    }
}

} // namespace

bool OnPseudoFileSystem(int fd, std::uint64_t device) {
    // The answer is kept per device and thread, since the files and folders of a run mostly
    // share a few devices.
    thread_local std::uint64_t lastDevice = 0;
    thread_local bool lastAnswer = false;
    thread_local bool known = false;
    if (!known || device != lastDevice) {
        struct statfs system {};
        if (RetryOnInterrupt([&] { return ::fstatfs(fd, &system); }) != 0) {
            return false;
        }
        lastDevice = device;
        lastAnswer = IsPseudoFileSystem(system.f_type);
        known = true;
    }
    return lastAnswer;
}

int OpenPath(const std::string& path, int flags) {
    if (Unusable(path)) {
        errno = ENOENT;
        return -1;
    }
    return AtPath(path, [&](int at, const char* name) { return ::openat(at, name, flags); });
}

int OpenForCheck(const std::string& path) {
    return RetryOnInterrupt(
        [&] { return OpenPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
}

EntryKind ExamineEntry(const std::string& path) {
    if (Unusable(path)) {
        return EntryKind::Missing;
    }
    struct stat info {};
    // A link is followed, so a link to a folder is a folder.
    if (StatPath(path, info, 0) == 0) {
        return KindOfMode(info.st_mode);
    }
    const int error = errno;
    // A link that leads nowhere (dangling, a loop, a target out of reach) still exists as an
    // entry: it is reported as not openable instead of vanishing silently.
    if (StatPath(path, info, AT_SYMLINK_NOFOLLOW) == 0) {
        return EntryKind::Dangling;
    }
    return error == ENOENT || error == ENOTDIR ? EntryKind::Missing : EntryKind::Refused;
}

FolderListing ListFolder(const std::string& folder) {
    FolderListing listing;
    UniqueFd fd(OpenPath(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0) {
        return listing;
    }
    listing.identity = {static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
    // A folder that can be read but not searched lists names that lead nowhere: reaching
    // anything inside takes the search right that looking up "." asks for.
    const UniqueFd entered(::openat(fd.Get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (entered.Get() < 0) {
        return listing;
    }
    listing.pseudo = OnPseudoFileSystem(fd.Get(), listing.identity.device);
    DIR* const dir = ::fdopendir(fd.Get());
    if (!dir) {
        return listing;
    }
    fd.Release();
    listing.opened = true;
    // readdir() returns null both at the end and on an error; either way the names read so
    // far are kept.
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        listing.names.emplace_back(name);
        listing.kinds.push_back(KindOfListing(entry->d_type));
    }
    ::closedir(dir);
    return listing;
}

} // namespace vorn
