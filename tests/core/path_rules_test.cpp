#include "core/paths/path_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

const PathRules& Win = PathRules::Windows();
const PathRules& Posix = PathRules::Posix();

// "\x95\x5C" is a Shift-JIS character whose second byte is the value of "\".
const std::string kSjisBackslashChar = "\x95\x5C";

struct PartsCase {
    std::string path;
    std::string folder;
    std::string name;
    std::string extension;
};

void ExpectParts(const std::vector<PartsCase>& cases, const PathRules& rules) {
    for (const PartsCase& c : cases) {
        EXPECT_EQ(FolderPart(c.path, rules), c.folder) << c.path;
        EXPECT_EQ(NamePart(c.path, rules), c.name) << c.path;
        EXPECT_EQ(Extension(c.path, rules), c.extension) << c.path;
    }
}

TEST(PathRules, WindowsParts) {
    ExpectParts(
        {
            {"C:\\pics\\", "C:\\pics\\", "", ""},
            {"C:\\pics", "C:\\", "pics", ""},
            {"C:pics.jpg", "C:", "pics.jpg", ".jpg"},
            {"a.b\\c", "a.b\\", "c", ""},
            {"a.b:c", "a.b:", "c", ""},
            {"x.jpg.bak", "", "x.jpg.bak", ".bak"},
            {"dir\\.jpg", "dir\\", ".jpg", ".jpg"},
            {"name.", "", "name.", "."},
            {"a/b.jpg", "", "a/b.jpg", ".jpg"},
            {"", "", "", ""},
            // The second byte 0x5C is part of the last character of the name, not a delimiter.
            {"C:\\f\\x" + kSjisBackslashChar, "C:\\f\\", "x" + kSjisBackslashChar, ""},
            {"C:\\" + kSjisBackslashChar + "\\a.jpg", "C:\\" + kSjisBackslashChar + "\\", "a.jpg",
             ".jpg"},
            // A lead byte whose next byte is "." hides that dot.
            {"a.jpg\x81.", "", "a.jpg\x81.", ".jpg\x81."},
            // Two lead-byte values in a row make one character, so the "\" after them is real.
            {"\x81\x81\\b", "\x81\x81\\", "b", ""},
            {"\x81\x81\x81\\b", "", "\x81\x81\x81\\b", ""},
        },
        Win);
}

TEST(PathRules, PosixParts) {
    ExpectParts(
        {
            {"/pics/", "/pics/", "", ""},
            {"/pics", "/", "pics", ""},
            {"a.b/c", "a.b/", "c", ""},
            {"x.jpg.bak", "", "x.jpg.bak", ".bak"},
            {"/home/.jpg", "/home/", ".jpg", ".jpg"},
            {"C:\\pics\\a.jpg", "", "C:\\pics\\a.jpg", ".jpg"},
            {"a:b.jpg", "", "a:b.jpg", ".jpg"},
            // No lead bytes: 0x95 0x2F is two characters, and "/" delimits.
            {"\x95/\xFF\xFE.JPG", "\x95/", "\xFF\xFE.JPG", ".JPG"},
        },
        Posix);
}

TEST(PathRules, TrailBytesByTheLengthOfTheLeadRun) {
    const std::string path = "a\x81\x81\x81\x5C";
    EXPECT_FALSE(IsTrailByte(path, 0, Win));
    EXPECT_FALSE(IsTrailByte(path, 1, Win));
    EXPECT_TRUE(IsTrailByte(path, 2, Win));
    EXPECT_FALSE(IsTrailByte(path, 3, Win));
    EXPECT_TRUE(IsTrailByte(path, 4, Win));
    EXPECT_FALSE(IsTrailByte(path, 4, Posix));
    EXPECT_FALSE(IsTrailByte(path, 99, Win));
}

TEST(PathRules, LeadBytesOfShiftJis) {
    for (int b = 0; b < 256; ++b) {
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(Win.leadBytes[b], lead) << b;
        EXPECT_FALSE(Posix.leadBytes[b]) << b;
    }
    EXPECT_EQ(&PathRules::Platform(), &PathRules::Posix());
}

TEST(PathRules, TrailingDelimiter) {
    struct Case {
        std::string folder;
        const PathRules* rules;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"C:\\pics\\", &Win, "C:\\pics\\"},
        {"C:\\pics", &Win, "C:\\pics\\"},
        {"C:", &Win, "C:\\"},
        {"C:\\" + kSjisBackslashChar, &Win, "C:\\" + kSjisBackslashChar + "\\"},
        {"C:\\\x81\x81\\", &Win, "C:\\\x81\x81\\"},
        {"/home/u", &Posix, "/home/u/"},
        {"/home/u/", &Posix, "/home/u/"},
        {"/", &Posix, "/"},
        {"dir\\", &Posix, "dir\\/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithTrailingDelimiter(c.folder, *c.rules), c.expected) << c.folder;
    }
}

TEST(PathRules, JpegExtensions) {
    for (const char* yes : {".jpg", ".jpeg", ".JPG", ".Jpeg", ".jPeG"}) {
        EXPECT_TRUE(IsJpegExtension(yes)) << yes;
    }
    for (const char* no : {"", ".", ".jpe", ".jfif", ".jpgx", "jpg", ".jp", ".jpg ", "..jpg"}) {
        EXPECT_FALSE(IsJpegExtension(no)) << no;
    }
    // Only ASCII letters fold: a byte that is "J" plus 0x20 elsewhere is no letter.
    EXPECT_FALSE(IsJpegExtension(".\xCApg"));
    EXPECT_FALSE(IsJpegExtension(std::string(".jpg\0", 5)));

    struct Case {
        const char* path;
        bool windows;
        bool posix;
    };
    for (const Case& c : std::vector<Case>{
             {"photo.JPEG", true, true},
             {"photo.Jpg", true, true},
             {".jpg", true, true},
             {"photo.jpg.bak", false, false},
             {"photo.jpe", false, false},
             {"photo", false, false},
             {"album.jpg\\photo", false, false},
             {"album.jpg/photo", false, false},
             // After a lead byte the dot is part of a character, so there is no extension.
             {"\x81.jpg", false, true},
         }) {
        EXPECT_EQ(HasJpegExtension(c.path, Win), c.windows) << c.path;
        EXPECT_EQ(HasJpegExtension(c.path, Posix), c.posix) << c.path;
    }
}

} // namespace
} // namespace vorn
