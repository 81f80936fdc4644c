#include "core/paths/path_equality.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

TEST(PathEquality, ComparisonsUnderEachRule) {
    struct Case {
        std::string a;
        std::string b;
        bool exact;
        bool caseless;
    };
    const std::vector<Case> cases = {
        {"/p/photo.jpg", "/p/photo.jpg", true, true},
        {"/p/photo.jpg", "/p/Photo.JPG", false, true},
        {"C:\\Pics\\A.jpg", "c:\\pics\\a.JPG", false, true},
        {"/p/a.jpg", "/p/a.jpg ", false, false},
        {"/p/a.jpg", "/p/./a.jpg", false, false},
        {"a.jpg", "/p/a.jpg", false, false},
        {"", "", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SamePath(c.a, c.b, PathEquality::Exact), c.exact) << c.a << " | " << c.b;
        EXPECT_EQ(SamePath(c.a, c.b, PathEquality::AsciiCaseInsensitive), c.caseless)
            << c.a << " | " << c.b;
        // The key agrees with the comparison, whichever way round.
        EXPECT_EQ(PathKey(c.a, PathEquality::Exact) == PathKey(c.b, PathEquality::Exact), c.exact);
        EXPECT_EQ(PathKey(c.a, PathEquality::AsciiCaseInsensitive) ==
                      PathKey(c.b, PathEquality::AsciiCaseInsensitive),
                  c.caseless);
    }
}

TEST(PathEquality, CaseTellsFilesApartOnThisSystem) {
    EXPECT_EQ(kPlatformPathEquality, PathEquality::Exact);
    EXPECT_FALSE(SamePath("photo.jpg", "Photo.JPG"));
    EXPECT_EQ(PathKey("Photo.JPG"), "Photo.JPG");
}

} // namespace
} // namespace vorn
