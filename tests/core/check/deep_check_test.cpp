#include "core/check/deep_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/walk/check_ahead.h"
#include "tests/support/temp_tree.h"

#include <cstdio>
#include <jpeglib.h>

namespace vorn {
namespace {

namespace fs = std::filesystem;

const char* const kOriginals[] = {"baseline", "progressive", "grey", "cmyk", "restart"};

fs::path Intact(const std::string& stem) {
    return fs::path(std::getenv("VORN_TEST_DATA")) / "jpeg" / (stem + ".jpg");
}
fs::path Variant(const std::string& name) {
    return fs::path(VORN_DAMAGE_SUITE) / (name + ".jpg");
}

void ExpectResult(const fs::path& file, DeepVerdict verdict, const std::string& reasonStart) {
    const DeepCheckResult result = DeepCheckFile(file.string());
    EXPECT_EQ(DeepVerdictWord(result.verdict), DeepVerdictWord(verdict)) << file;
    EXPECT_TRUE(result.reason.starts_with(reasonStart)) << file << ": " << result.reason;
}

TEST(DeepCheck, IntactFilesAreSound) {
    for (const char* stem : kOriginals) {
        const DeepCheckResult result = DeepCheckFile(Intact(stem).string());
        EXPECT_EQ(result.verdict, DeepVerdict::Sound) << stem << ": " << result.reason;
        EXPECT_EQ(result.reason, "") << stem;
        EXPECT_EQ(result.trailer, TrailerKind::None) << stem;
        EXPECT_EQ(result.scans, std::string(stem) == "progressive" ? 10u : 1u) << stem;
    }
}

// Every kind of damage, made from every intact file; where one file's structure finds the
// damage before the decoder does, its own row says so.
TEST(DeepCheck, DamageSuite) {
    struct Row {
        const char* kind;
        DeepVerdict verdict;
        const char* reason;
    };
    const Row rows[] = {
        {"truncated", DeepVerdict::Damaged, "cut short at byte "},
        {"zeroed-tail", DeepVerdict::Damaged, "zeros from byte "},
        {"bad-start", DeepVerdict::Damaged, "no start marker"},
        {"zeros-inside", DeepVerdict::Damaged, "image data: premature end of data segment"},
        {"chunk-dropped", DeepVerdict::Damaged, "image data: premature end of data segment"},
        {"huffman-counts", DeepVerdict::Damaged, "bad Huffman table at byte "},
        {"huffman-symbols", DeepVerdict::Damaged, "bad Huffman table at byte "},
        {"frame-components", DeepVerdict::Damaged, "bad frame header at byte "},
        {"frame-size", DeepVerdict::Damaged, "image data: premature end of data segment"},
        {"trailer-video", DeepVerdict::Sound, "followed by a motion-photo video (20032 bytes)"},
        {"trailer-tagged-video", DeepVerdict::Sound, "followed by a motion-photo video"},
        {"trailer-padding", DeepVerdict::Sound, "followed by padding (4096 bytes)"},
        {"trailer-vendor", DeepVerdict::Sound, "followed by unrecognised data (2056 bytes)"},
        {"trailer-jpeg", DeepVerdict::Sound, "followed by another JPEG picture"},
    };
    const Row restartRows[] = {
        {"zeros-inside", DeepVerdict::Damaged, "restart marker out of sequence at byte "},
        {"chunk-dropped", DeepVerdict::Damaged, "restart marker out of sequence at byte "},
        {"frame-size", DeepVerdict::Damaged,
         "9 restart markers in the image data at byte 629, "
         "1020 due"},
    };
    for (const char* stem : kOriginals) {
        for (const Row& row : rows) {
            const std::string name = std::string(stem) + "-" + row.kind;
            const Row* own = &row;
            if (std::string(stem) == "restart") {
                for (const Row& special : restartRows) {
                    if (std::string(special.kind) == row.kind) {
                        own = &special;
                    }
                }
            }
            ExpectResult(Variant(name), own->verdict, own->reason);
        }
    }
}

TEST(DeepCheck, BitFlipsTheDecoderMeets) {
    ExpectResult(Variant("progressive-bit-flip-1"), DeepVerdict::Damaged,
                 "image data: premature end of data segment");
    ExpectResult(Variant("cmyk-bit-flip-3"), DeepVerdict::Damaged,
                 "image data: 45 extraneous bytes before marker 0xd9");
}

TEST(DeepCheck, WhereTheFaultAndTheTrailerStand) {
    const DeepCheckResult cut = DeepCheckFile(Variant("grey-truncated").string());
    EXPECT_EQ(cut.offset, fs::file_size(Variant("grey-truncated")));
    const DeepCheckResult video = DeepCheckFile(Variant("grey-trailer-video").string());
    EXPECT_EQ(video.offset, fs::file_size(Intact("grey")));
    EXPECT_EQ(video.trailer, TrailerKind::Video);
    EXPECT_EQ(video.trailerBytes, 20032u);
    const DeepCheckResult second = DeepCheckFile(Variant("grey-trailer-jpeg").string());
    EXPECT_EQ(second.trailer, TrailerKind::Jpeg);
}

TEST(DeepCheck, HostileFilesMeetACeiling) {
    ExpectResult(Variant("hostile-huge-declared"), DeepVerdict::Unverified,
                 "too large to verify: 64250 × 64250 declared");
    ExpectResult(Variant("hostile-many-scans"), DeepVerdict::Unverified,
                 "too large to verify: 50000 scans");
    // Within the ceilings on size and scans, yet 883 passes over 1.5 million blocks: refused
    // from its headers, before any decoding.
    ExpectResult(Variant("hostile-much-work"), DeepVerdict::Unverified, "too much work to verify");
}

TEST(DeepCheck, CeilingsCanBeLowered) {
    struct Row {
        const char* stem;
        DeepCheckLimits limits;
        const char* reason;
    };
    const Row rows[] = {
        {"grey", {.maxPixels = 480 * 300 - 1}, "too large to verify: 480 × 300 declared"},
        {"progressive", {.maxScans = 9}, "too large to verify: 10 scans"},
        {"progressive", {.maxScanBlocks = 1}, "too much work to verify"},
        {"progressive",
         {.maxMemory = 256 << 10},
         "too large to verify: needs more than 256 KB of memory"},
        {"grey", {.maxFileBytes = 1000}, "too large to verify: a file of 18203 bytes"},
    };
    for (const Row& row : rows) {
        const DeepCheckResult result = DeepCheckFile(Intact(row.stem).string(), row.limits);
        EXPECT_EQ(result.verdict, DeepVerdict::Unverified) << row.reason;
        EXPECT_EQ(result.reason, row.reason);
    }
    // A file that is not a JPEG file is damaged at its start, whatever its size.
    DeepCheckLimits small;
    small.maxFileBytes = 1;
    EXPECT_EQ(DeepCheckFile(Variant("grey-bad-start").string(), small).reason, "no start marker");
}

TEST(DeepCheck, WhatIsNotARegularFileIsUnreadable) {
    const TempTree tree;
    const fs::path folder = tree.Root();
    const std::string fifo = (folder / "pipe.jpg").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string paths[] = {fifo, (folder / "missing.jpg").string(), folder.string(),
                                 std::string("a\0b.jpg", 7)};
    for (const std::string& path : paths) {
        EXPECT_EQ(DeepCheckFile(path).verdict, DeepVerdict::Unreadable) << path;
    }
}

// Bytes of a sound file's headers changed, one rule at a time.
TEST(DeepCheck, HeaderRules) {
    std::ifstream in(Intact("cmyk"), std::ios::binary);
    const std::vector<std::uint8_t> intact{std::istreambuf_iterator<char>(in), {}};
    const auto find = [&](std::uint8_t marker) {
        const std::uint8_t pattern[] = {0xFF, marker};
        return static_cast<std::size_t>(
            std::search(intact.begin(), intact.end(), pattern, pattern + 2) - intact.begin());
    };
    struct Row {
        std::size_t at;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    const std::size_t sos = find(0xDA);
    const std::size_t dqt = find(0xDB);
    const Row rows[] = {
        // The scan's second component is its first again.
        {sos + 7, {intact[sos + 5]}, "bad scan header at byte "},
        {dqt + 4, {0x05}, "bad quantisation table at byte "},
        // An APP14 segment becomes one of the reserved markers.
        {find(0xEE) + 1, {0x13}, "refused by the decoder: unsupported marker type 0x13"},
        // The frame names a quantisation table that is never defined.
        {find(0xC0) + 12, {0x03}, "refused by the decoder: quantization table 0x03 was not"},
    };
    for (const Row& row : rows) {
        std::vector<std::uint8_t> bytes = intact;
        std::copy(row.bytes.begin(), row.bytes.end(), bytes.begin() + row.at);
        const DeepCheckResult result = DeepCheckBytes(bytes);
        EXPECT_EQ(result.verdict, DeepVerdict::Damaged) << row.reason;
        EXPECT_TRUE(result.reason.starts_with(row.reason)) << result.reason;
    }
}

// A restart marker is due after every restart interval but the last; one more right at the end of
// the image data is passed over, as decoders do.
TEST(DeepCheck, RestartMarkersInNumber) {
    std::ifstream in(Intact("restart"), std::ios::binary);
    const std::vector<std::uint8_t> intact{std::istreambuf_iterator<char>(in), {}};
    struct Row {
        std::vector<std::uint8_t> beforeEnd;
        DeepVerdict verdict;
    };
    // 570 MCUs, 60 to an interval: nine markers, RST0 to RST0 again; the next one is RST1.
    const Row rows[] = {
        {{0xFF, 0xD1}, DeepVerdict::Sound},
        {{0xFF, 0xD1, 0xFF, 0xD2}, DeepVerdict::Damaged},
        {{0xFF, 0xD2}, DeepVerdict::Damaged},
    };
    for (const Row& row : rows) {
        std::vector<std::uint8_t> bytes = intact;
        bytes.insert(bytes.end() - 2, row.beforeEnd.begin(), row.beforeEnd.end());
        const DeepCheckResult result = DeepCheckBytes(bytes);
        EXPECT_EQ(result.verdict, row.verdict) << row.beforeEnd.size() << ": " << result.reason;
    }
}

// Every prefix of an intact file is damaged, never sound and never a crash.
TEST(DeepCheck, EveryCutIsDamage) {
    std::ifstream in(Intact("progressive"), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    for (std::size_t size = 0; size + 2 < bytes.size(); size += 97) {
        const DeepCheckResult result = DeepCheckBytes(std::span(bytes).first(size));
        EXPECT_EQ(result.verdict, DeepVerdict::Damaged) << size;
    }
}

// Pictures made with the system's encoder, 4:4:4, of a smooth gradient.
std::vector<std::uint8_t> Encode(unsigned width, unsigned height, bool progressive,
                                 bool arithmetic) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    for (int c = 0; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    cinfo.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t{width} * 3);
    while (cinfo.next_scanline < height) {
        for (std::size_t x = 0; x < row.size(); ++x) {
            row[x] = static_cast<JSAMPLE>((x / 3 + cinfo.next_scanline) & 0xFF);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    jpeg_destroy_compress(&cinfo);
    return bytes;
}

// Sets the table selectors of the scans that `chosen(Ss, Ah)` picks: the DC table to `dc` and the
// AC table to `ac`, where either is given.
void SetScanTables(std::vector<std::uint8_t>& bytes, bool (*chosen)(unsigned ss, unsigned ah),
                   int dc, int ac) {
    std::size_t pos = 2;
    while (pos + 4 <= bytes.size() && bytes[pos + 1] != 0xD9) {
        const std::size_t length = std::size_t{bytes[pos + 2]} << 8 | bytes[pos + 3];
        const std::size_t body = pos + 4;
        pos += 2 + length;
        if (bytes[body - 3] != 0xDA) {
            continue;
        }
        const std::size_t count = bytes[body];
        const unsigned ss = bytes[body + 1 + 2 * count];
        const unsigned ah = bytes[body + 3 + 2 * count] >> 4;
        for (std::size_t i = 0; chosen(ss, ah) && i < count; ++i) {
            std::uint8_t& tables = bytes[body + 2 + 2 * i];
            tables = static_cast<std::uint8_t>((dc >= 0 ? dc : tables >> 4) << 4 |
                                               (ac >= 0 ? ac : tables & 15));
        }
        while (!(bytes[pos] == 0xFF && bytes[pos + 1] != 0 && (bytes[pos + 1] & 0xF8) != 0xD0)) {
            ++pos;
        }
    }
}

// A grey 16 × 8 lossless picture of one value, predictor 1: every difference is 0, one bit each.
std::vector<std::uint8_t> Lossless() {
    std::vector<std::uint8_t> bytes = {
        0xFF, 0xD8,                                                                   // start
        0xFF, 0xC3, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x10, 0x01, 0x01, 0x11, 0x00, // frame
        0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0xFF, 0xDA, 0x00, 0x08,
        0x01, 0x01, 0x00, 0x01, 0x00, 0x00, // scan, Ss = predictor 1
    };
    bytes.insert(bytes.end(), 16 * 8 / 8, 0x00);
    bytes.insert(bytes.end(), {0xFF, 0xD9});
    return bytes;
}

// What a decoder takes is not refused: the scan rules of the coding the frame declares, tables
// named only where the scan decodes with them, and the memory a large progressive picture needs.
// What a decoder refuses stays refused.
TEST(DeepCheck, WhatADecoderTakesIsNotRefused) {
    constexpr auto kAny = [](unsigned, unsigned) {
        return true;
    };
    constexpr auto kDcRefinement = [](unsigned ss, unsigned ah) {
        return ss == 0 && ah > 0;
    };
    constexpr auto kAc = [](unsigned ss, unsigned) {
        return ss > 0;
    };
    struct Row {
        const char* name;
        std::vector<std::uint8_t> bytes;
        DeepVerdict verdict;
        const char* reason;
    };
    const std::vector<std::uint8_t> progressive = Encode(64, 48, true, false);
    const auto edited = [](std::vector<std::uint8_t> bytes, bool (*chosen)(unsigned, unsigned),
                           int dc, int ac) {
        SetScanTables(bytes, chosen, dc, ac);
        return bytes;
    };
    const Row rows[] = {
        {"lossless", Lossless(), DeepVerdict::Unverified, "cannot verify: lossless coding"},
        {"DC refinement naming DC table 15", edited(progressive, kDcRefinement, 15, -1),
         DeepVerdict::Sound, ""},
        {"AC scans naming DC table 15", edited(progressive, kAc, 15, -1), DeepVerdict::Sound, ""},
        {"arithmetic scans naming tables 5 and 9", edited(Encode(64, 48, false, true), kAny, 5, 9),
         DeepVerdict::Sound, ""},
        {"AC scans naming AC table 4", edited(progressive, kAc, -1, 4), DeepVerdict::Damaged,
         "bad scan header at byte "},
        {"sequential naming DC table 4", edited(Encode(64, 48, false, false), kAny, 4, -1),
         DeepVerdict::Damaged, "bad scan header at byte "},
        {"48 megapixels, progressive 4:4:4", Encode(8000, 6000, true, false), DeepVerdict::Sound,
         ""},
    };
    for (const Row& row : rows) {
        const DeepCheckResult result = DeepCheckBytes(row.bytes);
        EXPECT_EQ(DeepVerdictWord(result.verdict), DeepVerdictWord(row.verdict))
            << row.name << ": " << result.reason;
        EXPECT_TRUE(result.reason.starts_with(row.reason)) << row.name << ": " << result.reason;
    }
}

} // namespace
} // namespace vorn

namespace vorn {
namespace {

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The bytes this process has read through read and pread, page cache or not.
std::uint64_t BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

// More pictures in flight than the budget holds at once (four threads, a budget for one and a
// half of them): every file is still checked, with its own verdict, in the order it was added;
// a picture that needs more than the whole budget is unverified and says so, without waiting.
TEST(DeepCheck, PicturesInFlightShareOneBudget) {
    MemoryBudget roomy(std::uint64_t{1} << 30);
    ASSERT_EQ(DeepCheckFile(Intact("progressive").string(), {}, roomy).verdict, DeepVerdict::Sound);
    const std::uint64_t one = roomy.Peak();
    ASSERT_GT(one, fs::file_size(Intact("progressive")));

    const TempTree tree;
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) {
        const char* stem = i % 3 == 2 ? "baseline" : "progressive";
        paths.push_back(tree.Write("f" + std::to_string(i) + ".jpg", Contents(Intact(stem))));
    }
    paths.push_back(tree.Write("cut.jpg", Contents(Variant("progressive-truncated"))));
    MemoryBudget budget(one + one / 2);
    CheckAhead ahead([&](const std::string& path,
                         FileResult& result) { result.deep = DeepCheckFile(path, {}, budget); },
                     4, 8);
    std::size_t added = 0;
    for (; added < ahead.Window(); ++added) {
        ahead.Add(paths[added]);
    }
    for (std::size_t taken = 0; taken < paths.size(); ++taken) {
        const FileResult result = ahead.Next();
        if (added < paths.size()) {
            ahead.Add(paths[added++]);
        }
        ASSERT_TRUE(result.deep);
        if (taken + 1 == paths.size()) {
            EXPECT_EQ(result.deep->verdict, DeepVerdict::Damaged);
            continue;
        }
        EXPECT_EQ(result.deep->verdict, DeepVerdict::Sound) << taken << ": " << result.deep->reason;
        EXPECT_EQ(result.deep->scans, taken % 3 == 2 ? 1u : 10u) << taken;
    }
    EXPECT_LE(budget.Peak(), budget.Total());

    MemoryBudget small(one - 1);
    const DeepCheckResult over = DeepCheckFile(Intact("progressive").string(), {}, small);
    EXPECT_EQ(over.verdict, DeepVerdict::Unverified);
    EXPECT_TRUE(over.reason.starts_with("too large to verify: needs ")) << over.reason;
    EXPECT_NE(over.reason.find(" of memory, more than the budget of "), std::string::npos)
        << over.reason;
}

// Of what follows the picture, only what tells its class is read and nothing of it is held:
// a hole is not read at all, written padding is read but not kept, a video is known from its
// first bytes.
TEST(DeepCheck, WhatFollowsThePictureIsNotHeld) {
    const std::string picture = Contents(Intact("grey"));
    const TempTree tree;
    struct Row {
        const char* name;
        std::string appended; // written after the picture
        std::uint64_t holeTo; // then the file is extended to this size with a hole, when larger
        TrailerKind kind;
        std::uint64_t mostRead; // bytes the check may read beyond the picture, twice
    };
    const std::string video = Contents(Variant("grey-trailer-video")).substr(picture.size());
    const Row rows[] = {
        {"hole.jpg", "", std::uint64_t{256} << 20, TrailerKind::Padding, 256u << 10},
        {"written.jpg", std::string(8u << 20, '\0'), 0, TrailerKind::Padding, 9u << 20},
        {"fill-then-hole.jpg", std::string(100, '\xFF'), 64u << 20, TrailerKind::Other, 256u << 10},
        {"video.jpg", video + std::string(8u << 20, 'v'), 0, TrailerKind::Video, 256u << 10},
    };
    for (const Row& row : rows) {
        const std::string path = tree.Write(row.name, picture + row.appended);
        if (row.holeTo > 0) {
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(row.holeTo)), 0);
        }
        MemoryBudget budget(std::uint64_t{1} << 30);
        const std::uint64_t before = BytesReadSoFar();
        const DeepCheckResult result = DeepCheckFile(path, {}, budget);
        const std::uint64_t read = BytesReadSoFar() - before;
        EXPECT_EQ(result.verdict, DeepVerdict::Sound) << row.name << ": " << result.reason;
        EXPECT_EQ(result.trailer, row.kind) << row.name;
        EXPECT_EQ(result.trailerBytes, fs::file_size(path) - picture.size()) << row.name;
        EXPECT_LE(read, picture.size() * 2 + row.mostRead) << row.name;
        EXPECT_LE(budget.Peak(), picture.size() + (4u << 20)) << row.name;
    }
}

} // namespace
} // namespace vorn
