#include "core/check/end_marker_explanation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using vorn::EndMarkerExplanation;
using Kind = EndMarkerExplanation::Kind;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A segment: marker, big-endian length (body + 2), body.
Bytes Segment(std::uint8_t marker, std::size_t bodySize, std::uint8_t fill = 0x11) {
    // Made whole and then filled in: GCC 12 at -O3 warns wrongly about an insert after the
    // four bytes.
    Bytes bytes(4 + bodySize, fill);
    bytes[0] = 0xFF;
    bytes[1] = marker;
    bytes[2] = static_cast<std::uint8_t>((bodySize + 2) >> 8);
    bytes[3] = static_cast<std::uint8_t>((bodySize + 2) & 0xFF);
    return bytes;
}

Bytes Prefix(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

const Bytes kSoi{0xFF, 0xD8};
const Bytes kEoi{0xFF, 0xD9};
// Headers: APP0, an APP1 whose body holds a whole embedded thumbnail (its own FF D8 ... FF D9,
// which must not be taken for the image's markers), DQT, SOF0, DHT, SOS.
const Bytes kHeaders =
    Concat({Segment(0xE0, 14),
            Concat({{0xFF, 0xE1, 0x00, 0x0A}, {0xFF, 0xD8, 0x12, 0x34, 0xFF, 0xD9, 0x00, 0x00}}),
            Segment(0xDB, 65), Segment(0xC0, 15), Segment(0xC4, 30)});
const Bytes kScanHeader = Segment(0xDA, 8);
// Image data with a stuffed FF 00, a restart marker and fill bytes before the next marker.
const Bytes kScanData{0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56, 0x78, 0xFF, 0xFF};

class TempFile {
public:
    explicit TempFile(const Bytes& bytes) {
        char name[] = "/tmp/vorn-explain-XXXXXX";
        m_fd = ::mkstemp(name);
        m_name = name;
        EXPECT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    ~TempFile() {
        ::close(m_fd);
        ::unlink(m_name.c_str());
    }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
    std::string m_name;
};

EndMarkerExplanation Explain(const Bytes& bytes) {
    const TempFile file(bytes);
    return vorn::ExplainEndMarker(file.Fd());
}

} // namespace

TEST(ExplainEndMarker, TellsAppendedDataFromFilesCutShort) {
    const Bytes image = Concat({kSoi, kHeaders, kScanHeader, kScanData, kEoi});
    const struct {
        const char* name;
        Bytes bytes;
        Kind kind;
        std::uint64_t offset;
        std::uint64_t appended;
    } cases[] = {
        {"motion photo", Concat({image, Bytes(1000, 0x42)}), Kind::AppendedData, image.size(),
         1000},
        {"one byte after the end", Concat({image, {0x00}}), Kind::AppendedData, image.size(), 1},
        {"a second image appended", Concat({image, image}), Kind::AppendedData, image.size(),
         image.size()},
        {"cut in the image data", Concat({kSoi, kHeaders, kScanHeader, {0x12, 0xFF, 0x00, 0x34}}),
         Kind::CutShortInImageData, kSoi.size() + kHeaders.size() + kScanHeader.size() + 4, 0},
        {"cut after a stuffing FF", Concat({kSoi, kHeaders, kScanHeader, {0x12, 0xFF}}),
         Kind::CutShortInImageData, kSoi.size() + kHeaders.size() + kScanHeader.size() + 2, 0},
        {"cut inside a segment body", Concat({kSoi, Prefix(Segment(0xE0, 100), 30)}),
         Kind::CutShortInHeaders, 32, 0},
        {"cut inside a length", Concat({kSoi, {0xFF, 0xE0, 0x00}}), Kind::CutShortInHeaders, 5, 0},
        {"start marker only", kSoi, Kind::CutShortInHeaders, 2, 0},
        {"garbage after the headers", Concat({kSoi, kHeaders, {0x00, 0x01}}), Kind::Unrecognised,
         kSoi.size() + kHeaders.size() + 1, 0},
        {"segment length below two", Concat({kSoi, {0xFF, 0xE0, 0x00, 0x01}}), Kind::Unrecognised,
         6, 0},
    };
    for (const auto& c : cases) {
        const EndMarkerExplanation result = Explain(c.bytes);
        EXPECT_EQ(result.kind, c.kind) << c.name;
        EXPECT_EQ(result.offset, c.offset) << c.name;
        EXPECT_EQ(result.appendedBytes, c.appended) << c.name;
    }
}

TEST(ExplainEndMarker, ProgressiveImagesHaveSeveralScans) {
    const Bytes image = Concat({kSoi,
                                kHeaders,
                                kScanHeader,
                                kScanData,
                                Segment(0xC4, 20),
                                kScanHeader,
                                kScanData,
                                kEoi,
                                {0xAA, 0xBB}});
    const EndMarkerExplanation result = Explain(image);
    EXPECT_EQ(result.kind, Kind::AppendedData);
    EXPECT_EQ(result.appendedBytes, 2u);
    // Cut between the two scans: the image data has begun.
    const Bytes cut = Concat({kSoi, kHeaders, kScanHeader, kScanData, Segment(0xC4, 20)});
    EXPECT_EQ(Explain(cut).kind, Kind::CutShortInImageData);
}

TEST(ExplainEndMarker, SkipsLargeSegmentsBeyondTheBuffer) {
    // A body far larger than the reader's buffer is skipped, not read; the walk still lands on
    // the marker after it.
    const Bytes image = Concat({kSoi,
                                Segment(0xE1, 65000),
                                Segment(0xE2, 65000),
                                Segment(0xE3, 65000),
                                kScanHeader,
                                kScanData,
                                kEoi,
                                {0x01, 0x02, 0x03}});
    const EndMarkerExplanation result = Explain(image);
    EXPECT_EQ(result.kind, Kind::AppendedData);
    EXPECT_EQ(result.appendedBytes, 3u);
}

TEST(ExplainEndMarker, SkipsHolesAndStopsAtItsDataLimit) {
    const Bytes scan = Concat({kSoi, kHeaders, kScanHeader, kScanData});
    const std::uint64_t gib = std::uint64_t{1} << 30;
    const std::uint64_t mib = std::uint64_t{1} << 20;
    const Bytes manyMib(3 * mib, 0x12);
    const struct {
        const char* name;
        Bytes head;              // written at offset 0
        std::uint64_t size;      // the file is extended to this size with a hole
        Bytes tail;              // then written at `size` (after the hole)
        std::uint64_t dataLimit; // 0: the default
        Kind kind;
        std::uint64_t offset;
        std::uint64_t appended;
    } cases[] = {
        {"100 GB, a hole after the image data",
         scan,
         100 * gib,
         {},
         0,
         Kind::CutShortInImageData,
         100 * gib,
         0},
        {"15 TB, a hole after the image data",
         scan,
         15360 * gib,
         {},
         0,
         Kind::CutShortInImageData,
         15360 * gib,
         0},
        {"the end marker after a hole", scan, 10 * gib, Concat({kEoi, {1, 2, 3}}), 0,
         Kind::AppendedData, 10 * gib + 2, 3},
        {"a hole where a marker must stand", kSoi, 10 * gib, {}, 0, Kind::Unrecognised, 3, 0},
        {"more image data than the limit",
         Concat({kSoi, kHeaders, kScanHeader, manyMib}),
         0,
         {},
         mib,
         Kind::Unfinished,
         mib,
         0},
        {"image data exactly the limit",
         scan,
         0,
         {},
         scan.size(),
         Kind::CutShortInImageData,
         scan.size(),
         0},
    };
    for (const auto& c : cases) {
        const TempFile file(c.head);
        if (c.size > 0) {
            if (::ftruncate(file.Fd(), static_cast<off_t>(c.size)) != 0) {
                GTEST_SKIP() << "the temporary folder holds no sparse file of " << c.size;
            }
            ASSERT_EQ(::pwrite(file.Fd(), c.tail.data(), c.tail.size(), static_cast<off_t>(c.size)),
                      static_cast<ssize_t>(c.tail.size()));
        }
        const EndMarkerExplanation result = c.dataLimit
                                                ? vorn::ExplainEndMarker(file.Fd(), c.dataLimit)
                                                : vorn::ExplainEndMarker(file.Fd());
        EXPECT_EQ(result.kind, c.kind) << c.name;
        EXPECT_EQ(result.offset, c.offset) << c.name;
        EXPECT_EQ(result.appendedBytes, c.appended) << c.name;
    }
}

TEST(DescribeEndMarker, OneLineForAPerson) {
    EXPECT_EQ(vorn::Describe({Kind::AppendedData, 100, 12}),
              "image data ends with an end marker followed by 12 more bytes (appended data)");
    EXPECT_EQ(vorn::Describe({Kind::CutShortInHeaders, 40, 0}),
              "cut short in the headers at byte 40");
    EXPECT_EQ(vorn::Describe({Kind::CutShortInImageData, 4096, 0}),
              "cut short in the image data at byte 4096");
    EXPECT_EQ(vorn::Describe({Kind::Unfinished, 4096, 0}),
              "explanation cut short at byte 4096, where its data limit was reached");
}
