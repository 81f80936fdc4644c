#include "core/check/picture_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "core/check/deep_check.h"
#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Intact(const std::string& stem) {
    return (fs::path(std::getenv("VORN_TEST_DATA")) / "jpeg" / (stem + ".jpg")).string();
}
std::string Variant(const std::string& name) {
    return (fs::path(VORN_DAMAGE_SUITE) / (name + ".jpg")).string();
}

std::vector<std::uint8_t> Bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every file the window may be asked to show: what it decodes, and why not when it does not;
// the memory it held is given back.
TEST(PictureFile, ShowsWhatDecodesAndSaysWhyNot) {
    const TempTree tree;
    const std::string folder = tree.Folder("folder.jpg");
    const std::string large = tree.Write("large.jpg", std::string(5000, '\xFF'));
    struct Row {
        std::string path;
        std::uint64_t maxFileBytes;
        bool decoded;
        std::string reasonStart;
    };
    const Row rows[] = {
        {Intact("baseline"), 256u << 20, true, ""},
        {Intact("progressive"), 256u << 20, true, ""},
        {Variant("baseline-zeroed-tail"), 256u << 20, true, "zeros from byte "},
        {Variant("hostile-huge-declared"), 256u << 20, false,
         "too large to verify: 64250 × 64250 declared"},
        {tree.Path("missing.jpg"), 256u << 20, false, "cannot be opened"},
        {folder, 256u << 20, false, "not a regular file"},
        {large, 4096, false, "too large to verify: a file of 5000 bytes"},
    };
    for (const Row& row : rows) {
        MemoryBudget budget(std::uint64_t{1} << 30);
        DeepCheckLimits limits;
        limits.maxFileBytes = row.maxFileBytes;
        const std::atomic<bool> cancel{false};
        const PictureFile file = DecodePictureFile(row.path, 320, 200, budget, cancel, {}, limits);
        EXPECT_FALSE(file.cancelled) << row.path;
        EXPECT_EQ(file.picture.width > 0, row.decoded) << row.path;
        EXPECT_TRUE(file.reason.starts_with(row.reasonStart)) << row.path << ": " << file.reason;
        EXPECT_EQ(file.reason.empty(), row.reasonStart.empty()) << row.path << ": " << file.reason;
        if (row.decoded) {
            EXPECT_EQ(file.picture.width, 320u) << row.path;
            EXPECT_GT(budget.Peak(), fs::file_size(row.path) + file.picture.rgb.size()) << row.path;
        }
        EXPECT_TRUE(budget.TryAcquire(budget.Total())) << row.path;
    }
}

// A progressive picture's decoder holds its coefficients at full size, whatever the scale it
// is shown at, also when damage stopped the walk before it saw the later scans.
TEST(PictureFile, TheMemoryNeededCountsCoefficientsAndPixels) {
    const DeepCheckLimits limits;
    const JpegStructure baseline = WalkJpegStructure(Bytes(Intact("baseline")), limits);
    const JpegStructure progressive = WalkJpegStructure(Bytes(Intact("progressive")), limits);
    ASSERT_EQ(baseline.width, progressive.width);
    const std::uint64_t coefficients = progressive.frameBlocks * 128;
    EXPECT_GE(PictureDecodeMemory(progressive, 80, 50, limits) -
                  PictureDecodeMemory(baseline, 80, 50, limits),
              coefficients);
    // Cut short inside its first scan.
    std::vector<std::uint8_t> bytes = Bytes(Intact("progressive"));
    const std::uint8_t startOfScan[] = {0xFF, 0xDA};
    bytes.resize(static_cast<std::size_t>(
        std::search(bytes.begin(), bytes.end(), std::begin(startOfScan), std::end(startOfScan)) -
        bytes.begin() + 200));
    const JpegStructure cut = WalkJpegStructure(bytes, limits);
    ASSERT_TRUE(cut.fault);
    ASSERT_LE(cut.scans, 1u);
    EXPECT_GE(PictureDecodeMemory(cut, 80, 50, limits), coefficients);
}

// A decode that needs more than the whole budget says so at once, without waiting or decoding:
// only the file's bytes were held, to read the headers.
TEST(PictureFile, APictureBeyondTheWholeBudgetIsNotDecoded) {
    MemoryBudget budget(fs::file_size(Intact("progressive")) + 1000);
    const std::atomic<bool> cancel{false};
    const PictureFile file =
        DecodePictureFile(Intact("progressive"), 320, 200, budget, cancel, [] { FAIL(); });
    EXPECT_EQ(file.picture.width, 0u);
    EXPECT_TRUE(file.reason.starts_with("too large to verify: needs ")) << file.reason;
    EXPECT_NE(file.reason.find(" of memory, more than the budget of "), std::string::npos);
    EXPECT_LE(budget.Peak(), fs::file_size(Intact("progressive")));
}

// A decode that does not fit beside what other checks hold waits until they give it back, or
// until it is called off; either way it never holds more than the budget.
TEST(PictureFile, WaitsForMemoryHeldElsewhere) {
    for (const bool cancelled : {false, true}) {
        MemoryBudget budget(64u << 20);
        MemoryBudget::Hold other = budget.Acquire(budget.Total() - 1000);
        std::atomic<bool> cancel{false};
        std::promise<void> waited;
        std::once_flag once;
        auto decode = std::async(std::launch::async, [&] {
            return DecodePictureFile(Intact("baseline"), 320, 200, budget, cancel,
                                     [&] { std::call_once(once, [&] { waited.set_value(); }); });
        });
        ASSERT_EQ(waited.get_future().wait_for(10s), std::future_status::ready) << cancelled;
        EXPECT_EQ(decode.wait_for(50ms), std::future_status::timeout) << cancelled;
        if (cancelled) {
            cancel = true;
            budget.WakeWaiters();
        } else {
            other.Release();
        }
        ASSERT_EQ(decode.wait_for(10s), std::future_status::ready) << cancelled;
        const PictureFile file = decode.get();
        EXPECT_EQ(file.cancelled, cancelled);
        EXPECT_EQ(file.picture.width, cancelled ? 0u : 320u);
        EXPECT_EQ(other.Bytes(), cancelled ? budget.Total() - 1000 : 0u);
        EXPECT_LE(budget.Peak(), budget.Total());
    }
}

} // namespace
} // namespace vorn
