#include "core/report/report_format.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(JsonString, EscapesWhatJsonNeedsAndKeepsEveryByteRecoverable) {
    const struct {
        std::string bytes;
        std::string json;
    } cases[] = {
        {"plain.jpg", R"("plain.jpg")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"tab\there\nline", R"("tab\there\nline")"},
        {std::string("nul\0x", 5), R"("nul\u0000x")"},
        {"\x7f", R"("\u007f")"},
        {"写真.jpg", "\"写真.jpg\""},
        {"bad\xff\xfe.jpg", R"("bad\udcff\udcfe.jpg")"},
        {"cut\xe5\x86", R"("cut\udce5\udc86")"},               // a sequence cut short
        {"\xc0\xaf", R"("\udcc0\udcaf")"},                     // an overlong form of "/"
        {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},           // an encoded surrogate
        {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"}, // beyond U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonString(c.bytes), c.json) << c.bytes;
    }
}

TEST(EscapeForReport, EveryControlByteAndTheBackslashAreEscaped) {
    const struct {
        std::string bytes;
        std::string written;
    } cases[] = {
        {"plain.jpg", "plain.jpg"},
        {"c\nOK\tforged.jpg", R"(c\nOK\tforged.jpg)"},
        {"a\\b\rc", R"(a\\b\rc)"},
        {std::string("nul\0x", 5), R"(nul\x00x)"},
        {"\x1b]0;title\x07\x1b[31m", R"(\x1b]0;title\x07\x1b[31m)"},
        {"del\x7f", R"(del\x7f)"},
        {"写真.jpg", "写真.jpg"},
        // C1 controls in a UTF-8 name (U+009B is a terminal's one-byte escape); U+00A0 and
        // U+0100 are no controls.
        {"a\xc2\x9b"
         "31m\xc2\x80",
         R"(a\xc2\x9b31m\xc2\x80)"},
        {"\xc2\xa0\xc4\x80", "\xc2\xa0\xc4\x80"},
        // In a name that is not UTF-8 the same bytes are parts of other characters.
        {"\xff\xc2\x9b", "\xff\xc2\x9b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeForReport(c.bytes), c.written) << c.bytes;
        // One file, one line, two columns.
        const std::string line = ReportLine(MarkerVerdict::Normal, c.bytes, "", false);
        EXPECT_EQ(line, "OK\t" + c.written + "\n");
    }
    // The JSON report keeps the exact name.
    EXPECT_EQ(ReportLine(MarkerVerdict::Normal, "a\tb", "", true),
              R"({"type":"file","verdict":"OK","path":"a\tb"})"
              "\n");
}

TEST(ReportLine, TabSeparatedOrJson) {
    EXPECT_EQ(ReportLine(MarkerVerdict::Normal, "/p/a.jpg", "", false), "OK\t/p/a.jpg\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::Soi, "/p/a.jpg", "", false), "SOI\t/p/a.jpg\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::OpenError, "x.jpg", "", false), "File open error\tx.jpg\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::Eoi, "x.jpg", "why", false), "EOI\tx.jpg\twhy\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::Eoi, "x.jpg", "why", true),
              R"({"type":"file","verdict":"EOI","path":"x.jpg","explanation":"why"})"
              "\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::Normal, "x.jpg", "", true),
              R"({"type":"file","verdict":"OK","path":"x.jpg"})"
              "\n");
}

TEST(ReportLine, DeepVerdictFollowsThePath) {
    DeepCheckResult cut;
    cut.verdict = DeepVerdict::Damaged;
    cut.reason = "cut short at byte 9";
    cut.offset = 9;
    DeepCheckResult video;
    video.verdict = DeepVerdict::Sound;
    video.reason = "followed by a motion-photo video (5 bytes)";
    video.trailer = TrailerKind::Video;
    EXPECT_EQ(ReportLine(MarkerVerdict::Eoi, "x.jpg", "why", false, &cut),
              "EOI\tx.jpg\tdamaged\tcut short at byte 9\twhy\n");
    const DeepCheckResult unread;
    EXPECT_EQ(ReportLine(MarkerVerdict::OpenError, "x.jpg", "", false, &unread),
              "File open error\tx.jpg\tunreadable\t\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::Eoi, "x.jpg", "", true, &cut),
              R"({"type":"file","verdict":"EOI","path":"x.jpg","deep_verdict":"damaged",)"
              R"("deep_reason":"cut short at byte 9","deep_offset":9,"trailer":"none"})"
              "\n");
    EXPECT_EQ(ReportLine(MarkerVerdict::Eoi, "x.jpg", "", true, &video),
              R"({"type":"file","verdict":"EOI","path":"x.jpg","deep_verdict":"sound",)"
              R"x("deep_reason":"followed by a motion-photo video (5 bytes)",)x"
              R"("deep_offset":null,"trailer":"video"})"
              "\n");
}

TEST(SummaryLine, CountsLikeTheStatusBar) {
    EXPECT_EQ(SummaryLine(3, 1, 2, false), "3 Files\tC: 1\tE: 2\n");
    EXPECT_EQ(SummaryLine(0, 0, 0, true), R"({"type":"summary","files":0,"sound":0,"failed":0})"
                                          "\n");
}

} // namespace
} // namespace vorn
