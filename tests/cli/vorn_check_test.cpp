// vorn-check run as a process over real files in a temporary folder.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome RunCheck(const std::vector<std::string>& args, const char* output = nullptr) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(output ? ::open(output, O_WRONLY) : pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv{const_cast<char*>(VORN_CHECK_EXE)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(VORN_CHECK_EXE, argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Outcome outcome;
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        outcome.out.append(buffer, static_cast<std::size_t>(n));
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
    void SetUp() override {
        char pattern[] = "/tmp/vorn-check-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
    }
    void TearDown() override { fs::remove_all(m_root); }
    std::string P(const std::string& relative) const { return (m_root / relative).string(); }

    fs::path m_root;
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
    EXPECT_EQ(RunCheck({P("missing.jpg")}).status, 0) << "a path that names nothing is no error";
    EXPECT_EQ(RunCheck({P("missing.jpg")}).out, "");
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
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 150; ++file)
            Write(P("many/f" + std::to_string(folder) + "/img" + std::to_string(file) + ".jpg"),
                  file % 7 == 0 ? kBadEnd : kSound);
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
    for (const std::string& text : otherTexts)
        EXPECT_NE(result.out.find("OK\t" + text + "\n"), std::string::npos) << text;
    EXPECT_NE(result.out.find("OK\t" + P("d/x.jpg") + "\n"), std::string::npos);
    EXPECT_NE(result.out.find("OK\t" + P("d/sub/y.jpg") + "\n"), std::string::npos);
}

TEST_F(VornCheck, AReportThatCannotBeWrittenIsNoSuccess) {
    Write(P("ok.jpg"), kSound);
    EXPECT_EQ(RunCheck({P("ok.jpg")}, "/dev/full").status, 2);
}
