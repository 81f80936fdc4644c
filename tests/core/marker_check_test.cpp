#include "core/check/marker_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

class MarkerCheck : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) {
        return m_tree.Write(
            name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    std::string Path(const std::string& name) const { return m_tree.Path(name); }

    TempTree m_tree;
};

int OpenDescriptorCount() {
    return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(MarkerCheck, VerdictFollowsTheBytesAtBothEnds) {
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

TEST_F(MarkerCheck, WhatIsNotARegularFileCannotBeOpened) {
    ASSERT_EQ(::mkfifo(Path("pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(Path("folder.jpg"));
    fs::create_symlink(Path("gone.jpg"), Path("dangling.jpg"));
    fs::create_symlink(Path("loop.jpg"), Path("loop.jpg"));
    // A regular file of the kernel's, of which a read could change its state.
    fs::create_symlink("/proc/version", Path("proc.jpg"));

    // A named pipe without a writer would block a plain open or read: it must come back at once.
    // A caller that wrongly says it saw a regular file changes nothing: the open file is asked.
    for (const bool known : {false, true}) {
        MarkerCheckOptions options;
        options.knownRegularFile = known;
        for (const std::string& path :
             {Path("missing.jpg"), Path("pipe.jpg"), Path("folder.jpg"), std::string("/dev/null"),
              Path("dangling.jpg"), Path("loop.jpg"), Path("proc.jpg"), std::string()}) {
            EXPECT_EQ(CheckMarkers(path, options), MarkerVerdict::OpenError) << path << known;
        }
    }
}

// The number of the system call process `pid` is in, as /proc shows it.
std::string ProcessSyscall(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string number;
    in >> number;
    return number;
}

TEST_F(MarkerCheck, WriterWaitingOnANamedPipeIsNotLetThrough) {
    const std::string path = Path("waiting.jpg");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        // Blocks until a reader opens the pipe; then the byte is left for that reader.
        const int fd = ::open(path.c_str(), O_WRONLY);
        ::_exit(fd >= 0 && ::write(fd, "x", 1) == 1 ? 0 : 1);
    }
    // Wait until the writer sits in its open, so the check meets a writer waiting.
    while (ProcessSyscall(writer) != std::to_string(SYS_openat)) {
        ::usleep(1000);
    }

    EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError);
    // Opening the pipe would have woken the writer at once; it still waits.
    EXPECT_EQ(ProcessSyscall(writer), std::to_string(SYS_openat));

    // The first reader gets the writer's byte.
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(writer, &status, 0), writer);
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(reader);
}

TEST_F(MarkerCheck, APathLongerThanTheSystemTakesIsChecked) {
    // 25 folders of 200 bytes: beyond PATH_MAX, reachable only folder by folder.
    const std::string name(200, 'd');
    std::string path = Path("");
    int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < 25; ++level) {
        ASSERT_EQ(::mkdirat(folder, name.c_str(), 0700), 0);
        const int inner = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = inner;
        path += "/" + name;
    }
    const int file = ::openat(folder, "deep.jpg", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::write(file, "\xFF\xD8\xFF\xD9", 4), 4);
    ::close(file);
    ::close(folder);
    for (const bool known : {false, true}) {
        MarkerCheckOptions options;
        options.knownRegularFile = known;
        // A further check is handed the very file judged, so it needs no open of its own.
        off_t seenSize = -1;
        options.onOpenFile = [&](int fd, const struct stat&) {
            struct stat info {};
            seenSize = ::fstat(fd, &info) == 0 ? info.st_size : -1;
        };
        EXPECT_EQ(CheckMarkers(path + "/deep.jpg", options), MarkerVerdict::Normal) << known;
        EXPECT_EQ(seenSize, 4) << known;
    }
}

TEST_F(MarkerCheck, LinkToASoundFileIsChecked) {
    const std::string target = Write("target.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    fs::create_symlink(target, Path("link.jpg"));
    EXPECT_EQ(CheckMarkers(Path("link.jpg")), MarkerVerdict::Normal);
}

TEST_F(MarkerCheck, PathWithNulByteIsNotCutShort) {
    Write("a.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    std::string path = Path("a.jpg");
    path += std::string("\0x", 2);
    EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError);
}

TEST_F(MarkerCheck, OnlyAWriteLockOfAnotherProgramMakesAFileInUse) {
    const std::string path = Write("locked.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    struct Case {
        int command;
        short type;
        MarkerVerdict expected;
    };
    const Case cases[] = {
        {F_SETLK, F_RDLCK, MarkerVerdict::Normal},
        {F_OFD_SETLK, F_RDLCK, MarkerVerdict::Normal},
        {F_SETLK, F_WRLCK, MarkerVerdict::OpenError},
        {F_OFD_SETLK, F_WRLCK, MarkerVerdict::OpenError},
    };
    for (const Case& c : cases) {
        int ready[2];
        int release[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(release), 0);
        const pid_t holder = ::fork();
        ASSERT_GE(holder, 0);
        if (holder == 0) {
            // Takes the lock, says so, and holds it until the test closes its end of `release`.
            ::close(release[1]);
            const int fd = ::open(path.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = c.type;
            lock.l_whence = SEEK_SET;
            const char taken = fd >= 0 && ::fcntl(fd, c.command, &lock) == 0 ? 1 : 0;
            char ignored = 0;
            ::_exit(::write(ready[1], &taken, 1) == 1 && ::read(release[0], &ignored, 1) == 0 ? 0
                                                                                              : 1);
        }
        ::close(ready[1]);
        ::close(release[0]);
        char taken = 0;
        ASSERT_EQ(::read(ready[0], &taken, 1), 1);
        ASSERT_EQ(taken, 1);
        EXPECT_EQ(CheckMarkers(path), c.expected) << c.command << " " << c.type;
        ::close(release[1]);
        ::close(ready[0]);
        ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
        EXPECT_EQ(CheckMarkers(path), MarkerVerdict::Normal);
    }
}

TEST_F(MarkerCheck, FileIsReleasedOnEveryOutcome) {
    const std::vector<std::string> paths = {
        Write("normal.jpg", {0xFF, 0xD8, 0xFF, 0xD9}),
        Write("soi.jpg", {0x00}),
        Write("eoi.jpg", {0xFF, 0xD8, 0x00}),
        Path("folder"),
    };
    fs::create_directory(Path("folder"));
    const int before = OpenDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        for (const std::string& path : paths) {
            CheckMarkers(path);
        }
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

TEST_F(MarkerCheck, UnreadableFileCannotBeOpened) {
    const std::string path = Write("secret.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(CheckMarkers(path), MarkerVerdict::OpenError);
        return;
    }
    // root reads any file: check as an ordinary user for a moment, with the folder passable.
    ASSERT_EQ(::chmod(m_tree.Root().c_str(), 0755), 0);
    if (::seteuid(65534) != 0) {
        GTEST_SKIP() << "cannot act as another user";
    }
    const MarkerVerdict verdict = CheckMarkers(path);
    ASSERT_EQ(::seteuid(0), 0);
    EXPECT_EQ(verdict, MarkerVerdict::OpenError);
}

TEST_F(MarkerCheck, EndMarkerIsFoundBeyondFourGibibytes) {
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

TEST(VerdictErrorText, TextsOfTheRow) {
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::Normal), "");
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::Soi), "SOI");
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::Eoi), "EOI");
    EXPECT_EQ(VerdictErrorText(MarkerVerdict::OpenError), "File open error");
}

} // namespace
} // namespace vorn
