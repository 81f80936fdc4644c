#pragma once
// The reason for a file's verdict in a sentence, for a person (a row's tooltip, what a screen
// reader reads of it).

#include <string>

#include "core/check/file_result.h"

namespace vorn {

// For a file not checked yet.
std::string UncheckedSentence();

// Why the check gave `result`: for an end marker missing, where the file is cut short or what
// follows the end marker (the explanation in `result.detail`, when the check made one); for the
// picture check, its reason with the byte it was found at; for a file that could not be opened,
// why (`result.openError`). Ends with a full stop.
std::string VerdictSentence(const FileResult& result);

} // namespace vorn
