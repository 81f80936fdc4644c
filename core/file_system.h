#pragma once
// The file-system questions the folder walk asks. Paths are byte strings used as they are;
// "*" and "?" are ordinary characters (a path is a name, never a pattern).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorn {

// Identifies a folder on this machine, whatever path led to it.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// What a path names, from one look at the file system.
struct PathFacts {
    bool exists = false;                  // the path names something (a dangling link too)
    std::optional<FolderIdentity> folder; // set when that is a folder, or a link to one
};
// The folder test and the file test below in one: a walk asks both of every path, and one stat
// answers both.
PathFacts ExaminePath(const std::string& path);

// Folder test: the identity of the folder `path` names (a link to a folder counts as a folder),
// or nothing when it names no folder or cannot be examined.
std::optional<FolderIdentity> FolderTest(const std::string& path);

// File test: `path` names something that exists and is not a folder (a regular file, a named
// pipe, a device, a dangling link...). No date test: a file dated before 1980 is a file.
bool FileTest(const std::string& path);

// The names of every entry of `folder` (hidden ones too) in the order the system returns them,
// "." and ".." left out. A listing that fails part-way keeps what it read; a folder that cannot
// be read gives none. Never throws for anything the file system does.
std::vector<std::string> ListFolder(const std::string& folder);

// The full path of the running executable, or "" when the system cannot tell.
std::string ExecutablePath();

} // namespace vorn
