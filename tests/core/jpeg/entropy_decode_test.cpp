#include "core/jpeg/entropy_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorn {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Intact(const std::string& stem) {
    std::ifstream in(std::filesystem::path(std::getenv("VORN_TEST_DATA")) / "jpeg" /
                         (stem + ".jpg"),
                     std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

std::size_t Find(const Bytes& bytes, std::uint8_t marker) {
    const std::uint8_t pattern[] = {0xFF, marker};
    return static_cast<std::size_t>(std::search(bytes.begin(), bytes.end(), pattern, pattern + 2) -
                                    bytes.begin());
}

TEST(JpegDecode, IntactPicturesDecodeWithoutAWord) {
    for (const char* stem : {"baseline", "progressive", "grey", "cmyk", "restart"}) {
        const std::optional<JpegFault> fault = DecodeJpeg(Intact(stem), DeepCheckLimits{});
        EXPECT_FALSE(fault) << stem << ": " << fault->reason;
    }
}

TEST(JpegDecode, WhatStopsTheDecoder) {
    struct Row {
        const char* name;
        Bytes bytes;
        DeepCheckLimits limits;
        JpegFault::Kind kind;
        const char* reason;
        bool hasOffset;
    };
    Bytes zeroedData = Intact("grey");
    std::fill(zeroedData.begin() + static_cast<std::ptrdiff_t>(Find(zeroedData, 0xDA)) + 14,
              zeroedData.end() - 2, 0);
    Bytes undefinedTable = Intact("grey");
    undefinedTable[Find(undefinedTable, 0xC0) + 12] = 0x03;
    const Row rows[] = {
        {"image data zeroed", zeroedData, {}, JpegFault::Kind::Damaged, "image data: ", true},
        {"a table never defined",
         undefinedTable,
         {},
         JpegFault::Kind::Damaged,
         "refused by the decoder: quantization table 0x03 was not defined",
         true},
        {"memory ceiling",
         Intact("progressive"),
         {.maxMemory = 256 << 10},
         JpegFault::Kind::Unverifiable,
         "too large to verify: needs more than 256 KB of memory",
         false},
        {"scan ceiling",
         Intact("progressive"),
         {.maxScans = 3},
         JpegFault::Kind::Unverifiable,
         "too large to verify: more than 3 scans",
         false},
    };
    for (const Row& row : rows) {
        const std::optional<JpegFault> fault = DecodeJpeg(row.bytes, row.limits);
        ASSERT_TRUE(fault) << row.name;
        EXPECT_EQ(fault->kind, row.kind) << row.name;
        EXPECT_TRUE(fault->reason.starts_with(row.reason)) << row.name << ": " << fault->reason;
        EXPECT_EQ(fault->offset.has_value(), row.hasOffset) << row.name;
        if (fault->offset) {
            EXPECT_LE(*fault->offset, row.bytes.size()) << row.name;
        }
    }
}

} // namespace
} // namespace vorn
