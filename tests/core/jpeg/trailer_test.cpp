#include "core/jpeg/trailer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(JpegTrailer, KindsByTheirFirstBytes) {
    struct Row {
        std::string bytes;
        TrailerKind kind;
    };
    const std::string ftyp("\0\0\0\x18"
                           "ftypmp42",
                           12);
    const Row rows[] = {
        {"", TrailerKind::None},
        {std::string(4096, '\0'), TrailerKind::Padding},
        {std::string(7, '\xFF'), TrailerKind::Padding},
        // Zeros and FF mixed are no padding a tool leaves.
        {std::string("\0\xFF", 2), TrailerKind::Other},
        {ftyp + "moov", TrailerKind::Video},
        {"MotionPhoto_Data" + ftyp, TrailerKind::Video},
        {"MotionPhoto_Data", TrailerKind::Other},
        {"\xFF\xD8\xFF\xE1", TrailerKind::Jpeg},
        {"\xFF\xD8", TrailerKind::Other},
        {"vendor data", TrailerKind::Other},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TrailerName(ClassifyTrailer(Bytes(row.bytes))), TrailerName(row.kind))
            << row.bytes.size() << " bytes";
    }
}

TEST(JpegTrailer, EveryKindHasADistinctNameAndADescription) {
    const TrailerKind kinds[] = {TrailerKind::Padding, TrailerKind::Video, TrailerKind::Jpeg,
                                 TrailerKind::Other};
    std::vector<std::string_view> names{TrailerName(TrailerKind::None)};
    EXPECT_EQ(TrailerDescription(TrailerKind::None), "");
    for (const TrailerKind kind : kinds) {
        EXPECT_EQ(std::count(names.begin(), names.end(), TrailerName(kind)), 0);
        names.push_back(TrailerName(kind));
        EXPECT_FALSE(TrailerDescription(kind).empty()) << TrailerName(kind);
    }
}

} // namespace
} // namespace vorn
