#include "core/os/file_replacement.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/exceptions.h"
#include "core/base/scope_exit.h"
#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"

namespace vorn {

namespace {

// The most links followed in a row, as the system does before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path the chain of links at `path` ends in (the path itself when it is no link). A link
// that leads nowhere yields the path it names; a loop yields `path`, whose open then fails.
std::string LinkTarget(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        std::string target(static_cast<std::size_t>(info.st_size) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            return path; // changed meanwhile: leave it to the open
        }
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
    }
    return path;
}

void WriteAll(int fd, std::string_view text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = RetryOnInterrupt(
            [&] { return ::write(fd, text.data() + written, text.size() - written); });
        if (put <= 0) {
            throw EWriteError();
        }
        written += static_cast<std::size_t>(put);
    }
}

void WriteInPlace(const std::string& path, std::string_view text) {
    // Non-blocking, so that a named pipe without a reader fails at once instead of waiting.
    UniqueFd file(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!file.Valid()) {
        throw EFCreateError(path);
    }
    WriteAll(file.Get(), text);
    if (!file.Close()) {
        throw EWriteError();
    }
}

// Writes `text` to a new file beside `target` and renames it over `target`, whose status is
// `old`. False, with nothing changed, when the new file cannot be made or renamed.
bool WriteAndRename(const std::string& target, const struct stat& old, std::string_view text) {
    const std::string folder = FolderOf(target);
    const std::size_t slash = target.rfind('/');
    std::string temporary =
        folder + "/." + target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    UniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.Valid()) {
        return false;
    }
    // Removes the new file on every way out before the rename, so no half-written copy stays.
    bool renamed = false;
    const ScopeExit remover([&] {
        if (!renamed) {
            ::unlink(temporary.c_str());
        }
    });

    // The owner first: changing it may clear the set-user and set-group bits. A file of another
    // owner that this user may not give away stays that owner's by being written in place.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(file.Get(), old.st_uid, old.st_gid) != 0) {
        return false;
    }
    [[maybe_unused]] const int moded = ::fchmod(file.Get(), old.st_mode & 07777);
    WriteAll(file.Get(), text);
    // A file system that has nothing to flush says so with EINVAL.
    if ((::fsync(file.Get()) != 0 && errno != EINVAL) || !file.Close()) {
        throw EWriteError();
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return false;
    }
    renamed = true;
    // The rename itself reaches the disk with the folder.
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) {
        ::fsync(dir.Get());
    }
    return true;
}

} // namespace

void ReplaceFileContents(const std::string& path, std::string_view text) {
    const std::string target = LinkTarget(path);
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) {
        WriteInPlace(path, text); // nothing there yet to lose
        return;
    }
    // A folder at the path cannot be replaced, and a file that grants nobody write permission is
    // read-only: both fail before anything is opened, also for a user whom the permission bits
    // would not stop.
    if (S_ISDIR(old.st_mode) || (old.st_mode & 0222) == 0) {
        throw EFCreateError(path);
    }
    if (!S_ISREG(old.st_mode)) {
        WriteInPlace(path, text);
        return;
    }
    // The folder may let this user replace a file that the user may not write: that stays
    // refused, as it would be in place.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
        throw EFCreateError(path);
    }
    if (!WriteAndRename(target, old, text)) {
        WriteInPlace(target, text);
    }
}

} // namespace vorn
