#pragma once
// Where the settings file lives: beside the executable for a portable install, in the user's
// configuration folder for an install into a folder the user cannot write (a system package).

#include <string>

namespace vorn {

// The settings file's path, chosen once at start-up for both the read and the write.
//
// It is SettingsFilePath(executablePath), beside the executable, when the file there can be
// written, or when nothing stands there and its folder lets one be made. Otherwise it is
// `configHome`/vorn/vorn.ini, where `configHome` counts only when it is an absolute path (the
// value of XDG_CONFIG_HOME; null, empty or relative means unset) and `home`/.config takes its
// place otherwise. The folders of that path that are missing are made, 0700, so that the write
// at exit can make the file; what cannot be made is left to that write to report. With neither
// an absolute `configHome` nor an absolute `home`, the path beside the executable stays.
//
// "Can be written" is the kernel's answer for this process's effective ids (faccessat with
// AT_EACCESS), the question the write itself will meet: ownership, permission bits, ACLs, a
// read-only mount and root's privilege alike. A file that grants nobody write permission counts
// as read-only also for root, as the write refuses it (file_replacement.h).
std::string SettingsLocation(const std::string& executablePath, const char* configHome,
                             const char* home);

// The same for this process: XDG_CONFIG_HOME and HOME from its environment, the user's home
// from the password database when HOME is unset or relative.
std::string SettingsLocation(const std::string& executablePath);

} // namespace vorn
