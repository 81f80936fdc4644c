#include "core/os/file_replacement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/exceptions.h"
#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

// Whatever stands at the path, the text ends up in the file it names, and the file keeps its
// permissions; a link stays a link.
TEST(FileReplacement, TheTextReplacesWhatStandsThere) {
    struct Row {
        const char* name;
        void (*make)(const TempTree& tree, const std::string& path);
    };
    const Row rows[] = {
        {"nothing yet",
         [](const TempTree&, const std::string&) {
         }},
        {"a longer file",
         [](const TempTree& tree, const std::string&) {
             tree.Write("settings.ini", std::string(10000, 'x'));
         }},
        {"a file only its owner may read",
         [](const TempTree& tree, const std::string& path) {
             tree.Write("settings.ini", "old");
             ::chmod(path.c_str(), 0600);
         }},
        {"a link to a file",
         [](const TempTree& tree, const std::string& path) {
             tree.Write("target.ini", "old");
             fs::create_symlink("target.ini", path);
         }},
    };
    for (const Row& row : rows) {
        const TempTree tree;
        const std::string path = tree.Path("settings.ini");
        row.make(tree, path);
        struct stat before {};
        const bool existed = ::stat(path.c_str(), &before) == 0;
        const bool link = fs::is_symlink(path);
        ReplaceFileContents(path, "[Options]\nA=1\n");
        EXPECT_EQ(Contents(path), "[Options]\nA=1\n") << row.name;
        EXPECT_EQ(fs::is_symlink(path), link) << row.name;
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0) << row.name;
        if (existed) {
            EXPECT_EQ(after.st_mode, before.st_mode) << row.name;
        }
        // Nothing is left beside the file.
        const auto entries = std::distance(fs::directory_iterator(tree.Root()), {});
        EXPECT_EQ(entries, link ? 2 : 1) << row.name;
    }
}

// Where the file cannot be written, the error names it and the old contents stay.
TEST(FileReplacement, WhatCannotBeWrittenIsLeftAsItWas) {
    const TempTree tree;
    const std::string folder = tree.Folder("settings.ini");
    EXPECT_THROW(ReplaceFileContents(folder, "text"), EFCreateError);
    const std::string locked = tree.Write("locked.ini", "old");
    ::chmod(locked.c_str(), 0444);
    EXPECT_THROW(ReplaceFileContents(locked, "new"), EFCreateError);
    EXPECT_EQ(Contents(locked), "old");
    EXPECT_THROW(ReplaceFileContents(tree.Path("missing/settings.ini"), "text"), EFCreateError);
}

} // namespace
} // namespace vorn
