#include "cli/check_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

OptionsResult Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vorn-check");
    return ParseCheckOptions(static_cast<int>(args.size()), args.data());
}

} // namespace

TEST(CheckOptions, OptionsStandAnywhereAndPathsKeepTheirOrder) {
    const OptionsResult result =
        Parse({"b", "--errors", "a", "--json", "--jobs", "3", "--summary"});
    ASSERT_TRUE(result.options) << result.error;
    EXPECT_TRUE(result.options->errorsOnly);
    EXPECT_TRUE(result.options->json);
    EXPECT_TRUE(result.options->summary);
    EXPECT_EQ(result.options->jobs, 3u);
    EXPECT_EQ(result.options->paths, (std::vector<std::string>{"b", "a"}));
}

TEST(CheckOptions, DoubleDashEndsOptionsAndTheWindowSwitchIsIgnored) {
    const OptionsResult result = Parse({"-a", "--", "--json", "-x"});
    ASSERT_TRUE(result.options) << result.error;
    EXPECT_FALSE(result.options->json);
    EXPECT_EQ(result.options->paths, (std::vector<std::string>{"--json", "-x"}));
}

TEST(CheckOptions, DefaultJobsIsAtLeastOne) {
    const OptionsResult result = Parse({"x"});
    ASSERT_TRUE(result.options);
    EXPECT_GE(result.options->jobs, 1u);
}

TEST(CheckOptions, UsageErrors) {
    const std::vector<std::vector<const char*>> cases = {
        {},                    // no path
        {"--jobs"},            // no number
        {"--jobs", "0", "x"},  // zero
        {"--jobs", "2x", "x"}, // not a number
        {"--jobs=-1", "x"},    // negative
        {"--frobnicate", "x"}, // unknown option
        {"-x", "y"},           // unknown short option
    };
    for (const auto& args : cases) {
        const OptionsResult result = Parse(args);
        EXPECT_FALSE(result.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(CheckOptions, HelpAndVersionNeedNoPath) {
    EXPECT_TRUE(Parse({"--help"}).options->help);
    EXPECT_TRUE(Parse({"--version"}).options->version);
    EXPECT_NE(HelpText().find("not an error"), std::string::npos);
}
