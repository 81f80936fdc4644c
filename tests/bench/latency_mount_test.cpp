// The latency file system serves a folder as it is, and leaves nothing mounted behind it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "bench/latency_mount.h"
#include "tests/support/temp_tree.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LatencyMount, ServesTheSourceAndUnmounts) {
    const TempTree tree;
    const std::string source = tree.Root();
    const std::string content("\xFF\xD8 body \xFF\xD9", 10);
    tree.Write("album/a.jpg", content);

    std::string mountPoint;
    {
        const vorn::bench::LatencyMount mount(source, {.delayUs = 100, .threads = 4});
        if (!mount.Mounted()) {
            GTEST_SKIP() << "no latency mount here: " << mount.Reason();
        }
        mountPoint = mount.Path();
        EXPECT_EQ(ReadAll(mountPoint + "/album/a.jpg"), content);

        DIR* dir = ::opendir((mountPoint + "/album").c_str());
        ASSERT_NE(dir, nullptr);
        std::string names;
        unsigned char type = DT_UNKNOWN;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                names += entry->d_name;
                type = entry->d_type;
            }
        }
        ::closedir(dir);
        EXPECT_EQ(names, "a.jpg");
        EXPECT_EQ(type, DT_REG); // the listing tells files from folders, as a local one does

        const int fd = ::open((mountPoint + "/album/b.jpg").c_str(), O_WRONLY | O_CREAT, 0644);
        EXPECT_LT(fd, 0) << "the mount must be read-only";
    }
    struct stat info {};
    EXPECT_NE(::stat(mountPoint.c_str(), &info), 0) << "the mount point is left behind";
}

} // namespace
