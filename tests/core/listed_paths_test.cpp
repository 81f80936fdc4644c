#include "core/paths/listed_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace vorn {
namespace {

TEST(ListedPaths, ExactRuleKeepsCaseVariantsApart) {
    ListedPaths listed;
    EXPECT_FALSE(listed.Contains("/p/photo.jpg"));
    listed.Insert("/p/photo.jpg");
    listed.Insert("/p/photo.jpg");
    EXPECT_EQ(listed.Size(), 1u);
    EXPECT_TRUE(listed.Contains("/p/photo.jpg"));
    EXPECT_FALSE(listed.Contains("/p/Photo.JPG"));
    EXPECT_FALSE(listed.Contains("/p/photo.jp"));
    EXPECT_FALSE(listed.Contains("p/photo.jpg"));
    listed.Insert("/p/Photo.JPG");
    EXPECT_EQ(listed.Size(), 2u);
}

TEST(ListedPaths, CaselessRuleFindsAnyAsciiCase) {
    ListedPaths listed(PathEquality::AsciiCaseInsensitive);
    listed.Insert("C:\\Pics\\A.jpg");
    EXPECT_TRUE(listed.Contains("c:\\pics\\a.JPG"));
    EXPECT_FALSE(listed.Contains("pics\\a.jpg"));
    listed.Insert("C:\\PICS\\a.jpg");
    EXPECT_EQ(listed.Size(), 1u);
}

TEST(ListedPaths, ClearForgetsEveryPath) {
    ListedPaths listed;
    listed.Insert("a.jpg");
    listed.Insert("b.jpg");
    listed.Clear();
    EXPECT_EQ(listed.Size(), 0u);
    EXPECT_FALSE(listed.Contains("a.jpg"));
    listed.Insert("a.jpg");
    EXPECT_TRUE(listed.Contains("a.jpg"));
}

TEST(ListedPaths, PathsAreWholeByteStrings) {
    ListedPaths listed;
    const std::string withNul("a.jpg\0b", 7);
    listed.Insert(withNul);
    EXPECT_TRUE(listed.Contains(withNul));
    EXPECT_FALSE(listed.Contains("a.jpg"));
    listed.Insert("\xFF\xFE.jpg");
    EXPECT_TRUE(listed.Contains("\xFF\xFE.jpg"));
}

} // namespace
} // namespace vorn
