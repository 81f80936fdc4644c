#include "core/paths/path_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vorn {
namespace {

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// The locales every property must hold in: the user's, root, POSIX (the C locale's collation is
// plain code-point order and must not show through) and two with tailorings of their own.
const char* const kLocales[] = {nullptr, "", "en_US_POSIX", "C", "sv_SE", "de_DE", "fr_CA"};

struct Ordered {
    const char* less;
    const char* greater;
};

// Pairs whose order is the same in every locale.
const Ordered kOrderedPairs[] = {
    {"a.jpg", "B.jpg"},         // letters of either case sort together
    {"A.jpg", "b.jpg"},         //
    {"img10.jpg", "img2.jpg"},  // digits one at a time
    {"img1.jpg", "img10.jpg"},  //
    {"!x", "0x"},               // punctuation before digits
    {"_x", "0x"},               //
    {"#x", "9x"},               // symbols before digits
    {"~x", "0x"},               //
    {"9x", "ax"},               // digits before letters
    {"9x", "Ax"},               //
    {"_x", "ax"},               // punctuation before letters
    {".Hidden.jpg", "b.jpg"},   //
    {"coop", "co-op"},          // a hyphen only tips the balance ...
    {"co-op", "coopa"},         // ... between otherwise equal words
    {"co-op", "cop"},           //
    {"coop", "co'op"},          // the apostrophe likewise
    {"co'op", "coopa"},         //
    {"coop", "co\u2019op"},     // and the typographic apostrophe
    {"co\u2019op", "coopa"},    //
    {"menu2018", "menu2019"},   // digits and letters are no special sequence
    {"menu2019", "menu202"},    //
    {"/d/a/z.jpg", "/d/b.jpg"}, // whole paths compare
    {"a.jpg", "a.jpg.bak"},     //
};

TEST(PathOrder, PropertiesHoldInEveryLocale) {
    for (const char* locale : kLocales) {
        SCOPED_TRACE(locale == nullptr ? "(user's locale)" : locale);
        PathCollator collator = locale == nullptr ? PathCollator() : PathCollator(locale);
        for (const Ordered& pair : kOrderedPairs) {
            SCOPED_TRACE(std::string(pair.less) + " < " + pair.greater);
            EXPECT_LT(collator.Compare(pair.less, pair.greater), 0);
            EXPECT_GT(collator.Compare(pair.greater, pair.less), 0);
            EXPECT_LT(collator.SortKey(pair.less), collator.SortKey(pair.greater));
        }
    }
}

TEST(PathOrder, CaseIsIgnoredOnlyWhenAsked) {
    struct Row {
        const char* a;
        const char* b;
        int ignoringCase;
        int respectingCase; // 0 or "differs" (1): the sign of a case difference is the locale's
    };
    const Row rows[] = {
        {"A.JPG", "a.jpg", 0, 1}, {"Photo.Jpeg", "PHOTO.jpeg", 0, 1},
        {"a", "A", 0, 1},         {"a", "a", 0, 0},
        {"", "", 0, 0},           {"\xC3\x85", "\xC3\xA5", 0, 1}, // Å and å
        {"a", "-a", -1, 1}, // the hyphen weighs little, but it weighs
        {"a", "ab", -1, 1},
    };
    for (const char* locale : kLocales) {
        SCOPED_TRACE(locale == nullptr ? "(user's locale)" : locale);
        PathCollator collator = locale == nullptr ? PathCollator() : PathCollator(locale);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
            EXPECT_EQ(Sign(collator.Compare(row.a, row.b)), row.ignoringCase);
            EXPECT_EQ(Sign(collator.Compare(row.b, row.a)), -row.ignoringCase);
            EXPECT_EQ(collator.Compare(row.a, row.b, false) != 0, row.respectingCase != 0);
            EXPECT_EQ(collator.SortKey(row.a) == collator.SortKey(row.b), row.ignoringCase == 0);
        }
    }
}

TEST(PathOrder, IllFormedBytesCompareWithoutHarm) {
    PathCollator collator("");
    const std::string lone = "a\xFF.jpg";              // a byte that never occurs in UTF-8
    const std::string cut = "a\xC3.jpg";               // a lead byte without its trail
    const std::string surrogate = "a\xED\xA0\x80.jpg"; // an encoded surrogate
    const std::string nul = std::string("a\0b", 3);
    for (const std::string& text : {lone, cut, surrogate, nul}) {
        EXPECT_EQ(collator.Compare(text, text), 0);
        EXPECT_FALSE(collator.SortKey(text).empty());
        EXPECT_EQ(collator.Compare(text, "a"), -collator.Compare("a", text));
    }
    // Ill-formed text compares as U+FFFD.
    EXPECT_EQ(collator.Compare(lone, "a\xEF\xBF\xBD.jpg"), 0);
    EXPECT_EQ(collator.Compare(lone, cut), 0);
}

std::vector<std::string> Sorted(std::vector<std::string> paths, const PathCollator& collator) {
    SortPaths(paths, collator);
    return paths;
}

TEST(PathOrder, SortsADroppedFolder) {
    const std::vector<std::string> entries = {
        "F/b.jpg", "F/A", "F/c.JPG", "F/img10.jpg", "F/img2.jpg", "F/notes.txt", "F/.Hidden.jpg"};
    for (const char* locale : kLocales) {
        SCOPED_TRACE(locale == nullptr ? "(user's locale)" : locale);
        PathCollator collator = locale == nullptr ? PathCollator() : PathCollator(locale);
        EXPECT_EQ(Sorted(entries, collator),
                  (std::vector<std::string>{"F/.Hidden.jpg", "F/A", "F/b.jpg", "F/c.JPG",
                                            "F/img10.jpg", "F/img2.jpg", "F/notes.txt"}));
    }
}

TEST(PathOrder, SortAgreesWithCompareAndBreaksTiesByBytes) {
    PathCollator collator("");
    std::vector<std::string> paths = {
        "/p/a.jpg",
        "/p/A.jpg",
        "/p/A.JPG",
        "/p/b",
        "/p/B/x.jpg",
        "/p/co-op",
        "/p/coop",
        "/p/Coop",
        "/p/img2.jpg",
        "/p/img10.jpg",
        "/p/\xFF",
        "/p/\xFE",
        "/p/\xC3\xA4.jpg",
        "/p/a\xCC\x88.jpg",
        "/p/_",
        "/p/1",
        "/p/",
        "/p/a.jpg",
    };
    std::mt19937 random(7);
    std::vector<std::string> first;
    for (int round = 0; round < 5; ++round) {
        std::shuffle(paths.begin(), paths.end(), random);
        std::vector<std::string> sorted = Sorted(paths, collator);
        ASSERT_EQ(sorted.size(), paths.size()); // duplicates stay
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            const int order = collator.Compare(sorted[i - 1], sorted[i]);
            EXPECT_LE(order, 0) << sorted[i - 1] << " / " << sorted[i];
            if (order == 0) {
                EXPECT_LE(sorted[i - 1], sorted[i]);
            }
        }
        if (round == 0) {
            first = sorted;
        }
        EXPECT_EQ(sorted, first); // whatever order the paths came in
    }
}

TEST(PathOrder, PathsWithoutASharedFolderSortWhole) {
    // No shared prefix, a shared prefix that is not a folder, one that ends mid-name.
    const std::vector<std::vector<std::string>> lists = {
        {"b/x", "A/y", "a/z"},
        {"ab", "Aa", "a-b"},
        {"/d/img10.jpg", "/d/img2.jpg", "/d/img1.jpg"},
        {"/d/x/", "/d/x", "/d/X/a"},
    };
    for (const char* locale : {"", "sv_SE", "fr_CA"}) {
        PathCollator collator(locale);
        for (const auto& list : lists) {
            const std::vector<std::string> sorted = Sorted(list, collator);
            for (std::size_t i = 1; i < sorted.size(); ++i) {
                EXPECT_LE(collator.Compare(sorted[i - 1], sorted[i]), 0)
                    << locale << ": " << sorted[i - 1] << " / " << sorted[i];
            }
        }
    }
}

// Sorting builds its keys in more than one way (a table for plain ASCII names, the collation's
// weights or the engine's own keys for the rest, depending on the locale); whichever is taken,
// a sorted list must agree with Compare.
TEST(PathOrder, SortedListsAgreeWithCompare) {
    const char* const pieces[] = {
        "a", "A", "b", "z", "Z", "0", "1", "9", "-", "'", "_", " ", ".", "jpg", "ch", "CH", "aa",
        // from here on not ASCII, or not well-formed
        "\xC3\xA4", "a\xCC\x88", "\xC3\x85", "\xC3\xB8", "\xC5\x82", "\xE4\xB8\x80", "\xE3\x82\xA2",
        "\xF0\x9F\x98\x80", "\xFF", "\xE2\x80\x99", "\xC3\x9F", "\xD0\x96"};
    const std::size_t asciiPieces = 17;
    std::mt19937 random(11);
    for (const char* locale : {"", "en_US_POSIX", "sv_SE", "de_DE", "pl_PL", "cs_CZ", "da_DK",
                               "ru_RU", "ja_JP", "fr_CA"}) {
        PathCollator collator(locale);
        for (int round = 0; round < 20; ++round) {
            const std::size_t choices = round % 2 == 0 ? asciiPieces : std::size(pieces);
            std::vector<std::string> paths;
            for (int i = 0; i < 50; ++i) {
                std::string path = "/d/";
                for (std::size_t n = 1 + random() % 5; n > 0; --n) {
                    path += pieces[random() % choices];
                }
                paths.push_back(path);
            }
            SortPaths(paths, collator);
            for (std::size_t i = 1; i < paths.size(); ++i) {
                const int order = collator.Compare(paths[i - 1], paths[i]);
                ASSERT_LE(order, 0) << locale << ": " << paths[i - 1] << " / " << paths[i];
                if (order == 0) {
                    ASSERT_LE(paths[i - 1], paths[i]) << locale;
                }
            }
        }
    }
}

TEST(PathOrder, LocaleLettersMadeOfTwoCharacters) {
    // Czech ch is one letter after h; Danish aa is one letter after z.
    EXPECT_EQ(Sorted({"/d/ch.jpg", "/d/i.jpg", "/d/h.jpg", "/d/d.jpg"}, PathCollator("cs_CZ")),
              (std::vector<std::string>{"/d/d.jpg", "/d/h.jpg", "/d/ch.jpg", "/d/i.jpg"}));
    EXPECT_EQ(Sorted({"/d/aa.jpg", "/d/z.jpg", "/d/ab.jpg"}, PathCollator("da_DK")),
              (std::vector<std::string>{"/d/ab.jpg", "/d/z.jpg", "/d/aa.jpg"}));
    EXPECT_EQ(Sorted({"/d/ch.jpg", "/d/i.jpg", "/d/h.jpg", "/d/d.jpg"}, PathCollator("")),
              (std::vector<std::string>{"/d/ch.jpg", "/d/d.jpg", "/d/h.jpg", "/d/i.jpg"}));
}

TEST(PathOrder, ShortListsStayAsTheyAre) {
    std::vector<std::string> none;
    SortPaths(none);
    EXPECT_TRUE(none.empty());
    std::vector<std::string> one = {"\xFF"};
    SortPaths(one);
    EXPECT_EQ(one, std::vector<std::string>{"\xFF"});
}

TEST(PathOrder, SwedishLettersFollowZ) {
    // A locale's own rules are kept alongside the minor weight of hyphens.
    PathCollator swedish("sv_SE");
    PathCollator root("");
    EXPECT_GT(swedish.Compare("\xC3\xA4.jpg", "z.jpg"), 0); // ä after z
    EXPECT_LT(root.Compare("\xC3\xA4.jpg", "z.jpg"), 0);    // ä with a
}

} // namespace
} // namespace vorn
