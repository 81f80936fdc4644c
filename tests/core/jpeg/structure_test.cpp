#include "core/jpeg/structure.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorn {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Segment(std::uint8_t marker, const Bytes& body) {
    const std::size_t length = body.size() + 2;
    return Concat({{0xFF, marker, static_cast<std::uint8_t>(length >> 8),
                    static_cast<std::uint8_t>(length & 0xFF)},
                   body});
}

// A grey 16 × 8 baseline frame, its scan header and a few bytes of image data: the walk reads
// no pixel, so the data need only be well formed.
const Bytes kSoi{0xFF, 0xD8};
const Bytes kEoi{0xFF, 0xD9};
const Bytes kFrame = Segment(0xC0, {8, 0, 8, 0, 16, 1, 1, 0x11, 0});
const Bytes kScan = Segment(0xDA, {1, 1, 0x00, 0, 63, 0});
const Bytes kData{0x12, 0xFF, 0x00, 0x34};

TEST(JpegStructure, WhatTheWalkReports) {
    struct Row {
        const char* name;
        Bytes bytes;
        const char* reason; // "" for a sound structure
        std::uint64_t offset;
    };
    const Bytes sound = Concat({kSoi, kFrame, kScan, kData, kEoi});
    const Row rows[] = {
        {"sound", sound, "", 0},
        {"fill and a standalone marker between segments",
         Concat({kSoi, {0xFF, 0xFF, 0xFF, 0x01}, kFrame, kScan, kData, kEoi}), "", 0},
        {"empty", {}, "no start marker", 0},
        {"another format", {0x89, 'P', 'N', 'G'}, "no start marker", 0},
        {"start marker only", kSoi, "cut short at byte 2", 2},
        {"stray byte", Concat({kSoi, {0x00}, kFrame}), "no marker at byte 2", 2},
        {"length below 2", Concat({kSoi, {0xFF, 0xE0, 0x00, 0x01}}), "bad segment length at byte 2",
         2},
        {"no scan", Concat({kSoi, kFrame, kEoi}), "no image data before the end marker", 15},
        {"scan before the frame", Concat({kSoi, kScan, kData, kEoi}),
         "image data before the frame header at byte 2", 2},
        {"second frame", Concat({kSoi, kFrame, kFrame}), "second frame header at byte 15", 15},
        {"width 0", Concat({kSoi, Segment(0xC0, {8, 0, 8, 0, 0, 1, 1, 0x11, 0})}),
         "bad frame header: width 0 at byte 2", 2},
        {"scan of a component the frame lacks",
         Concat({kSoi, kFrame, Segment(0xDA, {1, 2, 0x00, 0, 63, 0})}),
         "bad scan header at byte 15", 15},
        {"restart marker without an interval",
         Concat({kSoi, kFrame, kScan, {0x12, 0xFF, 0xD0, 0x34}, kEoi}),
         "restart marker without a restart interval at byte 26", 26},
        {"cut short in the image data", Concat({kSoi, kFrame, kScan, kData}),
         "cut short at byte 29", 29},
        {"zeros for a tail", Concat({kSoi, kFrame, kScan, kData, Bytes(600, 0)}),
         "zeros from byte 29 to the end", 29},
    };
    const DeepCheckLimits limits;
    for (const Row& row : rows) {
        const JpegStructure structure = WalkJpegStructure(row.bytes, limits);
        if (*row.reason == '\0') {
            EXPECT_FALSE(structure.fault) << row.name << ": " << structure.fault->reason;
            EXPECT_EQ(structure.end, row.bytes.size()) << row.name;
            EXPECT_EQ(structure.scans, 1u) << row.name;
            EXPECT_EQ(structure.width, 16u) << row.name;
            EXPECT_EQ(structure.height, 8u) << row.name;
            continue;
        }
        ASSERT_TRUE(structure.fault) << row.name;
        EXPECT_EQ(structure.fault->kind, JpegFault::Kind::Damaged) << row.name;
        EXPECT_EQ(structure.fault->reason, row.reason) << row.name;
        EXPECT_EQ(structure.fault->offset, row.offset) << row.name;
    }
}

// A ceiling or a coding the decoder does not take is reported only when nothing is damaged.
TEST(JpegStructure, DamageComesBeforeWhatCannotBeVerified) {
    const Bytes lossless = Segment(0xC3, {8, 0, 8, 0, 16, 1, 1, 0x11, 0});
    const Bytes losslessScan = Segment(0xDA, {1, 1, 0x00, 1, 0, 0});
    struct Row {
        const char* name;
        Bytes bytes;
        DeepCheckLimits limits;
        JpegFault::Kind kind;
        const char* reason;
    };
    const Row rows[] = {
        {"lossless",
         Concat({kSoi, lossless, losslessScan, kData, kEoi}),
         {},
         JpegFault::Kind::Unverifiable,
         "cannot verify: lossless coding"},
        {"lossless and cut short",
         Concat({kSoi, lossless, losslessScan, kData}),
         {},
         JpegFault::Kind::Damaged,
         "cut short at byte 29"},
        {"too many pixels",
         Concat({kSoi, kFrame, kScan, kData, kEoi}),
         {.maxPixels = 127},
         JpegFault::Kind::Unverifiable,
         "too large to verify: 16 × 8 declared"},
        {"too many pixels and cut short",
         Concat({kSoi, kFrame, kScan, kData}),
         {.maxPixels = 127},
         JpegFault::Kind::Damaged,
         "cut short at byte 29"},
        {"too many scans",
         Concat({kSoi, kFrame, kScan, kData, kScan, kData, kEoi}),
         {.maxScans = 1},
         JpegFault::Kind::Unverifiable,
         "too large to verify: 2 scans"},
    };
    for (const Row& row : rows) {
        const JpegStructure structure = WalkJpegStructure(row.bytes, row.limits);
        ASSERT_TRUE(structure.fault) << row.name;
        EXPECT_EQ(structure.fault->kind, row.kind) << row.name;
        EXPECT_EQ(structure.fault->reason, row.reason) << row.name;
    }
}

// The intact test pictures, as their encoders wrote them, walk to their end marker.
TEST(JpegStructure, EncodedFilesWalkToTheirEnd) {
    const char* const stems[] = {"baseline", "progressive", "grey", "cmyk", "restart"};
    for (const char* stem : stems) {
        std::ifstream in(std::filesystem::path(std::getenv("VORN_TEST_DATA")) / "jpeg" /
                             (std::string(stem) + ".jpg"),
                         std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), {}};
        const JpegStructure structure = WalkJpegStructure(bytes, DeepCheckLimits{});
        EXPECT_FALSE(structure.fault) << stem << ": " << structure.fault->reason;
        EXPECT_EQ(structure.end, bytes.size()) << stem;
    }
}

} // namespace
} // namespace vorn
