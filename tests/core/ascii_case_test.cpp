#include "core/base/ascii_case.h"

#include <gtest/gtest.h>

#include <string>

namespace vorn {
namespace {

TEST(AsciiCase, OnlyAsciiLettersFold) {
    struct Case {
        std::string a;
        std::string b;
        bool equal;
    };
    const Case cases[] = {
        {"photo.jpg", "PHOTO.JPG", true},
        {"", "", true},
        {"a.jpg", "a.jpg ", false},
        // "@" and "`" sit next to "A" and "a" but are not letters.
        {"@", "`", false},
        {"[", "{", false},
        // Bytes beyond ASCII are compared as they are (UTF-8 "É" against "é").
        {"\xC3\x89.jpg", "\xC3\xA9.jpg", false},
        {std::string("a\0b", 3), std::string("a\0B", 3), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " | " << c.b;
    }
}

} // namespace
} // namespace vorn
