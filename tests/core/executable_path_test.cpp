#include "core/os/executable_path.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "core/os/file_system.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

TEST(ExecutablePath, NamesThisTestProgram) {
    const std::string path = ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    // The name this program was started by leads to the same file, links resolved.
    EXPECT_EQ(path, fs::canonical(program_invocation_name).string());
    EXPECT_EQ(ExamineEntry(path), EntryKind::File);
}

} // namespace
} // namespace vorn
