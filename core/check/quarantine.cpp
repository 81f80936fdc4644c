#include "core/check/quarantine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/os/read_at.h"
#include "core/os/retry_on_interrupt.h"
#include "core/os/unique_fd.h"

namespace vorn {

namespace {

// Makes every folder of `path` up to its last delimiter.
bool MakeParents(const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string folder = path.substr(0, at);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

// `path` with " (n)" before its extension.
std::string Numbered(const std::string& path, int n) {
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == slash + 1) {
        dot = path.size();
    }
    return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

// Whether the file `path` lies anywhere below the folder `folder`, by the folders' identities:
// neither the texts' spelling nor links can hide it.
bool LiesBelow(const std::string& path, const std::string& folder) {
    struct stat target {};
    if (::stat(folder.c_str(), &target) != 0) {
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char* const real = ::realpath(parent.c_str(), nullptr);
    if (real == nullptr) {
        return false;
    }
    std::string at = real;
    std::free(real);
    for (;;) {
        struct stat info {};
        if (::stat(at.empty() ? "/" : at.c_str(), &info) == 0 && info.st_dev == target.st_dev &&
            info.st_ino == target.st_ino) {
            return true;
        }
        if (at.empty()) {
            return false;
        }
        at.erase(at.rfind('/'));
    }
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool WriteAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = RetryOnInterrupt([&] { return ::write(fd, bytes, size); });
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to `size` bytes at `offset`; the count read, or -1.
ssize_t ReadChunk(int fd, char* bytes, std::size_t size, off_t offset) {
    const std::optional<std::size_t> got =
        ReadAt(fd, static_cast<std::uint64_t>(offset), size, bytes);
    return got ? static_cast<ssize_t>(*got) : -1;
}

// Copies `from` into the new file `to`, flushes it and compares the two; "" or why not. The
// copy is removed when anything fails.
std::string CopyChecked(int from, const std::string& to, mode_t mode) {
    const UniqueFd target(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!target.Valid()) {
        return errno == EEXIST ? "exists" : std::strerror(errno);
    }
    std::vector<char> buffer(1 << 20);
    std::vector<char> again(1 << 20);
    std::string error;
    off_t offset = 0;
    for (ssize_t n;
         error.empty() && (n = ReadChunk(from, buffer.data(), buffer.size(), offset)) != 0;
         offset += n) {
        if (n < 0 || !WriteAll(target.Get(), buffer.data(), static_cast<std::size_t>(n))) {
            error = std::strerror(errno);
        }
    }
    if (error.empty() && ::fsync(target.Get()) != 0) {
        error = std::strerror(errno);
    }
    const UniqueFd copy(::open(to.c_str(), O_RDONLY | O_CLOEXEC));
    for (off_t at = 0; error.empty() && at < offset;) {
        const ssize_t a = ReadChunk(from, buffer.data(), buffer.size(), at);
        const ssize_t b = ReadChunk(copy.Get(), again.data(), again.size(), at);
        if (a <= 0 || a != b || std::memcmp(buffer.data(), again.data(), std::size_t(a)) != 0) {
            error = "the copy differs from the file";
        }
        at += a > 0 ? a : 1;
    }
    if (!error.empty()) {
        ::unlink(to.c_str());
    }
    return error;
}

} // namespace

QuarantineFolder PrepareQuarantine(const std::string& folder, bool dryRun) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT || dryRun) {
            return {std::nullopt, errno == ENOENT ? std::string() : std::strerror(errno)};
        }
        if (!MakeParents(folder + "/") || ::stat(folder.c_str(), &info) != 0) {
            return {std::nullopt, std::strerror(errno)};
        }
    }
    if (!S_ISDIR(info.st_mode)) {
        return {std::nullopt, "not a folder"};
    }
    return {FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                           static_cast<std::uint64_t>(info.st_ino)},
            {}};
}

QuarantineMove MoveToQuarantine(const std::string& source, const FileIdentity& checked,
                                const std::string& folder, const std::string& relative,
                                bool dryRun) {
    struct stat link {};
    if (::lstat(source.c_str(), &link) != 0) {
        return {{}, std::strerror(errno)};
    }
    if (!S_ISREG(link.st_mode)) {
        return {{}, S_ISLNK(link.st_mode) ? "a link is not moved" : "not a regular file"};
    }
    if (IdentityOf(source) != checked) {
        return {{}, "changed since its check"};
    }
    if (LiesBelow(source, folder)) {
        return {{}, "already in the quarantine"};
    }
    const std::string wanted = folder + (folder.ends_with('/') ? "" : "/") + relative;
    if (!dryRun && !MakeParents(wanted)) {
        return {{}, std::strerror(errno)};
    }
    for (int n = 1; n < 10000; ++n) {
        const std::string target = n == 1 ? wanted : Numbered(wanted, n);
        if (dryRun) {
            if (!Exists(target)) {
                return {target, {}};
            }
            continue;
        }
        // Within one file system a rename that never replaces what is there.
        if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0) {
            return {target, {}};
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno != EXDEV) {
            return {{}, std::strerror(errno)};
        }
        const UniqueFd from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!from.Valid()) {
            return {{}, std::strerror(errno)};
        }
        const std::string error = CopyChecked(from.Get(), target, link.st_mode & 07777);
        if (error == "exists") {
            continue;
        }
        if (!error.empty()) {
            return {{}, error};
        }
        if (::unlink(source.c_str()) != 0) {
            const std::string unlinkError = std::strerror(errno);
            ::unlink(target.c_str());
            return {{}, unlinkError};
        }
        return {target, {}};
    }
    return {{}, "no free name"};
}

} // namespace vorn
