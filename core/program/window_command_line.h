#pragma once
// The command line: one string split into parameters at blanks, double quotes grouping, no escape
// character; and the test for the check switch (-a or /a).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class PathCollator;

// The number of parameters after the program's own path (the first parameter).
std::size_t ParameterCount(std::string_view commandLine);
// Parameter `index` (1 <= index <= ParameterCount); "" outside that range.
std::string Parameter(std::string_view commandLine, std::size_t index);

// True when some parameter is "-" or "/" followed by text that the path collator's
// case-respecting comparison finds equal to "a": "-A", "-ab" and "--a" are not the switch, but
// characters the collation ignores do not count either, so "-a" followed by a zero-width space
// or a control byte is the switch too. A switch parameter stays in the list as a path.
bool HasCheckSwitch(const std::vector<std::string>& parameters);
// The same test by a given collator's case-respecting comparison.
bool HasCheckSwitch(const std::vector<std::string>& parameters, const PathCollator& collator);

} // namespace vorn
