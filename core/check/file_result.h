#pragma once
// What the check of one file found: the marker verdict, and the picture's when it was checked.

#include <cstdint>
#include <optional>
#include <string>

#include "core/check/check_record.h"
#include "core/check/deep_check.h"
#include "core/check/marker_check.h"

namespace vorn {

struct FileResult {
    MarkerVerdict verdict = MarkerVerdict::OpenError;
    std::string detail; // what the check adds to the verdict (an explanation), or empty
    std::optional<DeepCheckResult> deep; // the picture check, when the caller's check makes it
    // With a state of earlier runs: what the state is to keep of this check, and whether it
    // was taken from the state instead of reading the file.
    std::optional<CheckRecord> record;
    bool remembered = false;
    int openError = 0; // OpenError: why, as MarkerCheckOptions::openError gives it; 0 unknown
    // When the caller's check asks for it: the identity of the file that was read, taken from
    // its status at the open, when it had not changed once the reading was done.
    std::optional<FileIdentity> identity;
    std::uint64_t bytesRead = 0; // what the check read of the file
};

} // namespace vorn
