#include "core/check/quarantine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <unistd.h>

#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A quarantine on another file system than the files: a tmpfs mounted for the test.
class Quarantine : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        m_folder = m_tree.Folder("quarantine");
        if (GetParam()) {
            if (::geteuid() != 0 || ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, nullptr) != 0) {
                GTEST_SKIP() << "a tmpfs can be mounted only by root with the right to mount";
            }
            m_mounted = true;
        }
    }
    void TearDown() override {
        if (m_mounted) {
            ::umount2(m_folder.c_str(), MNT_DETACH);
        }
    }

    TempTree m_tree;
    std::string m_folder;
    bool m_mounted = false;
};

TEST_P(Quarantine, MovesBelowTheRelativePathNeverOverAnotherFile) {
    const std::string bytes(3 << 20, '\x42'); // more than one copy buffer
    const std::string source = m_tree.Write("photos/2020/a.jpg", bytes);
    const std::string taken = m_tree.Write("quarantine/2020/a.jpg", "another file");
    const std::optional<FileIdentity> identity = IdentityOf(source);
    ASSERT_TRUE(identity);

    const QuarantineMove dry = MoveToQuarantine(source, *identity, m_folder, "2020/a.jpg", true);
    EXPECT_EQ(dry.target, m_folder + "/2020/a (2).jpg");
    EXPECT_TRUE(fs::exists(source)) << "a dry run moves nothing";
    EXPECT_FALSE(fs::exists(dry.target));

    const QuarantineMove move = MoveToQuarantine(source, *identity, m_folder, "2020/a.jpg", false);
    EXPECT_EQ(move.error, "");
    EXPECT_EQ(move.target, dry.target);
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(Bytes(move.target), bytes);
    EXPECT_EQ(Bytes(taken), "another file");
}

TEST_P(Quarantine, WhatChangedSinceItsCheckOrIsALinkStays) {
    const std::string source = m_tree.Write("photos/b.jpg", "checked bytes");
    const std::optional<FileIdentity> checked = IdentityOf(source);
    ASSERT_TRUE(checked);
    m_tree.Write("photos/b.jpg", "written since the check");
    const QuarantineMove changed = MoveToQuarantine(source, *checked, m_folder, "b.jpg", false);
    EXPECT_EQ(changed.target, "");
    EXPECT_EQ(changed.error, "changed since its check");
    EXPECT_EQ(Bytes(source), "written since the check");

    const std::string link = m_tree.Path("photos/link.jpg");
    fs::create_symlink(source, link);
    const QuarantineMove linked =
        MoveToQuarantine(link, *IdentityOf(link), m_folder, "l.jpg", false);
    EXPECT_EQ(linked.target, "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_empty(m_folder));

    // A file already in the quarantine, however its path is spelled, is not moved again.
    const std::string inside = m_tree.Write("quarantine/sub/c.jpg", "moved earlier");
    const std::string spelled = m_tree.Path("photos/../quarantine/sub/./c.jpg");
    for (const std::string& path : {inside, spelled}) {
        const QuarantineMove again =
            MoveToQuarantine(path, *IdentityOf(path), m_folder, "sub/c.jpg", false);
        EXPECT_EQ(again.target, "") << path;
        EXPECT_EQ(again.error, "already in the quarantine") << path;
    }
    EXPECT_EQ(Bytes(inside), "moved earlier");
}

INSTANTIATE_TEST_SUITE_P(SameAndOtherFileSystem, Quarantine, ::testing::Bool(),
                         [](const auto& row) {
                             return row.param ? "OtherFileSystem" : "SameFileSystem";
                         });

} // namespace
} // namespace vorn
