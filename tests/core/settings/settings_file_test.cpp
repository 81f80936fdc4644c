#include "core/settings/settings_file.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/base/exceptions.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

using namespace std::string_literals;

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SettingsFile Parsed(const std::string& text) {
    SettingsFile file;
    file.Parse(text);
    return file;
}

// The values a start with the designed window size and column widths writes at exit.
SettingsFile DefaultSettings() {
    SettingsFile file;
    file.Clear();
    file.WriteInteger("VornForm", "Left", 0);
    file.WriteInteger("VornForm", "Top", 0);
    file.WriteInteger("VornForm", "Width", 588);
    file.WriteInteger("VornForm", "Height", 366);
    file.WriteInteger("FileListView", "FileName", 400);
    file.WriteInteger("FileListView", "Error", 160);
    return file;
}

TEST(SettingsFilePath, ReplacesOnlyAnExtensionOfTheName) {
    struct Case {
        const char* executable;
        const char* settings;
    };
    const Case windows[] = {
        {"C:\\Tools\\vorn.exe", "C:\\Tools\\vorn.ini"},
        {"C:\\My.Tools\\vorn", "C:\\My.Tools\\vorn.ini"},
        {"C:\\Tools\\vorn.tar.exe", "C:\\Tools\\vorn.tar.ini"},
        {"C:\\Tools\\vorn.", "C:\\Tools\\vorn.ini"},
        {"C:vorn", "C:vorn.ini"},
        {"vorn", "vorn.ini"},
    };
    for (const Case& c : windows) {
        EXPECT_EQ(SettingsFilePath(c.executable, PathRules::Windows()), c.settings) << c.executable;
    }
    const Case posix[] = {
        {"/opt/my.tools/vorn", "/opt/my.tools/vorn.ini"},
        {"/usr/bin/vorn.bin", "/usr/bin/vorn.ini"},
        {"/opt/.hidden/vorn", "/opt/.hidden/vorn.ini"},
    };
    for (const Case& c : posix) {
        EXPECT_EQ(SettingsFilePath(c.executable, PathRules::Posix()), c.settings) << c.executable;
    }
}

TEST(ParseInteger, AcceptsDecimalAndHexadecimalForms) {
    struct Case {
        const char* value;
        std::optional<std::int32_t> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"588", 588},
        {"+12", 12},
        {"-1", -1},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$1F", 31},
        {"0x1F", 31},
        {"0X1f", 31},
        {"x1F", 31},
        {"X1f", 31},
        {"$FFFFFFFF", -1},
        {"$7FFFFFFF", 2147483647},
        {"$80000000", INT32_MIN},
        {"$000000001F", 31}, // leading zeros are not significant
        {"+$10", 16},
        {"-$1F", -31}, // a minus negates the pattern
        {"-0x10", -16},
        {"", std::nullopt},
        {"12px", std::nullopt},
        {"1 2", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"$100000000", std::nullopt},
        {"700 ; wide", std::nullopt},
        {"0x$1", std::nullopt},
        {"$-1", std::nullopt},
        {"--1", std::nullopt},
        {"1e3", std::nullopt},
        {" 1", std::nullopt},
        {"0x1G", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseInteger(c.value), c.expected) << '"' << c.value << '"';
    }
}

TEST(SettingsFileParse, FindsValuesByTheReadingRules) {
    struct Case {
        const char* what;
        std::string text;
        const char* section;
        const char* key;
        std::int32_t expected; // the default is -7
    };
    const Case cases[] = {
        {"plain", "[VornForm]\r\nWidth=700\r\n", "VornForm", "Width", 700},
        {"names ignore case", "[vornform]\nwIdTh=700\n", "VornForm", "Width", 700},
        {"blanks around names", "  [ VornForm ]  \r\n \t Width   =   700  \r\n", "VornForm",
         "Width", 700},
        {"comment after value", "[VornForm]\nWidth = 700 ; wide\n", "VornForm", "Width", -7},
        {"comment line", "[VornForm]\n; Width=700\n", "VornForm", "Width", -7},
        {"number sign is no comment", "[VornForm]\n#Width=1\nWidth=2\n", "VornForm", "#Width", 1},
        {"header with comment", "[VornForm]\nLeft=5\n[Other] ; main\nWidth=700\n", "VornForm",
         "Width", 700},
        {"no header before", "Width=700\n[VornForm] ; main\nWidth=800\n", "VornForm", "Width", -7},
        {"entries before first header", "Width=700\n[VornForm]\nLeft=1\n", "VornForm", "Width", -7},
        {"second entry wins", "[VornForm]\nWidth=700\nWidth=800\n", "VornForm", "Width", 800},
        {"last section wins", "[VornForm]\nLeft=5\n[VornForm]\nTop=6\n", "VornForm", "Left", -7},
        {"last section read", "[VornForm]\nLeft=5\n[VornForm]\nTop=6\n", "VornForm", "Top", 6},
        {"plain line never matches", "[VornForm]\nWidth\n", "VornForm", "Width", -7},
        {"key split at first equals", "[VornForm]\nWidth==700\n", "VornForm", "Width", -7},
        {"empty value", "[VornForm]\nLeft=\n", "VornForm", "Left", -7},
        {"lone CR ends a line", "[VornForm]\rWidth=700\rHeight=3", "VornForm", "Height", 3},
        {"CR LF counted once", "[VornForm]\r\n\r\nWidth=700", "VornForm", "Width", 700},
        {"NUL ends the text", "[VornForm]\nWidth=700\0\nWidth=800\n"s, "VornForm", "Width", 700},
        {"byte-order mark hides the first header",
         "\xEF\xBB\xBF[VornForm]\r\nWidth=700\r\n[FileListView]\r\nError=90\r\n", "VornForm",
         "Width", -7},
        {"later section after byte-order mark",
         "\xEF\xBB\xBF[VornForm]\r\nWidth=700\r\n[FileListView]\r\nError=90\r\n", "FileListView",
         "Error", 90},
        {"missing section", "[FileListView]\nWidth=700\n", "VornForm", "Width", -7},
        {"empty brackets", "[]\nWidth=1\n", "", "Width", 1},
        {"lone bracket is a plain line", "[VornForm]\n[\nWidth=2\n", "VornForm", "Width", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parsed(c.text).ReadInteger(c.section, c.key, -7), c.expected) << c.what;
    }
}

TEST(SettingsFileParse, KeepsLinesInOrderWithTrimmedParts) {
    const SettingsFile file = Parsed("junk\n[ A b ]\n k = v = w \nplain  text\n;c\n[A b]\n");
    ASSERT_EQ(file.Sections().size(), 2u);
    EXPECT_EQ(file.Sections()[0].name, "A b");
    ASSERT_EQ(file.Sections()[0].lines.size(), 2u);
    EXPECT_TRUE(file.Sections()[0].lines[0].isEntry);
    EXPECT_EQ(file.Sections()[0].lines[0].key, "k");
    EXPECT_EQ(file.Sections()[0].lines[0].value, "v = w");
    EXPECT_FALSE(file.Sections()[0].lines[1].isEntry);
    EXPECT_EQ(file.Sections()[0].lines[1].value, "plain  text");
    EXPECT_TRUE(file.Sections()[1].lines.empty());
    EXPECT_EQ(file.Text(), "[A b]\r\nk=v = w\r\nplain  text\r\n\r\n[A b]\r\n\r\n");
}

TEST(SettingsFileWrite, DefaultsGiveTheKnownText) {
    const char* dataDir = std::getenv("VORN_TEST_DATA");
    ASSERT_NE(dataDir, nullptr);
    const std::string golden = ReadBytes(std::string(dataDir) + "/settings_default.ini");
    ASSERT_EQ(golden.size(), 95u);
    EXPECT_EQ(DefaultSettings().Text(), golden);
}

TEST(SettingsFileWrite, WriteIntegerFindsSectionsWithoutRegardToCase) {
    SettingsFile file = Parsed("[VornForm]\nLeft=1\n[Other]\n");
    file.WriteInteger("VORNFORM", "Left", -5);
    file.WriteInteger("New", "X", 2147483647);
    EXPECT_EQ(file.Text(), "[VornForm]\r\nLeft=1\r\nLeft=-5\r\n\r\n[Other]\r\n\r\n"
                           "[New]\r\nX=2147483647\r\n\r\n");
    EXPECT_EQ(file.ReadInteger("vornform", "left", 0), -5);
}

TEST(SettingsFileDisk, RoundTripsThroughARealFile) {
    TempTree dir;
    const std::string path = dir.Path("vorn.ini");
    WriteBytes(path, "; old comment\r\n[Extra]\r\nKey=1\r\n");
    DefaultSettings().Write(path);
    EXPECT_EQ(ReadBytes(path), DefaultSettings().Text()); // the old content is gone

    SettingsFile read;
    read.Read(path);
    EXPECT_EQ(read.ReadInteger("VornForm", "Width", 0), 588);
    EXPECT_EQ(read.ReadInteger("VornForm", "Height", 0), 366);
    EXPECT_EQ(read.ReadInteger("FileListView", "Error", 0), 160);
    EXPECT_EQ(read.ReadInteger("Extra", "Key", -1), -1);
    EXPECT_EQ(read.Text(), DefaultSettings().Text());
}

TEST(SettingsFileDisk, WhatCountsAsMissingReadsAsEmpty) {
    TempTree dir;
    const std::string missing = dir.Path("missing.ini");
    const std::string folder = dir.Path("folder.ini");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string old = dir.Path("old.ini");
    WriteBytes(old, "[VornForm]\r\nLeft=5\r\n");
    const timeval times[2] = {{315532800 - 86400 * 10, 0}, {315532800 - 86400 * 10, 0}}; // 1979
    ASSERT_EQ(::utimes(old.c_str(), times), 0);
    const std::string pipe = dir.Path("pipe.ini");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    for (const std::string& path : {missing, folder, old}) {
        EXPECT_FALSE(SettingsFilePresent(path)) << path;
        SettingsFile file = Parsed("[VornForm]\nLeft=1\n");
        EXPECT_NO_THROW(file.Read(path)) << path;
        EXPECT_TRUE(file.Sections().empty()) << path;
    }
    // A named pipe is no folder; reading it must not wait for a writer.
    SettingsFile file;
    EXPECT_NO_THROW(file.Read(pipe));
    EXPECT_TRUE(file.Sections().empty());
}

// Runs `body` in a child process and returns how it ended: its exit status, or 128 + the signal
// that ended it.
template <typename Body>
int InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SettingsFileDisk, UnreadableFileThrowsEFOpenError) {
    TempTree dir;
    ASSERT_EQ(::chmod(dir.Root().c_str(), 0755), 0);
    const std::string path = dir.Path("vorn.ini");
    WriteBytes(path, "[VornForm]\r\nLeft=5\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    // Root is stopped by no permission bit, so it reads as an ordinary user.
    const int outcome = InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return 99;
        }
        try {
            SettingsFile().Read(path);
            return 1;
        } catch (const EFOpenError& error) {
            return std::string(error.what()) == "ファイル " + path + " は開けません" ? 0 : 2;
        }
    });
    if (outcome == 99) {
        GTEST_SKIP() << "cannot act as another user";
    }
    EXPECT_EQ(outcome, 0) << "1: no exception, 2: another text";
}

TEST(SettingsFileDisk, FilesThatCannotBeReplacedThrowEFCreateError) {
    TempTree dir;
    const std::string readOnly = dir.Path("readonly.ini");
    WriteBytes(readOnly, "[VornForm]\r\nLeft=5\r\n");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    const std::string folder = dir.Path("folder.ini");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string noFolder = dir.Path("absent/vorn.ini");
    const std::string pipe = dir.Path("pipe.ini"); // no reader: opening must not wait
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    for (const std::string& path : {readOnly, folder, noFolder, pipe}) {
        try {
            DefaultSettings().Write(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const EFCreateError& error) {
            EXPECT_EQ(std::string(error.what()), "ファイル " + path + " を作成できません");
        }
    }
    // The read-only file is still read.
    SettingsFile file;
    file.Read(readOnly);
    EXPECT_EQ(file.ReadInteger("VornForm", "Left", 0), 5);
    EXPECT_EQ(ReadBytes(readOnly), "[VornForm]\r\nLeft=5\r\n");
}

// How a Write ended, as an exit status of a child.
enum WriteOutcome { kWritten = 0, kCreateError = 1, kWriteError = 2, kOtherError = 3 };

int WriteOutcomeOf(const std::string& path) {
    try {
        DefaultSettings().Write(path);
        return kWritten;
    } catch (const EFCreateError&) {
        return kCreateError;
    } catch (const EWriteError&) {
        return kWriteError;
    } catch (...) {
        return kOtherError;
    }
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(SettingsFileDisk, AWriteCutShortLeavesTheOldSettings) {
    const std::string old = "[VornForm]\r\nLeft=5\r\n";
    const struct {
        const char* what;
        bool ignoreSignal;
        int outcome;
    } cases[] = {
        {"file-size limit reported as an error", true, kWriteError},
        {"killed by the file-size limit", false, 128 + SIGXFSZ},
    };
    for (const auto& c : cases) {
        TempTree dir;
        const std::string path = dir.Path("vorn.ini");
        WriteBytes(path, old);
        const int outcome = InChild([&] {
            ::signal(SIGXFSZ, c.ignoreSignal ? SIG_IGN : SIG_DFL);
            const rlimit limit{40, 40};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return WriteOutcomeOf(path);
        });
        EXPECT_EQ(outcome, c.outcome) << c.what;
        EXPECT_EQ(ReadBytes(path), old) << c.what;
        if (c.ignoreSignal) {
            EXPECT_EQ(Entries(dir.Root()), std::vector<std::string>{"vorn.ini"}) << c.what;
        }
    }
}

TEST(SettingsFileDisk, ALinkedFileIsReplacedAtItsTargetWithItsPermissions) {
    TempTree dir;
    ASSERT_EQ(::mkdir(dir.Path("real").c_str(), 0700), 0);
    const std::string target = dir.Path("real/vorn.ini");
    WriteBytes(target, "[VornForm]\r\nLeft=5\r\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const std::string link = dir.Path("vorn.ini");
    ASSERT_EQ(::symlink("real/vorn.ini", link.c_str()), 0);

    DefaultSettings().Write(link);
    struct stat status {};
    ASSERT_EQ(::lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(ReadBytes(target), DefaultSettings().Text());
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(dir.Path("real")), std::vector<std::string>{"vorn.ini"});
}

// Whoever writes, the file's own permission decides, not the folder's. The modes lock out the
// owner too, so the cases mean the same for the user who owns the file and, as root, for another.
TEST(SettingsFileDisk, WhoMayWriteDecidesAndNotWhoMayReplace) {
    const std::string old = "[VornForm]\r\nLeft=5\r\n";
    const struct {
        const char* what;
        mode_t folderMode;
        mode_t fileMode;
        int outcome;
    } cases[] = {
        {"no new file in the folder, the file writable: in place", 0555, 0666, kWritten},
        {"the folder open to all, the file writable by none", 0777, 0444, kCreateError},
    };
    for (const auto& c : cases) {
        TempTree dir;
        ASSERT_EQ(::chmod(dir.Root().c_str(), 0755), 0);
        const std::string folder = dir.Path("settings");
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        const std::string path = folder + "/vorn.ini";
        WriteBytes(path, old);
        ASSERT_EQ(::chmod(path.c_str(), c.fileMode), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
        const int outcome = AsOrdinaryUser([&] { return WriteOutcomeOf(path); });
        if (outcome == kCannotActAsUser) {
            GTEST_SKIP() << "cannot act as an ordinary user";
        }
        EXPECT_EQ(outcome, c.outcome) << c.what;
        EXPECT_EQ(ReadBytes(path), c.outcome == kWritten ? DefaultSettings().Text() : old)
            << c.what;
        ::chmod(folder.c_str(), 0700);
    }
}

// A file of another owner that this user may write, in a folder open to all, is written in
// place: a replacement would be this user's.
TEST(SettingsFileDisk, AFileOfAnotherOwnerStaysItsOwners) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can make a file of another owner";
    }
    TempTree dir;
    ASSERT_EQ(::chmod(dir.Root().c_str(), 0755), 0);
    const std::string folder = dir.Path("settings");
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    const std::string path = folder + "/vorn.ini";
    WriteBytes(path, "[VornForm]\r\nLeft=5\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const int outcome = AsOrdinaryUser([&] { return WriteOutcomeOf(path); });
    if (outcome == kCannotActAsUser) {
        GTEST_SKIP() << "cannot act as an ordinary user";
    }
    EXPECT_EQ(outcome, kWritten);
    EXPECT_EQ(ReadBytes(path), DefaultSettings().Text());
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
}

TEST(SettingsFileDisk, AFileOfManyShortLinesIsHeldCompactly) {
    TempTree dir;
    const std::string path = dir.Path("vorn.ini");
    std::string text = "[VornForm]\n";
    while (text.size() < (std::size_t{4} << 20)) {
        text += "a=1\n";
    }
    text += "Width=700\n[Other]\n";
    WriteBytes(path, text);

    const auto held = [] {
        const struct mallinfo2 info = ::mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const std::size_t before = held();
    SettingsFile file;
    file.Read(path);
    const std::size_t after = held();
    EXPECT_LE(after - std::min(after, before), 2 * text.size());
    EXPECT_EQ(file.ReadInteger("VornForm", "Width", 0), 700);
    EXPECT_EQ(file.ReadInteger("VornForm", "a", 0), 1);
}

TEST(SettingsFileDisk, FullDeviceThrowsEWriteError) {
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    EXPECT_THROW(DefaultSettings().Write("/dev/full"), EWriteError);
}

} // namespace
} // namespace vorn
