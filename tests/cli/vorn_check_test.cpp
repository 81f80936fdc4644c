// vorn-check run as a process over real files in a temporary folder.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/check/check_state.h"
#include "tests/support/temp_tree.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

// How the program is started besides its arguments.
struct Start {
    const char* output = nullptr; // standard output goes there instead of into Outcome::out
    const char* input = nullptr;  // standard input comes from there
    bool ordinaryUser = false;    // run without root's rights; status 77 when that cannot be
};

Outcome RunCheck(const std::vector<std::string>& args, Start start = {}) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (start.ordinaryUser && ::geteuid() == 0 &&
            (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(77);
        }
        if (start.input) {
            ::dup2(::open(start.input, O_RDONLY), 0);
        }
        ::dup2(start.output ? ::open(start.output, O_WRONLY) : pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv{const_cast<char*>(VORN_CHECK_EXE)};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(VORN_CHECK_EXE, argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Outcome outcome;
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        outcome.out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kSound("\xFF\xD8 body \xFF\xD9");
const std::string kBadStart("\x00\x00 body \xFF\xD9", 10);
const std::string kBadEnd("\xFF\xD8 body ");

class VornCheck : public ::testing::Test {
protected:
    std::string P(const std::string& relative) const { return m_tree.Path(relative); }

    TempTree m_tree;
    const fs::path m_root = m_tree.Root();
};

} // namespace

TEST_F(VornCheck, ListsTheWalkInPathOrderWithVerdicts) {
    Write(P("d/b.jpg"), kSound);
    Write(P("d/A/z.jpg"), kSound);
    Write(P("d/c.JPG"), kBadStart);
    Write(P("d/img10.jpg"), kBadEnd);
    Write(P("d/img2.jpeg"), kSound);
    Write(P("d/notes.txt"), kSound);
    const Outcome result = RunCheck({P("d")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "OK\t" + P("d/A/z.jpg") + "\nOK\t" + P("d/b.jpg") + "\nSOI\t" +
                              P("d/c.JPG") + "\nEOI\t" + P("d/img10.jpg") + "\nOK\t" +
                              P("d/img2.jpeg") + "\n");
}

TEST_F(VornCheck, ExitStatusAndFilters) {
    Write(P("ok.jpg"), kSound);
    Write(P("bad.jpg"), kBadEnd);
    EXPECT_EQ(RunCheck({P("ok.jpg")}).status, 0);
    EXPECT_EQ(RunCheck({P("missing.jpg")}).status, 1) << "a mistyped path is no success";
    EXPECT_EQ(RunCheck({P("missing.jpg")}).out, "");
    // Paths met in a walk keep their rule: a folder without photos is no error.
    fs::create_directory(P("empty"));
    EXPECT_EQ(RunCheck({P("empty")}).status, 0);
    EXPECT_EQ(RunCheck({"--no-such-option", P("ok.jpg")}).status, 2);
    EXPECT_EQ(RunCheck({}).status, 2);

    const Outcome errors = RunCheck({"--errors", "--summary", P("ok.jpg"), P("bad.jpg")});
    EXPECT_EQ(errors.status, 1);
    EXPECT_EQ(errors.out, "EOI\t" + P("bad.jpg") + "\n2 Files\tC: 1\tE: 1\n");

    const Outcome json = RunCheck({"--json", "--summary", P("ok.jpg")});
    EXPECT_EQ(json.out, "{\"type\":\"file\",\"verdict\":\"OK\",\"path\":\"" + P("ok.jpg") +
                            "\"}\n{\"type\":\"summary\",\"files\":1,\"sound\":1,\"failed\":0}\n");
}

TEST_F(VornCheck, APathIsListedOnceHoweverItIsNamed) {
    Write(P("d/x.jpg"), kSound);
    Write(P("d/sub/y.jpg"), kSound);
    const Outcome result = RunCheck({P("d/x.jpg"), P("d"), P("d/sub"), P("d"), P("d/sub/y.jpg")});
    EXPECT_EQ(result.out, "OK\t" + P("d/sub/y.jpg") + "\nOK\t" + P("d/x.jpg") + "\n");
}

TEST_F(VornCheck, SameOrderWhateverTheParallelism) {
    for (int folder = 0; folder < 20; ++folder) {
        for (int file = 0; file < 150; ++file) {
            Write(P("many/f" + std::to_string(folder) + "/img" + std::to_string(file) + ".jpg"),
                  file % 7 == 0 ? kBadEnd : kSound);
        }
    }
    const Outcome one = RunCheck({"--jobs", "1", P("many")});
    const Outcome four = RunCheck({"--jobs", "4", P("many")});
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.out, four.out);
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 3000);
}

TEST_F(VornCheck, BadInputNeitherHangsNorStops) {
    Write(P("d/a.jpg"), kSound);
    ASSERT_EQ(::mkfifo(P("d/pipe.jpg").c_str(), 0600), 0);
    fs::create_directory_symlink(P("d"), P("d/loop"));
    const std::string oddName = P("d/bad\xff\xfe.jpg");
    Write(oddName, kSound);
    const Outcome tsv = RunCheck({P("d")});
    EXPECT_EQ(tsv.out, "OK\t" + P("d/a.jpg") + "\nOK\t" + oddName + "\nFile open error\t" +
                           P("d/pipe.jpg") + "\n");
    const Outcome json = RunCheck({"--json", oddName});
    EXPECT_NE(json.out.find("bad\\udcff\\udcfe.jpg"), std::string::npos) << json.out;
}

TEST_F(VornCheck, ExplainSaysWhyTheEndIsWrong) {
    const std::string image(
        "\xFF\xD8\xFF\xE0\x00\x04\x00\x00\xFF\xDA\x00\x04\x00\x00\x12\x34\xFF\xD9", 18);
    Write(P("motion.jpg"), image + std::string(500, 'M'));
    Write(P("cut.jpg"), image.substr(0, 15));
    const Outcome result = RunCheck({"--explain", P("motion.jpg"), P("cut.jpg")});
    EXPECT_EQ(result.out, "EOI\t" + P("cut.jpg") + "\tcut short in the image data at byte 15\n" +
                              "EOI\t" + P("motion.jpg") +
                              "\timage data ends with an end marker followed by 500 more bytes "
                              "(appended data)\n");
    // A walk that needs more data than allowed says so.
    EXPECT_EQ(RunCheck({"--explain", "--explain-limit=8", P("motion.jpg")}).out,
              "EOI\t" + P("motion.jpg") +
                  "\texplanation cut short at byte 8, where its data limit was reached\n");
}

// A name cannot forge a line or a column of the report.
TEST_F(VornCheck, EachReportLineHoldsOneFile) {
    Write(P("c\nOK\tforged.jpg"), kBadEnd);
    const Outcome result = RunCheck({P("")});
    EXPECT_EQ(result.out, "EOI\t" + P("") + "c\\nOK\\tforged.jpg\n");
    EXPECT_EQ(result.status, 1);
}

// A later path that names a file of an earlier folder by another text (a "." or ".." segment, a
// doubled delimiter) is another row for the window, so it is checked again under that text.
TEST_F(VornCheck, AnotherTextOfAWalkedFileIsListedAgain) {
    Write(P("d/x.jpg"), kSound);
    Write(P("d/sub/y.jpg"), kSound);
    const std::vector<std::string> otherTexts{P("d/./x.jpg"), P("d//x.jpg"), P("d/sub/../x.jpg"),
                                              P("d/sub//y.jpg")};
    std::vector<std::string> args{P("d")};
    args.insert(args.end(), otherTexts.begin(), otherTexts.end());
    const Outcome result = RunCheck(args);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 6) << result.out;
    for (const std::string& text : otherTexts) {
        EXPECT_NE(result.out.find("OK\t" + text + "\n"), std::string::npos) << text;
    }
    EXPECT_NE(result.out.find("OK\t" + P("d/x.jpg") + "\n"), std::string::npos);
    EXPECT_NE(result.out.find("OK\t" + P("d/sub/y.jpg") + "\n"), std::string::npos);
}

TEST_F(VornCheck, AReportThatCannotBeWrittenIsNoSuccess) {
    Write(P("ok.jpg"), kSound);
    EXPECT_EQ(RunCheck({P("ok.jpg")}, {.output = "/dev/full"}).status, 2);
}

TEST_F(VornCheck, FilesFromTakesPathsAsTheCommandLineDoes) {
    Write(P("d/b.jpg"), kSound);
    Write(P("d/a b.jpg"), kBadEnd);
    Write(P("d/sub/c.jpg"), kSound);
    const std::string expected =
        "EOI\t" + P("d/a b.jpg") + "\nOK\t" + P("d/b.jpg") + "\nOK\t" + P("d/sub/c.jpg") + "\n";
    struct Case {
        std::string list;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {P("d/sub") + "\n" + P("d/b.jpg") + "\n" + P("d/a b.jpg"), {"--files-from"}},
        {P("d/sub") + "\n\n" + P("d/b.jpg") + "\n", {"--files-from"}},
        {P("d/sub") + '\0' + P("d/b.jpg") + '\0', {"-0", "--files-from"}},
        {P("d/b.jpg") + '\0' + P("d/sub"), {"--null", "--files-from"}},
    };
    for (const Case& c : cases) {
        Write(P("list"), c.list);
        std::vector<std::string> args = c.args;
        args.push_back(P("list"));
        args.push_back(P("d/a b.jpg"));
        EXPECT_EQ(RunCheck(args).out, expected) << c.list;
        args[args.size() - 2] = "-";
        EXPECT_EQ(RunCheck(args, {.input = P("list").c_str()}).out, expected) << c.list;
    }
    EXPECT_EQ(RunCheck({"--files-from", P("no-list")}).status, 2);
}

// A path named on the command line that names nothing is said on standard error; the check of
// the other paths goes on.
TEST_F(VornCheck, AMistypedPathIsReported) {
    Write(P("d/x.jpg"), kSound);
    for (const std::string& missing : {P("2O24"), P("d/y.jpg")}) {
        int errorFds[2];
        ASSERT_EQ(::pipe(errorFds), 0);
        const int saved = ::dup(2);
        ::dup2(errorFds[1], 2);
        const Outcome result = RunCheck({P("d"), missing});
        ::dup2(saved, 2);
        ::close(saved);
        ::close(errorFds[1]);
        char buffer[4096];
        const ssize_t n = ::read(errorFds[0], buffer, sizeof buffer);
        ::close(errorFds[0]);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "OK\t" + P("d/x.jpg") + "\n");
        EXPECT_EQ(std::string(buffer, n > 0 ? std::size_t(n) : 0),
                  "vorn-check: " + missing + ": no such file or folder\n");
    }
}

// What cannot be read is a failure, never a silent success; a later path below a folder that
// was not entered is still checked.
TEST_F(VornCheck, WhatCannotBeReadIsAFileOpenError) {
    Write(P("locked/x.jpg"), kBadEnd);
    Write(P("unsearchable/y.jpg"), kBadEnd);
    Write(P("enter-only/z.jpg"), kBadEnd);
    Write(P("loop/w.jpg"), kSound);
    fs::create_directory_symlink(P("loop"), P("loop/again"));
    // Modes that lock out the owner too: the run is the same as any user but root.
    ::chmod(m_root.c_str(), 0755);
    ::chmod(P("locked").c_str(), 0000);
    ::chmod(P("unsearchable").c_str(), 0444);
    ::chmod(P("enter-only").c_str(), 0111);
    const Outcome result =
        RunCheck({"--summary", P("locked"), P("unsearchable"), P("locked/x.jpg"), P("enter-only"),
                  P("enter-only/z.jpg"), P("loop"), P("loop/again/w.jpg")},
                 {.ordinaryUser = true});
    if (result.status == 77) {
        GTEST_SKIP() << "cannot act as an ordinary user";
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "File open error\t" + P("enter-only") + "\nEOI\t" + P("enter-only/z.jpg") +
                  "\nFile open error\t" + P("locked") + "\nFile open error\t" + P("locked/x.jpg") +
                  "\nOK\t" + P("loop/w.jpg") + "\nOK\t" + P("loop/again/w.jpg") +
                  "\nFile open error\t" + P("unsearchable") + "\n7 Files\tC: 2\tE: 5\n");
}

TEST_F(VornCheck, TheWindowsSwitchNamesAPath) {
    Write(P("a/x.jpg"), kSound);
    ASSERT_EQ(::chdir(m_root.c_str()), 0);
    EXPECT_EQ(RunCheck({"a"}).out, "OK\ta/x.jpg\n");
    EXPECT_EQ(RunCheck({"/a"}).status, 1) << "no folder /a here";
}

// With --deep the picture's verdict decides what counts as failed: a trailer after a sound
// picture passes although its marker verdict stays EOI; a picture damaged inside fails although
// both markers are in place.
TEST_F(VornCheck, DeepVerdictDecidesWhatFails) {
    std::ifstream in(fs::path(std::getenv("VORN_TEST_DATA")) / "jpeg" / "grey.jpg",
                     std::ios::binary);
    const std::string intact{std::istreambuf_iterator<char>(in), {}};
    std::string inside = intact;
    inside.replace(inside.size() / 2, 4096, std::string(4096, '\0'));
    Write(P("a-intact.jpg"), intact);
    Write(P("b-video.jpg"), intact +
                                std::string("\0\0\0\x18"
                                            "ftypisom",
                                            12) +
                                "movie");
    Write(P("c-inside.jpg"), inside);

    const Outcome tsv = RunCheck({"--deep", "--summary", P("")});
    EXPECT_EQ(tsv.status, 1);
    EXPECT_EQ(tsv.out, "OK\t" + P("a-intact.jpg") + "\tsound\t\n" + "EOI\t" + P("b-video.jpg") +
                           "\tsound\tfollowed by a motion-photo video (17 bytes)\n" + "OK\t" +
                           P("c-inside.jpg") +
                           "\tdamaged\timage data: premature end of data segment\n" +
                           "3 Files\tC: 2\tE: 1\n");

    const Outcome errors = RunCheck({"--deep", "--errors", "--json", P("")});
    EXPECT_EQ(errors.out.find("a-intact"), std::string::npos) << errors.out;
    EXPECT_EQ(errors.out.find("b-video"), std::string::npos) << errors.out;
    EXPECT_NE(errors.out.find(R"("verdict":"OK","path":")" + P("c-inside.jpg") +
                              R"(","deep_verdict":"damaged",)"),
              std::string::npos)
        << errors.out;

    EXPECT_EQ(RunCheck({"--deep", P("a-intact.jpg"), P("b-video.jpg")}).status, 0);
    EXPECT_EQ(RunCheck({P("b-video.jpg")}).status, 1);
}

// Loading the Unicode library costs more than the rest of a run over one file: a run loads it
// only when it has names to sort.
TEST_F(VornCheck, LoadsTheUnicodeLibraryOnlyToSort) {
    Write(m_root / "d" / "a.jpg", kSound);
    Write(m_root / "d" / "b.jpg", kSound);
    const struct {
        std::vector<std::string> args;
        bool loads;
    } rows[] = {{{P("d/a.jpg")}, false}, {{P("d")}, true}};
    const fs::path logs = m_root / "logs";
    fs::create_directories(logs);
    ::setenv("LD_DEBUG", "files", 1);
    ::setenv("LD_DEBUG_OUTPUT", (logs / "ld").c_str(), 1);
    for (const auto& row : rows) {
        EXPECT_EQ(RunCheck(row.args).status, 0);
        std::string log;
        for (const auto& entry : fs::directory_iterator(logs)) {
            std::ifstream file(entry.path());
            log.append(std::istreambuf_iterator<char>(file), {});
            fs::remove(entry.path());
        }
        EXPECT_FALSE(log.empty()) << "the loader wrote no log";
        EXPECT_EQ(log.find("libicui18n") != std::string::npos, row.loads) << row.args.front();
    }
    ::unsetenv("LD_DEBUG");
    ::unsetenv("LD_DEBUG_OUTPUT");
}

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

std::string IntactPicture() {
    std::ifstream in(fs::path(std::getenv("VORN_TEST_DATA")) / "jpeg" / "grey.jpg",
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

// A second run reads no file it remembers; a new or rewritten file is checked; a file gone
// leaves the state; a state that is not one ends the run with status 2.
TEST_F(VornCheck, StateRemembersUnchangedFiles) {
    Write(P("p/a.jpg"), IntactPicture());
    Write(P("p/b.jpg"), kBadEnd);
    Write(P("p/sub/c.jpg"), IntactPicture());
    const std::string state = P("state.db");
    const Outcome first = RunCheck({"--deep", "--json", "--state", state, P("p")});
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(Count(first.out, R"("remembered":false)"), 3u) << first.out;

    Write(P("p/d.jpg"), IntactPicture());
    const Outcome second = RunCheck({"--deep", "--json", "--state", state, P("p")});
    EXPECT_EQ(second.status, 1) << "a remembered failure still fails";
    EXPECT_EQ(Count(second.out, R"("remembered":true)"), 3u) << second.out;
    EXPECT_NE(second.out.find(R"(d.jpg","deep_verdict":"sound","deep_reason":"","deep_offset":)"
                              R"(null,"trailer":"none","remembered":false)"),
              std::string::npos)
        << second.out;
    // A run that asks for more than the state holds reads the file again.
    const Outcome markers = RunCheck({"--json", "--state", P("markers.db"), P("p/a.jpg")});
    EXPECT_EQ(Count(markers.out, R"("remembered":false)"), 1u);
    const Outcome deeper = RunCheck({"--deep", "--json", "--state", P("markers.db"), P("p/a.jpg")});
    EXPECT_EQ(Count(deeper.out, R"("remembered":false)"), 1u) << deeper.out;

    fs::remove_all(P("p/sub"));
    Write(P("p/b.jpg"), IntactPicture()); // rewritten: a new size and time
    const Outcome third = RunCheck({"--deep", "--json", "--state", state, P("p")});
    EXPECT_EQ(third.status, 0) << third.out;
    EXPECT_EQ(Count(third.out, R"("remembered":true)"), 2u) << third.out;
    // The file that went is no longer in the state: made again, it is checked afresh.
    Write(P("p/sub/c.jpg"), IntactPicture());
    const Outcome fourth = RunCheck({"--deep", "--json", "--state", state, P("p/sub")});
    EXPECT_EQ(Count(fourth.out, R"("remembered":false)"), 1u) << fourth.out;

    Write(P("foreign.db"), "not a database");
    EXPECT_EQ(RunCheck({"--state", P("foreign.db"), P("p")}).status, 2);
}

// Bytes that change under an unchanged size and modification time are found by a recheck.
TEST_F(VornCheck, RecheckFindsBytesChangedOnDisk) {
    const std::string intact = IntactPicture();
    Write(P("p/a.jpg"), intact);
    Write(P("p/b.jpg"), intact);
    const std::string state = P("state.db");
    ASSERT_EQ(RunCheck({"--deep", "--state", state, P("p")}).status, 0);

    struct stat before {};
    ASSERT_EQ(::stat(P("p/b.jpg").c_str(), &before), 0);
    {
        std::fstream file(P("p/b.jpg"), std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(intact.size() - 200));
        file.put(static_cast<char>(intact[intact.size() - 200] ^ 0x10));
    }
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, P("p/b.jpg").c_str(), times, 0), 0);

    EXPECT_EQ(RunCheck({"--deep", "--state", state, P("p")}).status, 0)
        << "without a recheck the remembered verdict stands";
    const Outcome recheck =
        RunCheck({"--deep", "--errors", "--state", state, "--recheck-after", "0d", P("p")});
    EXPECT_EQ(recheck.status, 1);
    EXPECT_EQ(Count(recheck.out, "\n"), 1u) << recheck.out;
    EXPECT_EQ(recheck.out.rfind("OK\t" + P("p/b.jpg") + "\tchanged on disk\tchecked at ", 0), 0u)
        << recheck.out;
    EXPECT_NE(recheck.out.find(", other bytes at "), std::string::npos);
    // It stays a failure until the file is written again.
    const Outcome later = RunCheck({"--deep", "--json", "--errors", "--state", state, P("p")});
    EXPECT_EQ(later.status, 1);
    EXPECT_NE(later.out.find(R"("deep_verdict":"changed on disk")"), std::string::npos);
    EXPECT_NE(later.out.find(R"("changed_since":)"), std::string::npos);
}

// A run killed mid-way keeps the batches it committed; the next run checks the rest.
TEST_F(VornCheck, AKilledRunKeepsWhatItCommitted) {
    constexpr int kFiles = 4000;
    for (int i = 0; i < kFiles; ++i) {
        Write(P("many/f" + std::to_string(i / 500) + "/img" + std::to_string(i) + ".jpg"), kSound);
    }
    const std::string state = P("state.db");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execl(VORN_CHECK_EXE, VORN_CHECK_EXE, "--state", state.c_str(), P("many").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    // Read part of the report, then no more: the run soon waits on the full pipe, well before
    // its end, and what it had handed over is committed once the time bound of a batch has
    // passed, however few records it holds.
    std::string out;
    char buffer[4096];
    while (Count(out, "\n") < 1500) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::usleep(static_cast<useconds_t>(vorn::CheckState::kCommitSeconds * 1e6) + 300'000);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(pipeFds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";

    const Outcome next = RunCheck({"--json", "--state", state, P("many")});
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(Count(next.out, "\n"), std::size_t{kFiles});
    const std::size_t remembered = Count(next.out, R"("remembered":true)");
    EXPECT_GE(remembered, 1000u);
    EXPECT_LT(remembered, std::size_t{kFiles});
    const Outcome last = RunCheck({"--json", "--state", state, P("many")});
    EXPECT_EQ(Count(last.out, R"("remembered":true)"), std::size_t{kFiles});
}

// The report says where a failed file goes before it goes; a dry run moves nothing.
TEST_F(VornCheck, QuarantineMovesFailedFilesAndSaysWhere) {
    Write(P("p/sub/bad.jpg"), kBadEnd);
    Write(P("p/ok.jpg"), kSound);
    const Outcome dry = RunCheck({"--quarantine", P("q"), "--dry-run", P("p")});
    EXPECT_EQ(dry.out, "OK\t" + P("p/ok.jpg") + "\nEOI\t" + P("p/sub/bad.jpg") + "\t" +
                           P("q/sub/bad.jpg") + "\n");
    EXPECT_TRUE(fs::exists(P("p/sub/bad.jpg")));
    const Outcome moved = RunCheck({"--json", "--errors", "--quarantine", P("q"), P("p")});
    EXPECT_EQ(moved.status, 1);
    EXPECT_NE(moved.out.find(R"("moved_to":")" + P("q/sub/bad.jpg") + "\""), std::string::npos)
        << moved.out;
    EXPECT_FALSE(fs::exists(P("p/sub/bad.jpg")));
    EXPECT_TRUE(fs::exists(P("q/sub/bad.jpg")));
    EXPECT_TRUE(fs::exists(P("p/ok.jpg")));
}

// A run over a folder drops what is gone below it from the state: a file, a folder, and the
// files of a folder emptied since; what is left, and what lies outside the folder, stays.
TEST_F(VornCheck, StateForgetsWhatIsGoneFromTheWalkedFolder) {
    const struct {
        const char* path;
        bool removed;
        bool kept;
    } rows[] = {
        {"p/a.jpg", false, true},         {"p/b.jpg", true, false},
        {"p/emptied/c.jpg", true, false}, {"p/emptied/d.jpg", true, false},
        {"p/gone/e.jpg", true, false},    {"p/sub/f.jpg", false, true},
        {"other/g.jpg", false, true},
    };
    for (const auto& row : rows) {
        Write(P(row.path), kSound);
    }
    const std::string state = P("state.db");
    ASSERT_EQ(RunCheck({"--state", state, P("p"), P("other")}).status, 0);
    for (const auto& row : rows) {
        if (row.removed) {
            fs::remove(P(row.path));
        }
    }
    fs::remove(P("p/gone"));
    ASSERT_TRUE(fs::is_directory(P("p/emptied")));
    ASSERT_EQ(RunCheck({"--state", state, P("p")}).status, 0);
    const vorn::CheckState kept(state);
    for (const auto& row : rows) {
        EXPECT_EQ(kept.Find(P(row.path)).has_value(), row.kept) << row.path;
    }
}

// A marker check asked to recheck leaves a remembered picture check standing when the markers
// agree; the next picture check then needs to read nothing.
TEST_F(VornCheck, AShallowerRecheckKeepsThePictureCheck) {
    Write(P("p/a.jpg"), IntactPicture());
    const std::string state = P("state.db");
    ASSERT_EQ(RunCheck({"--deep", "--state", state, P("p")}).status, 0);
    const Outcome markers = RunCheck({"--json", "--state", state, "--recheck-after", "0d", P("p")});
    EXPECT_EQ(Count(markers.out, R"("remembered":false)"), 1u) << markers.out;
    const Outcome deep = RunCheck({"--deep", "--json", "--state", state, P("p")});
    EXPECT_EQ(Count(deep.out, R"("remembered":true)"), 1u) << deep.out;
    EXPECT_NE(deep.out.find(R"("deep_verdict":"sound")"), std::string::npos) << deep.out;
}

// The quarantine is left out of the walk however it is named, also inside the walked folder:
// its files are neither reported again nor moved once more.
TEST_F(VornCheck, TheQuarantineIsNotWalked) {
    const struct {
        const char* what;
        std::string quarantine;
    } rows[] = {
        {"named as it is", "p/q"},
        {"named by another text", "p/sub/../q"},
        {"named through a link", "link"},
    };
    for (const auto& row : rows) {
        fs::remove_all(m_root / "p");
        fs::remove_all(m_root / "link");
        Write(P("p/sub/bad.jpg"), kBadEnd);
        Write(P("p/ok.jpg"), kSound);
        fs::create_directories(P("p/q"));
        fs::create_directory_symlink(P("p/q"), P("link"));
        const std::string quarantine = P(row.quarantine);
        const Outcome first = RunCheck({"--quarantine", quarantine, P("p")});
        EXPECT_EQ(first.status, 1) << row.what;
        EXPECT_TRUE(fs::exists(P("p/q/sub/bad.jpg"))) << row.what;
        const Outcome second = RunCheck({"--quarantine", quarantine, P("p")});
        EXPECT_EQ(second.status, 0) << row.what << ": " << second.out;
        EXPECT_EQ(second.out, "OK\t" + P("p/ok.jpg") + "\n") << row.what;
        EXPECT_TRUE(fs::exists(P("p/q/sub/bad.jpg"))) << row.what;
    }
    // A quarantine made by the run inside the walked folder is left out from the start.
    fs::remove_all(m_root / "p");
    Write(P("p/sub/bad.jpg"), kBadEnd);
    const Outcome made = RunCheck({"--quarantine", P("p/z"), P("p")});
    EXPECT_EQ(made.out, "EOI\t" + P("p/sub/bad.jpg") + "\t" + P("p/z/sub/bad.jpg") + "\n");
    // A quarantine that is a file ends the run before anything is checked or moved.
    Write(P("file"), "not a folder");
    Write(P("r/bad.jpg"), kBadEnd);
    const Outcome file = RunCheck({"--quarantine", P("file"), P("r")});
    EXPECT_EQ(file.status, 2);
    EXPECT_EQ(file.out, "");
    EXPECT_TRUE(fs::exists(P("r/bad.jpg")));
}
