#include "tests/support/temp_tree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Gives the owner every right on `folder` and on every folder below it, so that all of it can be
// removed.
void OpenUp(const std::string& folder) {
    ::chmod(folder.c_str(), 0700);
    DIR* const dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = folder + "/" + std::string(name);
        struct stat facts {};
        if (::lstat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode)) {
            OpenUp(path);
        }
    }
    ::closedir(dir);
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
    OpenUp(m_root);
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
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
    return path.rfind(m_root, 0) == 0 ? "T" + path.substr(m_root.size()) : path;
}
