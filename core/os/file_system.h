#pragma once
// The file-system questions the folder walk asks. Paths are byte strings used as they are;
// "*" and "?" are ordinary characters (a path is a name, never a pattern). A path longer than
// the system takes in one call is reached piece by piece from the folders on its way, so deep
// trees work to any depth.

#include <cstdint>
#include <string>
#include <vector>

namespace vorn {

// Identifies a folder on this machine, whatever path led to it.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// What an entry is, as far as the walk needs to know.
enum class EntryKind : std::uint8_t {
    Unknown,  // the listing does not tell (a link, or a file system without entry types)
    File,     // a regular file (a link to one too)
    Folder,   // a folder (a link to one too)
    Special,  // a named pipe, device or socket: exists, is never opened for a check
    Dangling, // a link that leads nowhere or into a loop: exists, cannot be opened
    Refused,  // the system refuses to say (no permission on the way, a name too long, an I/O
              // error): the path may name something, so it is not taken for missing
    Missing,  // names nothing (also an empty path, or one with a NUL byte inside)
};

// What `path` names, links followed. One stat; an lstat only when that fails. No date test: a
// file dated before 1980 is a file.
EntryKind ExamineEntry(const std::string& path);

// One folder's listing, from one open descriptor.
struct FolderListing {
    // False when the folder cannot be opened, listed or entered (searched): nothing inside it
    // can then be reached by the paths the walk builds.
    bool opened = false;
    FolderIdentity identity;
    // The folder lies on a kernel pseudo file system (proc, sysfs and the like), whose links
    // lead everywhere and whose files are not photos.
    bool pseudo = false;
    // Every entry but "." and ".." (hidden ones too), in the order the system returns them,
    // with the kind its listing tells. A listing that fails part-way keeps what it read.
    std::vector<std::string> names;
    std::vector<EntryKind> kinds;
};
// Never throws for anything the file system does.
FolderListing ListFolder(const std::string& folder);

// True when the open file `fd`, on `device` (its st_dev), lies on a kernel pseudo file system:
// process and device tables, control files and mirrors of other trees, where links lead
// everywhere. A file there is no photo, and reading it may change the kernel's state (as reading
// the kernel log consumes it).
bool OnPseudoFileSystem(int fd, std::uint64_t device);

// open(2) of `path`, reaching a path too long for one call from the folders on its way. A path
// that is empty or holds a NUL byte (cutting it there would name another file) opens nothing.
// Returns the descriptor or -1 with errno set.
int OpenPath(const std::string& path, int flags);

// Opens `path` to be read by a check: read-only and non-blocking, so that a named pipe without
// a writer or a device cannot stall it; without a controlling-terminal side effect; never
// creating anything; again when a signal interrupts it. -1 with errno set when it cannot.
int OpenForCheck(const std::string& path);

} // namespace vorn
