#include "core/paths/sort_keys.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/paths/icu_functions.h"

namespace vorn {
namespace {

struct CloseCollator {
    void operator()(UCollator* collator) const { Icu().ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CloseCollator>;

// A collator set as the path order sets its own: secondary strength, punctuation not ignored.
CollatorPtr Open(const char* locale) {
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr collator(Icu().ucol_open(locale, &status));
    Icu().ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    Icu().ucol_setStrength(collator.get(), UCOL_SECONDARY);
    EXPECT_TRUE(U_SUCCESS(status)) << locale;
    return collator;
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

const std::vector<std::string> kAscii = {
    "a.jpg", "A.JPG", "b.jpg", "a-.jpg", "a_b.jpg", "a b.jpg", "10.jpg", "9.jpg",
    "co-op", "coop",  "",      "Zz",     "ch.jpg",  "h.jpg",   "aa.jpg", "z.jpg"};
const std::vector<std::string> kMixed = {"é.jpg", "e.jpg", "f.jpg",        "Ä.jpg", "\xC3",
                                         "𝄞.jpg", "a.jpg", "\xFF\xFE.jpg", "ß",     "ss"};

// Keys compare as the collator compares the texts, for weight keys and engine keys alike, from
// the byte they are made from (no text is shorter); an entry names its text, and its head never
// contradicts its key.
TEST(SortKeys, KeysOrderAsTheCollatorDoes) {
    struct Row {
        const char* locale;
        const std::vector<std::string>* texts;
        std::size_t skip;
    };
    const Row rows[] = {
        {"en_US", &kAscii, 0}, {"cs_CZ", &kAscii, 0}, {"da_DK", &kAscii, 0},
        {"en_US", &kMixed, 1}, {"en_US", &kMixed, 0}, {"de_DE", &kMixed, 0},
    };
    for (const Row& row : rows) {
        const CollatorPtr collator = Open(row.locale);
        const WeightTable table = MakeWeightTable(collator.get());
        for (const WeightTable& used : {table, WeightTable{}}) {
            const SortKeys keys = MakeSortKeys(*row.texts, row.skip, collator.get(), used);
            ASSERT_EQ(keys.entries.size(), row.texts->size()) << row.locale;
            for (std::size_t i = 0; i < keys.entries.size(); ++i) {
                EXPECT_EQ(keys.entries[i].index, i);
            }
            for (const SortKeys::Entry& a : keys.entries) {
                for (const SortKeys::Entry& b : keys.entries) {
                    const std::string x = (*row.texts)[a.index].substr(
                        std::min(row.skip, (*row.texts)[a.index].size()));
                    const std::string y = (*row.texts)[b.index].substr(
                        std::min(row.skip, (*row.texts)[b.index].size()));
                    UErrorCode status = U_ZERO_ERROR;
                    const int expected = Icu().ucol_strcollUTF8(
                        collator.get(), x.data(), static_cast<int32_t>(x.size()), y.data(),
                        static_cast<int32_t>(y.size()), &status);
                    EXPECT_EQ(Sign(keys.Key(a).compare(keys.Key(b))), Sign(expected))
                        << row.locale << " '" << x << "' '" << y << "' usable " << used.usable;
                    if (a.head != b.head) {
                        EXPECT_EQ(a.head < b.head, keys.Key(a) < keys.Key(b));
                    }
                }
            }
        }
    }
}

// Without a usable weight table the keys are the collator's own.
TEST(SortKeys, EngineKeysAreTheCollatorsOwn) {
    const CollatorPtr collator = Open("en_US");
    const SortKeys keys = MakeSortKeys(kMixed, 0, collator.get(), WeightTable{});
    for (const SortKeys::Entry& entry : keys.entries) {
        EXPECT_EQ(keys.Key(entry), EngineSortKey(collator.get(), kMixed[entry.index]));
    }
}

TEST(SortKeys, IllFormedUtf8BecomesReplacementCharacters) {
    struct Row {
        std::string utf8;
        std::u16string utf16;
    };
    const Row rows[] = {
        {"", u""},
        {"a.jpg", u"a.jpg"},
        {"\xC3\xA9", u"\u00E9"},
        {"\xF0\x9D\x84\x9E", u"\U0001D11E"},
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
        {"\xC3", u"\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    };
    for (const Row& row : rows) {
        std::u16string out = u"left over";
        ToUtf16(row.utf8, out);
        EXPECT_TRUE(out == row.utf16) << row.utf8;
    }
}

} // namespace
} // namespace vorn
