#pragma once
// Moving failed files aside into a quarantine folder, never deleting and never replacing: the
// file keeps its path below the path it was found under, and a name already taken gets a number
// ("a (2).jpg"). Within one file system the file is renamed; across file systems it is copied,
// flushed to the disk and compared before the original is removed.

#include <optional>
#include <string>

#include "core/check/check_record.h"
#include "core/os/file_system.h"

namespace vorn {

struct QuarantineMove {
    std::string target; // where the file went (or would go); empty when it is not moved
    std::string error;  // why it is not moved, or ""
};

// The quarantine folder made ready before a run: made when missing (but not in a dry run), with
// the identity a walk compares its folders with so that it never enters the quarantine, however
// the folder is named. `error` says why it cannot serve (a file of that name, no right to make
// it), and the run is then not started.
struct QuarantineFolder {
    std::optional<FolderIdentity> identity; // none in a dry run before it exists
    std::string error;
};
QuarantineFolder PrepareQuarantine(const std::string& folder, bool dryRun);

// Moves the regular file `source`, whose identity at its check was `checked`, to `relative`
// below `folder` (made when missing). A link, anything but a regular file, a file whose
// identity is no longer `checked`, or one already inside `folder` is not moved. With `dryRun` only
// the target is chosen.
QuarantineMove MoveToQuarantine(const std::string& source, const FileIdentity& checked,
                                const std::string& folder, const std::string& relative,
                                bool dryRun);

} // namespace vorn
