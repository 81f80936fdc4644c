#include "core/os/read_at.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "core/os/unique_fd.h"
#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

// What a read at a place gives for a ten-byte file: all that was asked, what the file holds
// past the place, nothing past its end, and a failure on what cannot be read.
TEST(ReadAt, GivesWhatTheFileHoldsThereAndNoMore) {
    struct Case {
        std::uint64_t offset;
        std::size_t size;
        std::string bytes;
    };
    const Case cases[] = {
        {0, 10, "0123456789"}, {3, 4, "3456"}, {7, 10, "789"}, {10, 4, ""}, {99, 4, ""}, {0, 0, ""},
    };
    const TempTree tree;
    const UniqueFd file(::open(tree.Write("ten", "0123456789").c_str(), O_RDONLY));
    ASSERT_TRUE(file.Valid());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.size));
        std::string into(c.size, '\0');
        const std::optional<std::size_t> got = ReadAt(file.Get(), c.offset, c.size, into.data());
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(into.substr(0, *got), c.bytes);
    }

    const UniqueFd folder(::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY));
    char byte;
    EXPECT_FALSE(ReadAt(folder.Get(), 0, 1, &byte).has_value());
    EXPECT_FALSE(ReadAt(-1, 0, 1, &byte).has_value());
}

} // namespace
} // namespace vorn
