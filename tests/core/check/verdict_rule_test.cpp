#include "core/check/verdict_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vorn {
namespace {

DeepCheckResult Deep(DeepVerdict verdict, std::string reason,
                     TrailerKind trailer = TrailerKind::None) {
    DeepCheckResult result;
    result.verdict = verdict;
    result.reason = std::move(reason);
    result.trailer = trailer;
    return result;
}

TEST(VerdictRule, PassFailAndShortText) {
    struct Row {
        const char* name;
        MarkerVerdict marker;
        std::optional<DeepCheckResult> deep; // the picture check, when it was made
        bool sound;
        const char* text;
    };
    const Row rows[] = {
        {"markers in place", MarkerVerdict::Normal, std::nullopt, true, ""},
        {"no start marker", MarkerVerdict::Soi, std::nullopt, false, "SOI"},
        {"no end marker", MarkerVerdict::Eoi, std::nullopt, false, "EOI"},
        {"not opened", MarkerVerdict::OpenError, std::nullopt, false, "File open error"},
        {"sound picture", MarkerVerdict::Normal, Deep(DeepVerdict::Sound, ""), true, ""},
        {"motion photo", MarkerVerdict::Eoi,
         Deep(DeepVerdict::Sound, "followed by a motion-photo video (900 bytes)",
              TrailerKind::Video),
         true, "followed by a motion-photo video (900 bytes)"},
        {"padding", MarkerVerdict::Eoi,
         Deep(DeepVerdict::Sound, "followed by padding (64 bytes)", TrailerKind::Padding), true,
         "followed by padding (64 bytes)"},
        {"zeroed block, markers intact", MarkerVerdict::Normal,
         Deep(DeepVerdict::Damaged, "bad Huffman table at byte 180"), false,
         "bad Huffman table at byte 180"},
        {"zeroed tail", MarkerVerdict::Eoi,
         Deep(DeepVerdict::Damaged, "zeros from byte 30199 to the end"), false,
         "zeros from byte 30199 to the end"},
        {"hostile", MarkerVerdict::Normal,
         Deep(DeepVerdict::Unverified, "too large to verify: 64250 × 64250 declared"), false,
         "too large to verify: 64250 × 64250 declared"},
        {"read error", MarkerVerdict::Normal, Deep(DeepVerdict::Unreadable, "read error"), false,
         "read error"},
        {"not opened, picture unread", MarkerVerdict::OpenError, Deep(DeepVerdict::Unreadable, ""),
         false, "File open error"},
    };
    for (const Row& row : rows) {
        const DeepCheckResult* deep = row.deep ? &*row.deep : nullptr;
        EXPECT_EQ(CountsAsSound(row.marker, deep), row.sound) << row.name;
        EXPECT_EQ(VerdictShortText(row.marker, deep), row.text) << row.name;
    }
}

} // namespace
} // namespace vorn
