#include "core/marker_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vorn {
namespace {

namespace fs = std::filesystem;

class MarkerCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vorn-marker-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const std::string path = (m_folder / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    std::string Path(const std::string& name) const { return (m_folder / name).string(); }

    fs::path m_folder;
};

int OpenDescriptorCount() {
    return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(MarkerCheckTest, VerdictFollowsTheBytesAtBothEnds) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
        MarkerVerdict expected;
    };
    const std::vector<Case> cases = {
        {"smallest_sound", {0xFF, 0xD8, 0xFF, 0xD9}, MarkerVerdict::Normal},
        {"sound", {0xFF, 0xD8, 0x00, 0x11, 0x22, 0xFF, 0xD9}, MarkerVerdict::Normal},
        {"start_only", {0xFF, 0xD8}, MarkerVerdict::Eoi},
        {"three_bytes", {0xFF, 0xD8, 0xD9}, MarkerVerdict::Eoi},
        {"empty", {}, MarkerVerdict::Soi},
        {"one_byte", {0xFF}, MarkerVerdict::Soi},
        {"begins_with_end_marker", {0xFF, 0xD9, 0xFF, 0xD9}, MarkerVerdict::Soi},
        {"start_swapped", {0xD8, 0xFF, 0xFF, 0xD9}, MarkerVerdict::Soi},
        {"zeros", {0x00, 0x00, 0xFF, 0xD9}, MarkerVerdict::Soi},
        {"byte_after_end", {0xFF, 0xD8, 0xFF, 0xD9, 0x00}, MarkerVerdict::Eoi},
        {"end_swapped", {0xFF, 0xD8, 0xD9, 0xFF}, MarkerVerdict::Eoi},
        {"end_marker_twice_then_junk",
         {0xFF, 0xD8, 0xFF, 0xD9, 0xFF, 0xD9, 0x01},
         MarkerVerdict::Eoi},
    };
    for (const Case& c : cases) {
        const std::string path = Write(std::string(c.name) + ".jpg", c.bytes);
        EXPECT_EQ(CheckMarkers(path), c.expected) << c.name;
    }
}

TEST_F(MarkerCheckTest, WhatIsNotARegularFileCannotBeOpened) {
    ASSERT_EQ(::mkfifo(Path("pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(Path("folder.jpg"));
    fs::create_symlink(Path("gone.jpg"), Path("dangling.jpg"));
    fs::create_symlink(Path("loop.jpg"), Path("loop.jpg"));

    // A named pipe without a writer would block a plain open or read: it must come back at once.
    for (const std::string& path :
         {Path("missing.jpg"), Path("pipe.jpg"), Path("folder.jpg"), std::string("/dev/null"),
          Path("dangling.jpg"), Path("loop.jpg"), std::string()}) {
        EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError) << path;
    }
}

TEST_F(MarkerCheckTest, LinkToASoundFileIsChecked) {
    const std::string target = Write("target.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    fs::create_symlink(target, Path("link.jpg"));
    EXPECT_EQ(CheckMarkers(Path("link.jpg")), MarkerVerdict::Normal);
}

TEST_F(MarkerCheckTest, PathWithNulByteIsNotCutShort) {
    Write("a.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    std::string path = Path("a.jpg");
    path += std::string("\0x", 2);
    EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError);
}

TEST_F(MarkerCheckTest, FileLockedByAnotherHolderCannotBeOpened) {
    const std::string path = Write("locked.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    // A read lock of another holder conflicts with writing, whichever kind of record lock it is.
    for (const int command : {F_OFD_SETLK, F_SETLK}) {
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(other, 0);
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        ASSERT_EQ(::fcntl(other, command, &lock), 0);
        EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError) << command;
        ::close(other);
        EXPECT_EQ(CheckMarkers(path), MarkerVerdict::Normal) << command;
    }
}

TEST_F(MarkerCheckTest, FileIsReleasedOnEveryOutcome) {
    const std::vector<std::string> paths = {
        Write("normal.jpg", {0xFF, 0xD8, 0xFF, 0xD9}),
        Write("soi.jpg", {0x00}),
        Write("eoi.jpg", {0xFF, 0xD8, 0x00}),
        Path("folder"),
    };
    fs::create_directory(Path("folder"));
    const int before = OpenDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        for (const std::string& path : paths)
            CheckMarkers(path);
    }
    EXPECT_EQ(OpenDescriptorCount(), before);

    // No lock is left behind either: an exclusive lock can be taken right after a check.
    for (const std::string& path : {paths[0], paths[1], paths[2]}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << path;
        ::close(fd);
    }
}

TEST_F(MarkerCheckTest, UnreadableFileCannotBeOpened) {
    const std::string path = Write("secret.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError);
        return;
    }
    // root reads any file: check as an ordinary user for a moment, with the folder passable.
    ASSERT_EQ(::chmod(m_folder.c_str(), 0755), 0);
    if (::seteuid(65534) != 0)
        GTEST_SKIP() << "cannot act as another user";
    const MarkerVerdict verdict = CheckMarkers(path);
    ASSERT_EQ(::seteuid(0), 0);
    EXPECT_EQ(verdict, MarkerVerdict::OpenError);
}

TEST_F(MarkerCheckTest, EndMarkerIsFoundBeyondFourGibibytes) {
    const std::string path = Path("huge.jpg");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const off_t size = off_t(5) << 30;
    if (::ftruncate(fd, size) != 0) {
        ::close(fd);
        GTEST_SKIP() << "the temporary folder holds no 5 GiB sparse file";
    }
    const unsigned char start[2] = {0xFF, 0xD8};
    const unsigned char end[2] = {0xFF, 0xD9};
    ASSERT_EQ(::pwrite(fd, start, 2, 0), 2);
    ASSERT_EQ(::pwrite(fd, end, 2, size - 2), 2);
    EXPECT_EQ(CheckMarkers(path), MarkerVerdict::Normal);

    // One byte more: the end marker is no longer the last two bytes.
    const unsigned char tail = 0;
    ASSERT_EQ(::pwrite(fd, &tail, 1, size), 1);
    EXPECT_EQ(CheckMarkers(path), MarkerVerdict::Eoi);
    ::close(fd);
}

TEST(VerdictErrorTextTest, TextsOfTheRow) {
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::Normal), "");
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::Soi), "SOI");
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::Eoi), "EOI");
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::OpenError), "File open error");
}

} // namespace
} // namespace vorn
