// Checks ahead come back in the order the files were added, whatever finishes first, and a
// CheckAhead dropped with checks still out leaves no thread behind.

#include "core/walk/check_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

namespace vorn {
namespace {

std::size_t ThreadCount() {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

// A check that answers with the path's number, the early paths slowest.
FileCheck NumberCheck() {
    return [](const std::string& path, FileResult& result) {
        const int number = std::stoi(path);
        std::this_thread::sleep_for(std::chrono::microseconds(number % 7 == 0 ? 2000 : 0));
        result.detail = path;
        result.verdict = number % 3 ? MarkerVerdict::Normal : MarkerVerdict::Eoi;
    };
}

TEST(CheckAhead, ResultsComeInTheOrderAdded) {
    for (const std::size_t threads : {1, 4, 64}) {
        CheckAhead ahead(NumberCheck(), threads);
        int added = 0;
        for (int taken = 0; taken < 500; ++taken) {
            while (added < 500 && ahead.Pending() < ahead.Window()) {
                ahead.Add(std::to_string(added++));
            }
            const FileResult result = ahead.Next();
            ASSERT_EQ(result.detail, std::to_string(taken)) << threads;
            EXPECT_EQ(result.verdict, taken % 3 ? MarkerVerdict::Normal : MarkerVerdict::Eoi);
        }
        EXPECT_EQ(ahead.Pending(), 0u);
    }
}

// A check that fails (memory exhausted, say) fails the caller that takes its result, on the
// caller's thread, and the checks after it come back as usual.
TEST(CheckAhead, ACheckThatThrowsThrowsWhereItsResultIsTaken) {
    const FileCheck check = [](const std::string& path, FileResult& result) {
        if (path == "13") {
            throw std::runtime_error("no memory for 13");
        }
        result.detail = path;
    };
    CheckAhead ahead(check, 4);
    for (int i = 12; i <= 14; ++i) {
        ahead.Add(std::to_string(i));
    }
    EXPECT_EQ(ahead.Next().detail, "12");
    EXPECT_THROW(ahead.Next(), std::runtime_error);
    EXPECT_EQ(ahead.Next().detail, "14");
}

TEST(CheckAhead, DroppedWithChecksOutLeavesNoThread) {
    const std::size_t before = ThreadCount();
    {
        CheckAhead ahead(NumberCheck(), 16);
        for (int i = 0; i < 200; ++i) {
            ahead.Add(std::to_string(i));
        }
        ahead.Next();
    }
    EXPECT_EQ(ThreadCount(), before);
}

} // namespace
} // namespace vorn
