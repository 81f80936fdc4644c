#include "core/settings/settings_location.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/settings/settings_file.h"

namespace vorn {

namespace {

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Writable(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// True when the settings file at `path` can be written, or can be made there. A link that
// leads nowhere, or an entry that cannot be examined, is neither: the write would not be sure
// to land where the read looked.
bool CanWriteSettings(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        return !S_ISDIR(status.st_mode) && (status.st_mode & 0222) != 0 && Writable(path);
    }
    if (errno != ENOENT || ::lstat(path.c_str(), &status) == 0) {
        return false;
    }
    return ::faccessat(AT_FDCWD, FolderOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Makes the missing folders of `folder`, each 0700 as the user's configuration is private.
void MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return;
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

} // namespace

std::string SettingsLocation(const std::string& executablePath, const char* configHome,
                             const char* home) {
    std::string beside = SettingsFilePath(executablePath);
    const bool configKnown = IsAbsolute(configHome) || IsAbsolute(home);
    if ((!executablePath.empty() && CanWriteSettings(beside)) || !configKnown) {
        return beside;
    }
    std::string folder =
        IsAbsolute(configHome) ? std::string(configHome) : std::string(home) + "/.config";
    folder += "/vorn";
    MakeFolders(folder);
    return folder + "/vorn.ini";
}

std::string SettingsLocation(const std::string& executablePath) {
    const char* home = std::getenv("HOME");
    if (!IsAbsolute(home)) {
        // The entry stays valid until the next lookup; it is used before then.
        const struct passwd* user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    return SettingsLocation(executablePath, std::getenv("XDG_CONFIG_HOME"), home);
}

} // namespace vorn
