#pragma once
// The running program's own file.

#include <string>

namespace vorn {

// The full path of the running executable, links resolved, however long; "" when the system
// cannot tell.
std::string ExecutablePath();

} // namespace vorn
