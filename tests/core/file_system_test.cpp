#include "core/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace vorn {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vorn-fs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(Path("locked"), fs::perms::owner_all, ignored);
        fs::remove_all(m_root, ignored);
    }

    std::string Path(const std::string& relative) const { return m_root + "/" + relative; }
    void Touch(const std::string& relative) const { std::ofstream(Path(relative)) << "x"; }
    void Folder(const std::string& relative) const { fs::create_directory(Path(relative)); }
    void Link(const std::string& target, const std::string& relative) const {
        fs::create_symlink(target, Path(relative));
    }

    std::vector<std::string> SortedListing(const std::string& relative) const {
        std::vector<std::string> names = ListFolder(Path(relative));
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string m_root;
};

TEST_F(FileSystemTest, WhatCountsAsFolderAndAsFile) {
    Touch("a.jpg");
    Folder("album.jpg");
    Link(Path("album.jpg"), "to_folder");
    Link(Path("a.jpg"), "to_file");
    Link(Path("gone.jpg"), "dangling.jpg");
    Link(Path("loop1"), "loop2");
    Link(Path("loop2"), "loop1");
    ASSERT_EQ(::mkfifo(Path("pipe.jpg").c_str(), 0600), 0);
    Touch("star*?.jpg");

    struct Case {
        std::string path;
        bool folder;
        bool file;
    };
    const std::vector<Case> cases = {
        {Path("a.jpg"), false, true},
        {Path("album.jpg"), true, false},
        {Path("album.jpg/"), true, false},
        {Path("to_folder"), true, false},
        {Path("to_file"), false, true},
        // Links that lead nowhere still exist as entries.
        {Path("dangling.jpg"), false, true},
        {Path("loop1"), false, true},
        {Path("pipe.jpg"), false, true},
        {"/dev/null", false, true},
        {Path("missing.jpg"), false, false},
        {Path("a.jpg/inside"), false, false},
        {"", false, false},
        // A name, never a pattern: "*" matches only itself.
        {Path("*.jpg"), false, false},
        {Path("a.*"), false, false},
        {Path("star*?.jpg"), false, true},
        {Path("a.jpg") + std::string("\0x", 2), false, false},
        {m_root + std::string("\0", 1), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FolderTest(c.path).has_value(), c.folder) << c.path;
        EXPECT_EQ(FileTest(c.path), c.file) << c.path;
    }
}

TEST_F(FileSystemTest, FileDatedBefore1980IsAFile) {
    Touch("old.jpg");
    const timeval epoch[2] = {{0, 0}, {0, 0}};
    ASSERT_EQ(::utimes(Path("old.jpg").c_str(), epoch), 0);
    EXPECT_TRUE(FileTest(Path("old.jpg")));
    const timeval beforeEpoch[2] = {{-86400, 0}, {-86400, 0}};
    ASSERT_EQ(::utimes(Path("old.jpg").c_str(), beforeEpoch), 0);
    EXPECT_TRUE(FileTest(Path("old.jpg")));
}

TEST_F(FileSystemTest, FolderIdentityIsThePathsTarget) {
    Folder("f");
    Folder("g");
    Link(".", "f/self");
    Link(Path("f"), "to_f");

    const auto f = FolderTest(Path("f"));
    ASSERT_TRUE(f.has_value());
    // A link back into its own folder shows as that very folder, however deep the path.
    EXPECT_EQ(FolderTest(Path("f/self")), f);
    EXPECT_EQ(FolderTest(Path("f/self/self/self")), f);
    EXPECT_EQ(FolderTest(Path("to_f")), f);
    EXPECT_EQ(FolderTest(Path("f/../f")), f);
    EXPECT_NE(FolderTest(Path("g")), f);
}

TEST_F(FileSystemTest, ListingHoldsEveryEntryButDotAndDotDot) {
    Folder("f");
    Touch("f/.hidden.jpg");
    Touch("f/b.jpg");
    Touch("f/notes.txt");
    Folder("f/.cache");
    Folder("f/A");
    Link(".", "f/self");
    Link(Path("gone"), "f/dangling");
    Touch("f/..x");
    Touch(std::string("f/\xFF\xFE.jpg"));

    const std::vector<std::string> expected = {"..x",       ".cache", ".hidden.jpg",
                                               "A",         "b.jpg",  "dangling",
                                               "notes.txt", "self",   "\xFF\xFE.jpg"};
    EXPECT_EQ(SortedListing("f"), expected);
    EXPECT_EQ(SortedListing("f/self"), expected);
    EXPECT_EQ(SortedListing("f/self/"), expected);
    EXPECT_TRUE(ListFolder(Path("f/A")).empty());
}

TEST_F(FileSystemTest, ListingWorksUnderANonUtf8Folder) {
    const std::string odd = "\xFF\xFE folder";
    Folder(odd);
    Touch(odd + "/a.jpg");
    EXPECT_TRUE(FolderTest(Path(odd)).has_value());
    EXPECT_EQ(ListFolder(Path(odd)), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(FileTest(Path(odd + "/a.jpg")));
}

TEST_F(FileSystemTest, WhatCannotBeListedGivesNothing) {
    Touch("file.jpg");
    for (const std::string& path : {Path("missing"), Path("file.jpg"), std::string(),
                                    std::string("/dev/null"), m_root + std::string("\0", 1)})
        EXPECT_TRUE(ListFolder(path).empty()) << path;
}

TEST_F(FileSystemTest, FolderWithoutPermissionGivesNothing) {
    Folder("locked");
    Touch("locked/a.jpg");
    ASSERT_EQ(::chmod(Path("locked").c_str(), 0), 0);
    // root reads every folder: ask as an ordinary user for a moment, with the way there open.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(::chmod(m_root.c_str(), 0755), 0);
        if (::seteuid(65534) != 0)
            GTEST_SKIP() << "cannot act as another user";
    }
    const bool isFolder = FolderTest(Path("locked")).has_value();
    const std::vector<std::string> names = ListFolder(Path("locked"));
    const bool isFile = FileTest(Path("locked/a.jpg"));
    if (asRoot) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_TRUE(isFolder);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(isFile);
}

TEST_F(FileSystemTest, LongPathsWorkUpToTheLimitAndFailBeyondIt) {
    // Nest folders of 200-byte names until the path is close to 4,000 bytes.
    const std::string segment(200, 's');
    std::string relative = "deep";
    Folder(relative);
    while (Path(relative).size() + 1 + segment.size() < 4000) {
        relative += "/" + segment;
        ASSERT_EQ(::mkdir(Path(relative).c_str(), 0700), 0) << Path(relative).size();
    }
    const std::string deep = Path(relative);
    ASSERT_GT(deep.size(), 3800u);
    const std::string name = "x.jpg";
    ASSERT_EQ(::close(::creat((deep + "/" + name).c_str(), 0600)), 0);

    EXPECT_TRUE(FolderTest(deep).has_value());
    EXPECT_EQ(ListFolder(deep), std::vector<std::string>{name});
    EXPECT_TRUE(FileTest(deep + "/" + name));

    // Beyond the system's path length every question fails quietly.
    std::string tooLong = deep;
    while (tooLong.size() <= 5000)
        tooLong += "/" + segment;
    EXPECT_FALSE(FolderTest(tooLong).has_value());
    EXPECT_FALSE(FileTest(tooLong));
    EXPECT_TRUE(ListFolder(tooLong).empty());
    EXPECT_FALSE(FileTest(std::string(100000, 'a')));
}

TEST(ExecutablePathTest, NamesThisTestProgram) {
    const std::string path = ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    // The name this program was started by leads to the same file, links resolved.
    EXPECT_EQ(path, fs::canonical(program_invocation_name).string());
    EXPECT_TRUE(FileTest(path));
}

} // namespace
} // namespace vorn
