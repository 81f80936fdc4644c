#pragma once
// Reading a file's bytes at a place, whatever the system hands back per call.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vorn {

// Reads `size` bytes at `offset` into `into`, calling the system until they are all read or the
// file ends there: the count read, fewer than `size` when the file is shorter (or shrank while it
// was read), nothing on a read error. An interrupted read is asked again.
std::optional<std::size_t> ReadAt(int fd, std::uint64_t offset, std::size_t size, void* into);

} // namespace vorn
