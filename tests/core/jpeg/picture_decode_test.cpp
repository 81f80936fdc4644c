#include "core/jpeg/picture_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorn {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << file;
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path Intact(const std::string& stem) {
    return fs::path(std::getenv("VORN_TEST_DATA")) / "jpeg" / (stem + ".jpg");
}

fs::path Variant(const std::string& name) {
    return fs::path(VORN_DAMAGE_SUITE) / (name + ".jpg");
}

TEST(PictureDecode, AnIntactPictureDecodesWholeWithoutDamagedRows) {
    for (const char* stem : {"baseline", "progressive", "grey", "cmyk", "restart"}) {
        const DecodedPicture picture = DecodePicture(Bytes(Intact(stem)), {});
        EXPECT_FALSE(picture.fault) << stem << ": " << picture.fault->reason;
        EXPECT_FALSE(picture.firstDamagedRow) << stem;
        EXPECT_EQ(picture.width, picture.declaredWidth) << stem;
        EXPECT_EQ(picture.height, picture.declaredHeight) << stem;
        EXPECT_EQ(picture.rgb.size(), std::size_t{picture.width} * picture.height * 3) << stem;
    }
}

TEST(PictureDecode, IsScaledDownToAboutTheBoxItIsFittedInto) {
    const DecodedPicture full = DecodePicture(Bytes(Intact("baseline")), {});
    const DecodedPicture small =
        DecodePicture(Bytes(Intact("baseline")), {}, full.width / 4, full.height / 4);
    EXPECT_EQ(small.width, (full.width + 3) / 4);
    EXPECT_EQ(small.height, (full.height + 3) / 4);
    EXPECT_FALSE(small.firstDamagedRow);
}

// The scale is the smallest in eighths whose picture still covers its fit into the box, and the
// decoder's output has the size ScaledLength tells.
TEST(PictureDecode, TheScaleIsTheSmallestThatCoversTheBox) {
    struct Row {
        std::uint32_t fitWidth, fitHeight;
        unsigned scale; // for a 640 × 400 picture
    };
    const Row rows[] = {
        {0, 0, 8},     {640, 0, 8},   {640, 400, 8}, {2000, 2000, 8}, {639, 400, 8},
        {320, 400, 4}, {321, 900, 5}, {80, 50, 1},   {1, 1, 1},       {400, 150, 3},
    };
    const std::vector<std::uint8_t> bytes = Bytes(Intact("baseline"));
    for (const Row& row : rows) {
        const unsigned scale = DecodeScale(640, 400, row.fitWidth, row.fitHeight);
        EXPECT_EQ(scale, row.scale) << row.fitWidth << " x " << row.fitHeight;
        const DecodedPicture picture = DecodePicture(bytes, {}, row.fitWidth, row.fitHeight);
        EXPECT_EQ(picture.scale, scale) << row.fitWidth << " x " << row.fitHeight;
        EXPECT_EQ(picture.width, ScaledLength(640, scale)) << row.fitWidth;
        EXPECT_EQ(picture.height, ScaledLength(400, scale)) << row.fitHeight;
        if (row.fitWidth > 0 && row.fitHeight > 0) {
            EXPECT_TRUE(picture.width >= std::min(row.fitWidth, 640u) ||
                        picture.height >= std::min(row.fitHeight, 400u))
                << row.fitWidth << " x " << row.fitHeight;
        }
    }
}

// Damage that leaves the start of the picture intact: the rows from some row on are marked,
// the rows before it are not, and the reason is the walk's.
TEST(PictureDecode, DamageIsMarkedFromTheRowItStartsAt) {
    struct Case {
        const char* variant;
        const char* reasonStart;
    };
    for (const Case& c :
         {Case{"baseline-truncated", "cut short at byte "},
          Case{"baseline-zeroed-tail", "zeros from byte "}, Case{"baseline-zeros-inside", ""},
          Case{"restart-truncated", "cut short at byte "},
          Case{"baseline-chunk-dropped", "image data: "},
          Case{"progressive-zeroed-tail", "zeros from byte "}}) {
        const DecodedPicture picture = DecodePicture(Bytes(Variant(c.variant)), {});
        ASSERT_TRUE(picture.fault) << c.variant;
        EXPECT_TRUE(picture.fault->reason.starts_with(c.reasonStart))
            << c.variant << ": " << picture.fault->reason;
        ASSERT_GT(picture.height, 0u) << c.variant;
        ASSERT_TRUE(picture.firstDamagedRow) << c.variant;
        EXPECT_GT(*picture.firstDamagedRow, 0u) << c.variant;
        EXPECT_LT(*picture.firstDamagedRow, picture.height) << c.variant;
    }
}

// The damage is where the file has it: the zeros after 70 % of the image data are marked lower
// down than the cut after 60 % of it, and both below the middle rows of zeros inside.
TEST(PictureDecode, TheMarkedRowFollowsWhereTheDamageLies) {
    const auto row = [](const char* variant) {
        return DecodePicture(Bytes(Variant(variant)), {}).firstDamagedRow.value_or(0);
    };
    EXPECT_LT(row("baseline-zeros-inside"), row("baseline-truncated"));
    EXPECT_LT(row("baseline-truncated"), row("baseline-zeroed-tail"));
}

TEST(PictureDecode, AHostileFileIsRefusedWithItsReasonWithoutDecoding) {
    for (const char* variant :
         {"hostile-huge-declared", "hostile-many-scans", "hostile-much-work"}) {
        const DecodedPicture picture = DecodePicture(Bytes(Variant(variant)), {});
        ASSERT_TRUE(picture.fault) << variant;
        EXPECT_EQ(picture.fault->kind, JpegFault::Kind::Unverifiable) << variant;
        EXPECT_TRUE(picture.fault->reason.starts_with("too "))
            << variant << ": " << picture.fault->reason;
        EXPECT_EQ(picture.width, 0u) << variant;
        EXPECT_TRUE(picture.rgb.empty()) << variant;
    }
}

TEST(PictureDecode, AFileWhoseHeadersDoNotDecodeShowsNothing) {
    for (const char* variant : {"baseline-bad-start", "baseline-huffman-counts"}) {
        const DecodedPicture picture = DecodePicture(Bytes(Variant(variant)), {});
        ASSERT_TRUE(picture.fault) << variant;
        EXPECT_EQ(picture.fault->kind, JpegFault::Kind::Damaged) << variant;
        EXPECT_EQ(picture.width == 0, !picture.firstDamagedRow.has_value()) << variant;
    }
}

TEST(PictureDecode, ACancelledDecodeGivesNothing) {
    const std::atomic<bool> cancel{true};
    const DecodedPicture picture = DecodePicture(Bytes(Intact("baseline")), {}, 0, 0, &cancel);
    EXPECT_TRUE(picture.rgb.empty());
}

} // namespace
} // namespace vorn
