#include "core/os/file_system.h"

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

#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

class FileSystem : public ::testing::Test {
protected:
    std::string Path(const std::string& relative) const { return m_tree.Path(relative); }
    void Touch(const std::string& relative) const { std::ofstream(Path(relative)) << "x"; }
    void Folder(const std::string& relative) const { fs::create_directory(Path(relative)); }
    void Link(const std::string& target, const std::string& relative) const {
        fs::create_symlink(target, Path(relative));
    }

    std::vector<std::string> SortedListing(const std::string& relative) const {
        std::vector<std::string> names = ListFolder(Path(relative)).names;
        std::sort(names.begin(), names.end());
        return names;
    }

    TempTree m_tree;
    const std::string m_root = m_tree.Root();
};

TEST_F(FileSystem, WhatCountsAsFolderAndAsFile) {
    Touch("a.jpg");
    Folder("album.jpg");
    Link(Path("album.jpg"), "to_folder");
    Link(Path("a.jpg"), "to_file");
    Link(Path("gone.jpg"), "dangling.jpg");
    Link(Path("loop1"), "loop2");
    Link(Path("loop2"), "loop1");
    ASSERT_EQ(::mkfifo(Path("pipe.jpg").c_str(), 0600), 0);
    Touch("star*?.jpg");

    using enum EntryKind;
    const std::vector<std::pair<std::string, EntryKind>> cases = {
        {Path("a.jpg"), File},
        {Path("album.jpg"), Folder},
        {Path("album.jpg/"), Folder},
        {Path("to_folder"), Folder},
        {Path("to_file"), File},
        // Links that lead nowhere still exist as entries.
        {Path("dangling.jpg"), Dangling},
        {Path("loop1"), Dangling},
        {Path("pipe.jpg"), Special},
        {"/dev/null", Special},
        {Path("missing.jpg"), Missing},
        {Path("a.jpg/inside"), Missing},
        {"", Missing},
        // A name, never a pattern: "*" matches only itself.
        {Path("*.jpg"), Missing},
        {Path("a.*"), Missing},
        {Path("star*?.jpg"), File},
        {Path("a.jpg") + std::string("\0x", 2), Missing},
        {m_root + std::string("\0", 1), Missing},
        // One name longer than the system takes may still name something: it is not missing.
        {Path(std::string(300, 'n')), Refused},
    };
    for (const auto& [path, kind] : cases) {
        EXPECT_EQ(ExamineEntry(path), kind) << path;
    }
}

TEST_F(FileSystem, FileDatedBefore1980IsAFile) {
    Touch("old.jpg");
    const timeval epoch[2] = {{0, 0}, {0, 0}};
    ASSERT_EQ(::utimes(Path("old.jpg").c_str(), epoch), 0);
    EXPECT_EQ(ExamineEntry(Path("old.jpg")), EntryKind::File);
    const timeval beforeEpoch[2] = {{-86400, 0}, {-86400, 0}};
    ASSERT_EQ(::utimes(Path("old.jpg").c_str(), beforeEpoch), 0);
    EXPECT_EQ(ExamineEntry(Path("old.jpg")), EntryKind::File);
}

TEST_F(FileSystem, FolderIdentityIsThePathsTarget) {
    Folder("f");
    Folder("g");
    Link(".", "f/self");
    Link(Path("f"), "to_f");

    const FolderListing f = ListFolder(Path("f"));
    ASSERT_TRUE(f.opened);
    EXPECT_FALSE(f.pseudo);
    // A link back into its own folder shows as that very folder, however deep the path.
    for (const char* other : {"f/self", "f/self/self/self", "to_f", "f/../f"}) {
        EXPECT_EQ(ListFolder(Path(other)).identity, f.identity) << other;
    }
    EXPECT_NE(ListFolder(Path("g")).identity, f.identity);
}

TEST_F(FileSystem, ListingHoldsEveryEntryButDotAndDotDot) {
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
    EXPECT_TRUE(ListFolder(Path("f/A")).names.empty());
    // The listing tells the kinds it knows; links are left to a stat.
    const FolderListing listing = ListFolder(Path("f"));
    for (std::size_t i = 0; i < listing.names.size(); ++i) {
        const EntryKind kind =
            listing.names[i] == "A" || listing.names[i] == ".cache"        ? EntryKind::Folder
            : listing.names[i] == "self" || listing.names[i] == "dangling" ? EntryKind::Unknown
                                                                           : EntryKind::File;
        EXPECT_EQ(listing.kinds[i], kind) << listing.names[i];
    }
}

TEST_F(FileSystem, ListingWorksUnderANonUtf8Folder) {
    const std::string odd = "\xFF\xFE folder";
    Folder(odd);
    Touch(odd + "/a.jpg");
    EXPECT_EQ(ExamineEntry(Path(odd)), EntryKind::Folder);
    EXPECT_EQ(ListFolder(Path(odd)).names, std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(ExamineEntry(Path(odd + "/a.jpg")), EntryKind::File);
}

TEST_F(FileSystem, WhatCannotBeListedGivesNothing) {
    Touch("file.jpg");
    for (const std::string& path : {Path("missing"), Path("file.jpg"), std::string(),
                                    std::string("/dev/null"), m_root + std::string("\0", 1)}) {
        EXPECT_FALSE(ListFolder(path).opened) << path;
    }
}

TEST_F(FileSystem, FolderWithoutPermissionIsRefused) {
    Folder("locked");
    Touch("locked/a.jpg");
    Folder("unsearchable");
    Touch("unsearchable/a.jpg");
    // Modes that lock out the owner too, so the case means the same for any user but root.
    ASSERT_EQ(::chmod(Path("locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod(Path("unsearchable").c_str(), 0444), 0);
    // root reads every folder: ask as an ordinary user for a moment, with the way there open.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(::chmod(m_root.c_str(), 0755), 0);
        if (::seteuid(65534) != 0) {
            GTEST_SKIP() << "cannot act as another user";
        }
    }
    const EntryKind folder = ExamineEntry(Path("locked"));
    const FolderListing locked = ListFolder(Path("locked"));
    const FolderListing unsearchable = ListFolder(Path("unsearchable"));
    const EntryKind inside = ExamineEntry(Path("locked/a.jpg"));
    if (asRoot) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_EQ(folder, EntryKind::Folder);
    EXPECT_FALSE(locked.opened);
    EXPECT_FALSE(unsearchable.opened);
    EXPECT_EQ(inside, EntryKind::Refused);
}

TEST_F(FileSystem, LongPathsWorkBeyondTheLimitPieceByPiece) {
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

    // Beyond the system's path length the questions are asked piece by piece.
    std::string longer = deep;
    const int at = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(at, 0);
    ASSERT_EQ(::mkdirat(at, segment.c_str(), 0700), 0);
    ::close(at);
    longer += "/" + segment + "/../" + segment + "/.";
    while (longer.size() <= 5000) {
        longer += "/.";
    }
    ASSERT_EQ(::open(longer.c_str(), O_RDONLY), -1);
    EXPECT_EQ(ExamineEntry(longer), EntryKind::Folder);
    EXPECT_EQ(ExamineEntry(longer + "/../" + name), EntryKind::File);
    EXPECT_TRUE(ListFolder(longer).opened);
    const int fd = OpenPath(longer + "/../" + name, O_RDONLY);
    EXPECT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(ExamineEntry(longer + "/missing"), EntryKind::Missing);
    EXPECT_EQ(ExamineEntry(std::string(100000, 'a')), EntryKind::Refused);
}

} // namespace
} // namespace vorn
