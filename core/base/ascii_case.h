#pragma once
// Case folding of ASCII letters only: bytes of multi-byte characters and every other byte stay
// as they are, so names compare the same way whatever the locale.

#include <string_view>

namespace vorn {

char AsciiLower(char c) noexcept;

// True when `a` and `b` have the same length and differ only in the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept;

} // namespace vorn
