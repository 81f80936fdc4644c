#pragma once
// A test's case run as an ordinary user. Root is stopped by no permission bit, so a case about
// permissions runs as an ordinary user also when the tests run as root; with modes that lock out
// the owner too (0000 on a folder, 0444 on a file) it then means the same for root and for the
// user who owns the checkout, and fails for the same fault either way.

#include <functional>
#include <string>
#include <vector>

// What AsOrdinaryUser gives when this process cannot become another user.
inline constexpr int kCannotActAsUser = 77;

// Runs `body` in a child process; returns what `body` returns (its exit status, 0 to 255), or
// 128 + the signal that ended the child. As root, the child becomes the unprivileged user nobody
// (user and group 65534, no other groups) first, and `owned` (folders, not followed into) are
// given to that user beforehand, so that the child owns what it works on as an ordinary user
// owns the temporary folders it makes. Anyone else runs `body` as itself.
int AsOrdinaryUser(const std::function<int()>& body, const std::vector<std::string>& owned = {});
