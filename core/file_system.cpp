#include "core/file_system.h"

#include <cerrno>
#include <dirent.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {

namespace {

// A path with a NUL byte inside names nothing: handing its first part to the system would
// answer for another path.
bool Unusable(const std::string& path) {
    return path.empty() || path.find('\0') != std::string::npos;
}

struct FolderCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

PathFacts ExaminePath(const std::string& path) {
    PathFacts facts;
    if (Unusable(path))
        return facts;
    struct stat info {};
    // stat() follows links, so a link to a folder is a folder; a link loop fails with ELOOP.
    if (::stat(path.c_str(), &info) == 0) {
        facts.exists = true;
        if (S_ISDIR(info.st_mode))
            facts.folder = FolderIdentity{static_cast<std::uint64_t>(info.st_dev),
                                          static_cast<std::uint64_t>(info.st_ino)};
        return facts;
    }
    // A link that leads nowhere (dangling, or a loop) still exists as an entry: it is taken as
    // a file, so it is listed and then reported as not openable instead of vanishing silently.
    facts.exists = ::lstat(path.c_str(), &info) == 0;
    return facts;
}

std::optional<FolderIdentity> FolderTest(const std::string& path) {
    return ExaminePath(path).folder;
}

bool FileTest(const std::string& path) {
    const PathFacts facts = ExaminePath(path);
    return facts.exists && !facts.folder;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (Unusable(folder))
        return names;
    const std::unique_ptr<DIR, FolderCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return names;
    // readdir() returns null both at the end and on an error; either way the names read so
    // far are kept.
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    return names;
}

std::string ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        // readlink() does not say whether it truncated: a result that fills the buffer may
        // have been cut, so try again with a larger one.
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace vorn
