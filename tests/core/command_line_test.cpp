#include "core/program/window_command_line.h"

#include "core/paths/path_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

using Parameters = std::vector<std::string>;

struct SplitCase {
    std::string afterProgram; // the line after "vorn.exe "
    Parameters expected;
};

const SplitCase kSplitCases[] = {
    {"a.jpg   b.jpg", {"a.jpg", "b.jpg"}},
    {"a.jpg\tb.jpg", {"a.jpg", "b.jpg"}},
    {"\"C:\\My Files\\b.jpg\"", {"C:\\My Files\\b.jpg"}},
    {"C:\\My\" \"Files\\b.jpg", {"C:\\My Files\\b.jpg"}},
    {"a\"b c\"d e", {"ab cd", "e"}},
    {"\"\" x.jpg", {"x.jpg"}},
    {"x.jpg \"\"", {"x.jpg"}},
    {"\"\"\"\" x.jpg", {"x.jpg"}},
    {"\"a\"\"b\"", {"ab"}},
    {"\"C:\\dir\\\" next", {"C:\\dir\\", "next"}},
    {"\"abc def", {"abc def"}},
    {"x.jpg \"", {"x.jpg"}},
    {"\"   \"", {"   "}},
    {"", {}},
    // Further cases of the same rules.
    {"   ", {}},
    {"\"\"", {}},
    {"\"\"x.jpg", {"x.jpg"}},
    {"\x01x\x1Fy\x7Fz", {"x", "y\x7Fz"}}, // every control byte is a blank but DEL
    {"\xE5\x86\x99\xE7\x9C\x9F.jpg", {"\xE5\x86\x99\xE7\x9C\x9F.jpg"}}, // high bytes are ordinary
    {"\x81\x5C.jpg\xA0x", {"\x81\x5C.jpg\xA0x"}}, // Shift-JIS and 0xA0 bytes too
    {"a\\\"b c\"", {"a\\b c"}},                   // a backslash escapes nothing
    {"-a /a -A", {"-a", "/a", "-A"}},
    {"*.jpg", {"*.jpg"}},
    {std::string("x.jpg\0y.jpg", 11), {"x.jpg"}}, // the line ends at a zero byte
};

TEST(CommandLine, SplitsByTheRules) {
    for (const SplitCase& test : kSplitCases) {
        const std::string line = "vorn.exe " + test.afterProgram;
        SCOPED_TRACE(line);
        ASSERT_EQ(ParameterCount(line), test.expected.size());
        for (std::size_t i = 0; i < test.expected.size(); ++i) {
            EXPECT_EQ(Parameter(line, i + 1), test.expected[i]);
        }
        EXPECT_EQ(Parameter(line, 0), "");
        EXPECT_EQ(Parameter(line, test.expected.size() + 1), "");
    }
}

TEST(CommandLine, TheProgramPathIsSplitLikeAnyParameter) {
    struct Row {
        std::string line;
        Parameters expected;
    };
    const Row rows[] = {
        {"C:\\My Tools\\vorn.exe x.jpg", {"Tools\\vorn.exe", "x.jpg"}},
        {"\"C:\\My Tools\\vorn.exe\" x.jpg", {"x.jpg"}},
        {"\"\" vorn x.jpg", {"x.jpg"}}, // a leading pair of quotes is not the program's path
        {"", {}},
        {"vorn", {}},
        {std::string("\0vorn x", 7), {}}, // the line ends at a zero byte
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        ASSERT_EQ(ParameterCount(row.line), row.expected.size());
        for (std::size_t i = 0; i < row.expected.size(); ++i) {
            EXPECT_EQ(Parameter(row.line, i + 1), row.expected[i]);
        }
    }
}

TEST(CommandLine, CheckSwitch) {
    struct Row {
        Parameters parameters;
        bool expected;
    };
    const Row rows[] = {
        {{"-a"}, true},
        {{"/a"}, true},
        {{"x.jpg", "-a", "y.jpg"}, true},
        {{"-a", "x.jpg", "y.jpg"}, true},
        {{"x.jpg", "/a"}, true},
        {{"-A", "x.jpg"}, false},
        {{"/A"}, false},
        {{"-ab"}, false},
        {{"--a"}, false},
        {{"-a-"}, false},
        {{"a"}, false},
        {{"-"}, false},
        {{"/"}, false},
        {{"-\xEF\xBD\x81"}, false}, // a full-width a
        {{"-\xFF"}, false},
        {{}, false},
        {{"\\a", "+a"}, false},
        // What the collation ignores does not count: a zero-width space, a control byte.
        {{"-a\xE2\x80\x8B"}, true},
        {{"/\x01"
          "a\x7F"},
         true},
        {{"-a\xC2\xA0"}, false}, // a no-break space is no such character
    };
    PathCollator root("");
    PathCollator posix("en_US_POSIX");
    PathCollator swedish("sv_SE");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.parameters.empty() ? "(none)" : row.parameters.front());
        EXPECT_EQ(HasCheckSwitch(row.parameters), row.expected);
        for (const PathCollator* collator : {&root, &posix, &swedish}) {
            EXPECT_EQ(HasCheckSwitch(row.parameters, *collator), row.expected);
        }
    }
}

TEST(CommandLine, SortedParametersKeepSwitchesAndDuplicates) {
    Parameters parameters = {"b.jpg", "-a", "A.jpg", "c.jpg", "b.jpg"};
    SortPaths(parameters, PathCollator(""));
    EXPECT_EQ(parameters, (Parameters{"-a", "A.jpg", "b.jpg", "b.jpg", "c.jpg"}));
    EXPECT_TRUE(HasCheckSwitch(parameters));
}

} // namespace
} // namespace vorn
