#include "core/check/check_record.h"

#include <gtest/gtest.h>

#include <limits>

namespace vorn {
namespace {

bool Same(const CheckRecord& a, const CheckRecord& b) {
    const auto deepSame = [](const DeepCheckResult& x, const DeepCheckResult& y) {
        return x.verdict == y.verdict && x.reason == y.reason && x.offset == y.offset &&
               x.trailer == y.trailer;
    };
    return a.identity == b.identity && a.marker == b.marker && a.hash == b.hash &&
           a.checkedAt == b.checkedAt && a.changedSince == b.changedSince &&
           a.deep.has_value() == b.deep.has_value() && (!a.deep || deepSame(*a.deep, *b.deep));
}

std::vector<NamedRecord> Records() {
    constexpr auto kMost = std::numeric_limits<std::uint64_t>::max();
    constexpr auto kLeast = std::numeric_limits<std::int64_t>::min();
    std::vector<NamedRecord> records(6);
    records[0].name = "";
    records[1].name = std::string("\x01\xff\n.jpg", 7); // not UTF-8, with a line break
    records[1].record.identity = {kMost, kMost, kMost, std::numeric_limits<std::int64_t>::max()};
    records[1].record.marker = MarkerVerdict::Eoi;
    records[1].record.checkedAt = -1; // before the epoch
    records[2].name = "a.jpg";
    records[2].record.identity = {1, 2, 3, kLeast};
    records[2].record.deep.emplace().verdict = DeepVerdict::Damaged;
    records[2].record.deep->reason = "cut short at byte 4096";
    records[2].record.deep->offset = 0;
    records[2].record.hash.emplace().fill(0xa5);
    records[2].record.changedSince = kLeast;
    records[3].name = "b.jpg";
    records[3].record.deep.emplace().trailer = TrailerKind::Other;
    records[3].record.marker = MarkerVerdict::Soi;
    records[4].name = "c.jpg";
    records[4].record.changedSince = 0;
    records[5].name = std::string(70000, 'n'); // a length of three bytes
    records[5].record.deep.emplace().verdict = DeepVerdict::Unverified;
    records[5].record.deep->reason = std::string(300, 'r');
    return records;
}

TEST(CheckRecord, WhatIsPackedIsUnpackedAsItWas) {
    const std::vector<NamedRecord> records = Records();
    for (std::size_t count = 0; count <= records.size(); ++count) {
        const std::vector<NamedRecord> some(records.begin(), records.begin() + count);
        const std::optional<std::vector<NamedRecord>> back = UnpackRecords(PackRecords(some));
        ASSERT_TRUE(back) << count;
        ASSERT_EQ(back->size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ((*back)[i].name, some[i].name) << i;
            EXPECT_TRUE(Same((*back)[i].record, some[i].record)) << i;
        }
    }
}

// Records packed one by one, some added and some appended, are the packing of all of them: the
// state's rows are made by putting such packings together.
TEST(CheckRecord, RecordsPackedOneByOneMakeThePackingOfAll) {
    const std::vector<NamedRecord> records = Records();
    PackedRecords first;
    PackedRecords second;
    for (std::size_t i = 0; i < records.size(); ++i) {
        (i < 2 ? first : second).Add(records[i].name, records[i].record);
    }
    first.Append(second);
    ASSERT_EQ(first.Size(), records.size());
    std::string together;
    for (std::size_t i = 0; i < first.Size(); ++i) {
        EXPECT_EQ(first.Name(i), records[i].name) << i;
        together += first.Packing(i);
    }
    EXPECT_EQ(together, PackRecords(records));
}

// A damaged state may hold any bytes: each of these is refused, and none reads past its end.
TEST(CheckRecord, WhatIsNoPackingIsRefused) {
    const std::vector<NamedRecord> all = Records();
    const std::vector<NamedRecord> two(all.begin() + 2, all.begin() + 4);
    const std::string pair = PackRecords(two);
    // b.jpg's marker verdict, after its name's length and bytes, the parts and four numbers.
    std::string badVerdict = PackRecords(std::vector<NamedRecord>{two[1]});
    ASSERT_EQ(badVerdict.substr(1, 5), "b.jpg");
    badVerdict[11] = 9;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"a number that never ends", std::string(12, '\x80')},
        {"a name longer than what follows", std::string("\x05"
                                                        "ab",
                                                        3)},
        {"a part that does not exist", std::string("\x00\x40", 2)},
        {"a reason without a picture check", std::string("\x00\x02\x00\x00\x00\x00\x00\x00", 8)},
        {"a marker verdict that does not exist", badVerdict},
        {"names out of order", PackRecords(std::vector<NamedRecord>{two[1], two[0]})},
        {"a name twice", PackRecords(std::vector<NamedRecord>{two[0], two[0]})},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(UnpackRecords(c.bytes)) << c.what;
    }
    // Cut anywhere but where the first record ends.
    const std::size_t firstEnds = PackRecords(std::vector<NamedRecord>{two[0]}).size();
    for (std::size_t size = 1; size < pair.size(); ++size) {
        if (size == firstEnds) {
            continue;
        }
        EXPECT_FALSE(UnpackRecords(std::string_view(pair).substr(0, size))) << "cut at " << size;
    }
    EXPECT_TRUE(UnpackRecords(PackRecords(all)));
}

} // namespace
} // namespace vorn
