#pragma once
// Moving failed files aside into a quarantine folder, never deleting and never replacing: the
// file keeps its path below the path it was found under, and a name already taken gets a number
// ("a (2).jpg"). Within one file system the file is renamed; across file systems it is copied,
// flushed to the disk and compared before the original is removed.

#include <optional>
#include <string>

#include "core/check/check_state.h"

namespace vorn {

struct QuarantineMove {
    std::string target; // where the file went (or would go); empty when it is not moved
    std::string error;  // why it is not moved, or ""
};

// Moves the regular file `source`, whose identity at its check was `checked`, to `relative`
// below `folder` (made when missing). A link, anything but a regular file, or a file whose
// identity is no longer `checked` is not moved. With `dryRun` only the target is chosen.
QuarantineMove MoveToQuarantine(const std::string& source, const FileIdentity& checked,
                                const std::string& folder, const std::string& relative,
                                bool dryRun);

} // namespace vorn
