#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/support/temp_tree.h"

namespace vorn::cli {
namespace {

TEST(ProgressLine, TextForCounts) {
    struct Row {
        ProgressCounts counts;
        double seconds;
        const char* text;
    };
    const Row rows[] = {
        {{}, 0.0, "checked 0, failed 0, remembered 0, 0 files/s, 0 B/s"},
        {{0, 0, 0, 0, 10}, 0.0, "checked 0 of 10, failed 0, remembered 0, 0 files/s, 0 B/s"},
        {{120, 2, 10, 25'000'000, 400},
         2.0,
         "checked 120 of 400, failed 2, remembered 10, 60 files/s, 12.5 MB/s, 5 s left"},
        {{120, 2, 10, 999, std::nullopt},
         1.0,
         "checked 120, failed 2, remembered 10, 120 files/s, 999 B/s"},
        // Minutes and hours, rounded up; a total passed by the count (a file added on the way)
        // leaves nothing to wait for.
        {{10, 0, 0, 4'000'000'000, 1000},
         1.0,
         "checked 10 of 1000, failed 0, remembered 0, 10 files/s, 4.0 GB/s, 1 min 39 s left"},
        {{1, 0, 0, 1500, 10'000},
         1.0,
         "checked 1 of 10000, failed 0, remembered 0, 1 files/s, 1.5 kB/s, 2 h 46 min left"},
        {{12, 0, 0, 0, 10},
         3.0,
         "checked 12 of 12, failed 0, remembered 0, 4 files/s, 0 B/s, 0 s left"},
        // A total a state remembers is a guess, and says nothing once the run has outgrown it.
        {{120, 2, 10, 25'000'000, 400, true},
         2.0,
         "checked 120 of about 400, failed 2, remembered 10, 60 files/s, 12.5 MB/s, about 5 s "
         "left"},
        {{12, 0, 0, 0, 10, true}, 3.0, "checked 12, failed 0, remembered 0, 4 files/s, 0 B/s"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ProgressText(row.counts, row.seconds), row.text);
    }
}

TEST(ProgressLine, FilesNamedIsKnownWithoutFoldersAndGuessedWithThem) {
    const TempTree tree;
    const std::string a = tree.Write("a.jpg");
    const std::string b = tree.Write("b.JPEG");
    const std::string text = tree.Write("notes.txt");
    const std::string missing = tree.Path("gone.jpg");
    const std::string dangling = tree.Path("dangling.jpg");
    ASSERT_EQ(::symlink(missing.c_str(), dangling.c_str()), 0);
    const std::string folder = tree.Folder("sub");
    const auto never = [] {
        return false;
    };

    const auto count = [](const std::optional<FilesToReport>& files) -> std::optional<std::size_t> {
        return files && !files->guessed ? std::optional(files->count) : std::nullopt;
    };
    // Named twice, a text file and a missing name report nothing; a dangling link is reported.
    EXPECT_EQ(count(FilesNamed({a, a, b, dangling, missing, text}, never)), 3u);
    EXPECT_EQ(count(FilesNamed({}, never)), 0u);
    EXPECT_EQ(FilesNamed({a, folder}, never), std::nullopt);
    EXPECT_EQ(FilesNamed({a, b}, [] { return true; }), std::nullopt);

    // A folder's files are guessed from what was found below it last time; a folder of which
    // nothing is remembered leaves the total unknown.
    const auto lastTime = [&](const std::string& below) -> std::size_t {
        return below == folder + "/" ? 5 : 0;
    };
    const std::optional<FilesToReport> guess = FilesNamed({a, folder}, never, lastTime);
    ASSERT_TRUE(guess);
    EXPECT_EQ(guess->count, 6u);
    EXPECT_TRUE(guess->guessed);
    EXPECT_EQ(FilesNamed({a, tree.Folder("other")}, never, lastTime), std::nullopt);
}

} // namespace
} // namespace vorn::cli
