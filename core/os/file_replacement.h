#pragma once
// Replacing a small file's contents so that a write cut short loses nothing.

#include <string>
#include <string_view>

namespace vorn {

// Makes `text` the contents of the file at `path`. A link at `path` is followed to its target,
// which is the file replaced, so the link keeps working.
//
// An existing regular file is replaced whole: the text goes to a new file in the same folder,
// which is flushed to disk and then renamed over the old one, keeping its owner and permissions.
// A write cut short by a full disk, a file-size limit or a crash then leaves the old contents as
// they were. Where the folder lets no new file be made, the rename is refused, or the new file
// cannot be given the old one's owner, but the file itself is writable, the file is rewritten in
// place instead.
// A path that names nothing yet, or a named pipe or device, is written in place.
//
// Throws EFCreateError(path) when the file cannot be written: a folder stands there, the file
// grants nobody write permission (also for a user whom the permission bits would not stop),
// this user may not write it, or it cannot be created; the old file is then left unchanged.
// Throws EWriteError when the text could not be written whole or flushed.
void ReplaceFileContents(const std::string& path, std::string_view text);

} // namespace vorn
