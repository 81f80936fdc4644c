#include "core/program/error_texts.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/exceptions.h"

namespace vorn {
namespace {

std::string OwnFileName() {
    char buffer[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    const std::string path(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
    return path.substr(path.rfind('/') + 1);
}

[[gnu::noinline]] void ThrowOpenError() {
    throw EFOpenError("/x/vorn.ini");
}

struct Custom : std::exception {
    const char* what() const noexcept override { return "custom"; }
};

TEST(ApplicationTitle, TakesTheNameBeforeItsFirstDot) {
    struct Case {
        const char* path;
        const char* title;
    };
    const Case cases[] = {
        {"/usr/bin/vorn", "vorn"},
        {"/opt/VORN.Bin", "Vorn"},
        {"/opt/my.tools/VORN.tar.gz", "Vorn"},
        {"VORN", "Vorn"},
        {"/opt/.vorn", ""},
        {"/opt/ÄBC.EXE", "Äbc"},
        {"/opt/XÄÖ", "Xäö"},
        {"/opt/A\xFF\xC3Z", "A\xFF\xC3z"}, // bytes that are no UTF-8 stay as they are
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplicationTitle(c.path), c.title) << c.path;
    }
}

TEST(ReportText, AddsAFullStopAfterCharactersThatSortAfterIt) {
    struct Case {
        const char* message;
        const char* text;
    };
    const Case cases[] = {
        {"Bad thing", "Bad thing."},
        {"done.", "done."},
        {"x-", "x-"},
        {"", ""},
        {"count 3", "count 3."},
        {"path/", "path/."},
        {"why?", "why?."},
        {"trailing ", "trailing "},
        {"ファイル x は開けません", "ファイル x は開けません."},
        {"ends in é", "ends in é."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReportText(c.message), c.text) << '"' << c.message << '"';
    }
}

TEST(UnhandledErrorText, NamesClassModuleAndOffset) {
    EXPECT_EQ(UnhandledErrorText("EFCreateError", "vorn", 0x1A2B,
                                 "ファイル /x/vorn.ini を作成できません"),
              "EFCreateErrorがモジュール vorn の 00001A2B で発生しました。\n"
              "ファイル /x/vorn.ini を作成できません.");
    EXPECT_EQ(UnhandledErrorText("E", "m", 0xFFFFFFFF, "done."),
              "Eがモジュール m の FFFFFFFF で発生しました。\ndone.");
    EXPECT_EQ(UnhandledErrorText("E", "m", 0, ""),
              "Eがモジュール m の 00000000 で発生しました。\n");
    // Unlike the exception report, any last character other than "." gains one.
    EXPECT_EQ(UnhandledErrorText("E", "m", 0, "x-"),
              "Eがモジュール m の 00000000 で発生しました。\nx-.");
}

TEST(FactsOf, LocatesAnOwnExceptionInTheExecutable) {
    try {
        ThrowOpenError();
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        const ExceptionFacts facts = FactsOf(error);
        EXPECT_EQ(facts.className, "EFOpenError");
        EXPECT_EQ(facts.message, "ファイル /x/vorn.ini は開けません");
        EXPECT_EQ(facts.moduleName, OwnFileName());
        struct stat status {};
        ASSERT_EQ(::stat("/proc/self/exe", &status), 0);
        EXPECT_NE(facts.offset, 0u);
        EXPECT_LT(facts.offset, static_cast<std::uint64_t>(status.st_size));
    }
}

TEST(FactsOf, NamesOtherExceptionsByTheirType) {
    const std::runtime_error runtime("boom");
    const std::out_of_range range("far");
    const Custom custom;
    const struct {
        const std::exception& error;
        const char* className;
        const char* message;
    } cases[] = {
        {runtime, "runtime_error", "boom"},
        {range, "out_of_range", "far"},
        {custom, "Custom", "custom"},
    };
    for (const auto& c : cases) {
        const ExceptionFacts facts = FactsOf(c.error);
        EXPECT_EQ(facts.className, c.className);
        EXPECT_EQ(facts.message, c.message);
        EXPECT_EQ(facts.moduleName, OwnFileName());
        EXPECT_EQ(facts.offset, 0u);
    }
}

} // namespace
} // namespace vorn
