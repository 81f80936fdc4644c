#include "tests/support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Removes everything inside the folder open as `folder`, giving the owner every right on each
// folder first. It goes by descriptors, so no depth is too deep and no name too long.
void Empty(int folder) {
    std::vector<std::string> names;
    if (DIR* const dir = ::fdopendir(::dup(folder))) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name != "." && name != "..") {
                names.emplace_back(name);
            }
        }
        ::closedir(dir);
    }
    for (const std::string& name : names) {
        struct stat facts {};
        if (::fstatat(folder, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(facts.st_mode)) {
            ::fchmodat(folder, name.c_str(), 0700, 0);
            const int inner = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (inner >= 0) {
                Empty(inner);
                ::close(inner);
            }
            ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(folder, name.c_str(), 0);
        }
    }
}

} // namespace

TempTree::TempTree() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    std::string pattern = (error ? fs::path("/tmp") : base).string() + "/vorn-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no temporary folder can be made");
    }
    m_root = pattern;
}

TempTree::~TempTree() {
    ::chmod(m_root.c_str(), 0700);
    Clear();
    ::rmdir(m_root.c_str());
}

void TempTree::Clear() const {
    const int root = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY);
    if (root >= 0) {
        Empty(root);
        ::close(root);
    }
}

std::string TempTree::Path(std::string_view relative) const {
    return m_root + "/" + std::string(relative);
}

std::string TempTree::Write(std::string_view relative, std::string_view bytes) const {
    const std::string path = Path(relative);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

std::string TempTree::Folder(std::string_view relative) const {
    const std::string path = Path(relative);
    fs::create_directories(path);
    return path;
}

std::string TempTree::Short(const std::string& path) const {
    if (path.rfind(m_root, 0) != 0) {
        return path;
    }
    std::string shortened = "T";
    shortened.append(path, m_root.size());
    return shortened;
}
