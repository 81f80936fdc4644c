#include "core/check/verdict_sentence.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>

#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

FileResult Marker(MarkerVerdict verdict, std::string detail = "", int openError = 0) {
    FileResult result;
    result.verdict = verdict;
    result.detail = std::move(detail);
    result.openError = openError;
    return result;
}

FileResult Picture(DeepVerdict verdict, std::string reason, std::optional<std::uint64_t> offset) {
    FileResult result;
    result.verdict = MarkerVerdict::Normal;
    result.deep = DeepCheckResult{};
    result.deep->verdict = verdict;
    result.deep->reason = std::move(reason);
    result.deep->offset = offset;
    return result;
}

TEST(VerdictSentence, EveryVerdict) {
    struct Row {
        FileResult result;
        const char* sentence;
    };
    const Row rows[] = {
        {Marker(MarkerVerdict::Soi),
         "The file does not start with the start marker FF D8: it is not a JPEG file, or its "
         "start is damaged."},
        {Marker(MarkerVerdict::Eoi, "cut short in the image data at byte 4096"),
         "The file does not end with the end marker FF D9: cut short in the image data at byte "
         "4096."},
        {Marker(MarkerVerdict::OpenError, "", EACCES),
         "The file cannot be opened: there is no permission to read it."},
        {Marker(MarkerVerdict::OpenError, "", EISDIR),
         "The file cannot be opened: it is a folder that cannot be read or entered."},
        {Marker(MarkerVerdict::OpenError, "", EBUSY),
         "The file cannot be opened: it is in use: another program holds it locked for "
         "writing."},
        {Picture(DeepVerdict::Damaged, "zeros from byte 30199 to the end", 30199),
         "The picture is damaged: zeros from byte 30199 to the end; from there on it cannot be "
         "decoded correctly."},
        {Picture(DeepVerdict::Damaged, "image data: premature end of data segment", 5120),
         "The picture is damaged: image data: premature end of data segment (at byte 5120); from "
         "there on it cannot be decoded correctly."},
        {Picture(DeepVerdict::Sound, "followed by padding (64 bytes)", 900),
         "The picture decodes without a fault; it is followed by padding (64 bytes) (at byte "
         "900), which is not damage."},
        {Picture(DeepVerdict::Unverified, "too large to verify: 64250 × 64250 declared", {}),
         "The picture was not verified: too large to verify: 64250 × 64250 declared."},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(VerdictSentence(row.result), row.sentence);
    }
}

// The check keeps why a file could not be opened, for the sentence.
TEST(VerdictSentence, OpenErrorsSayWhy) {
    TempTree tree;
    const std::string folder = tree.Folder("album.jpg");
    const std::string pipe = tree.Path("pipe.jpg");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::pair<std::string, int> rows[] = {
        {folder, EISDIR}, {pipe, ENXIO}, {tree.Path("missing.jpg"), ENOENT}};
    for (const auto& [path, error] : rows) {
        int openError = 0;
        MarkerCheckOptions options;
        options.openError = &openError;
        EXPECT_EQ(CheckMarkers(path, options), MarkerVerdict::OpenError) << path;
        EXPECT_EQ(openError, error) << path;
    }
}

} // namespace
} // namespace vorn
