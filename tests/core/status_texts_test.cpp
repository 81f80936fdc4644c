#include "core/program/status_texts.h"

#include <gtest/gtest.h>

#include <clocale>

namespace vorn {
namespace {

TEST(StatusTexts, PanelTexts) {
    struct Row {
        std::size_t rows;
        StateCounts counts;
        std::array<std::string, 4> expected;
    };
    const Row table[] = {
        {0, {}, {"0 Files", "U: 0", "C: 0", "E: 0"}},
        {1, {1, 0, 0}, {"1 Files", "U: 1", "C: 0", "E: 0"}},
        {5, {2, 1, 2}, {"5 Files", "U: 2", "C: 1", "E: 2"}},
        {1234567, {1000000, 234567, 0}, {"1234567 Files", "U: 1000000", "C: 234567", "E: 0"}},
    };
    // A locale that groups digits must not show through.
    std::setlocale(LC_ALL, "en_US.UTF-8");
    for (const Row& row : table) {
        EXPECT_EQ(StatusTexts(row.rows, row.counts), row.expected);
    }
    std::setlocale(LC_ALL, "C");
}

} // namespace
} // namespace vorn
