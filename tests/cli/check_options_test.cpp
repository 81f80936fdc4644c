#include "cli/check_options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "core/walk/walk_engine.h"

namespace vorn::cli {
namespace {

OptionsResult Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vorn-check");
    return ParseCheckOptions(static_cast<int>(args.size()), args.data());
}

TEST(CheckOptions, OptionsStandAnywhereAndPathsKeepTheirOrder) {
    const OptionsResult result =
        Parse({"b", "--errors", "a", "--json", "--jobs", "3", "--summary", "--deep"});
    ASSERT_TRUE(result.options) << result.error;
    EXPECT_TRUE(result.options->errorsOnly);
    EXPECT_TRUE(result.options->deep);
    EXPECT_TRUE(result.options->json);
    EXPECT_TRUE(result.options->summary);
    EXPECT_EQ(result.options->jobs, 3u);
    EXPECT_EQ(result.options->paths, (std::vector<std::string>{"b", "a"}));
}

TEST(CheckOptions, DoubleDashEndsOptionsAndTheWindowSwitchIsIgnored) {
    const OptionsResult result = Parse({"-a", "/a", "--", "--json", "-x"});
    ASSERT_TRUE(result.options) << result.error;
    EXPECT_FALSE(result.options->json);
    EXPECT_EQ(result.options->paths, (std::vector<std::string>{"/a", "--json", "-x"}));
    const OptionsResult list = Parse({"-0", "--files-from", "-"});
    ASSERT_TRUE(list.options) << list.error;
    EXPECT_TRUE(list.options->nullSeparated);
    EXPECT_EQ(list.options->filesFrom, "-");
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
        {"--explain-limit"},   // no size
        {"--explain-limit", "0", "x"},
        {"--explain-limit=1T", "x"},
        {"--explain-limit=M", "x"},
        {"--explain-limit=20000000000G", "x"}, // beyond 64 bits
        {"--memory"},                          // no size
        {"--memory=0", "x"},
        {"--files-from"},       // no file
        {"--files-from=", "x"}, // an empty name
    };
    for (const auto& args : cases) {
        const OptionsResult result = Parse(args);
        EXPECT_FALSE(result.options) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(CheckOptions, ExplainLimitTakesASize) {
    const struct {
        std::vector<const char*> args;
        std::uint64_t limit;
    } cases[] = {
        {{"x"}, vorn::kDefaultExplanationDataLimit},
        {{"--explain-limit", "4096", "x"}, 4096},
        {{"--explain-limit=2K", "x"}, 2048},
        {{"--explain-limit=64M", "x"}, std::uint64_t{64} << 20},
        {{"--explain-limit=3G", "x"}, std::uint64_t{3} << 30},
    };
    for (const auto& c : cases) {
        const OptionsResult result = Parse(c.args);
        ASSERT_TRUE(result.options) << result.error;
        EXPECT_EQ(result.options->explainLimit, c.limit) << c.args[0];
    }
}

TEST(CheckOptions, MemoryTakesASize) {
    EXPECT_EQ(Parse({"x"}).options->memory, 0u); // the machine's default
    EXPECT_EQ(Parse({"--memory", "512M", "x"}).options->memory, std::uint64_t{512} << 20);
    EXPECT_EQ(Parse({"--memory=2G", "x"}).options->memory, std::uint64_t{2} << 30);
}

TEST(CheckOptions, HelpAndVersionNeedNoPath) {
    EXPECT_TRUE(Parse({"--help"}).options->help);
    EXPECT_TRUE(Parse({"--version"}).options->version);
    EXPECT_NE(HelpText().find("--files-from"), std::string::npos);
}

TEST(CheckOptions, LongOptionsTakeTheirValueAfterAnEqualsSign) {
    const OptionsResult result = Parse({"--jobs=7", "--files-from=list", "x"});
    ASSERT_TRUE(result.options) << result.error;
    EXPECT_EQ(result.options->jobs, 7u);
    EXPECT_EQ(result.options->filesFrom, "list");
    EXPECT_FALSE(Parse({"--errors=yes", "x"}).options) << "a switch takes no value";
    EXPECT_FALSE(Parse({"-j=7", "x"}).options) << "a short name takes the next argument";
}

// The defaults the help text, the manual page and the README state are the ones the run uses.
TEST(CheckOptions, HelpManualAndReadmeStateTheDefaultsInUse) {
    const auto read = [](const char* path) {
        std::ifstream in(path, std::ios::binary);
        EXPECT_TRUE(in) << path;
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string jobs = std::to_string(vorn::WalkEngine::kDefaultThreads);
    const std::string limit = ByteCountText(vorn::kDefaultExplanationDataLimit);
    const std::string limitMiB = std::to_string(vorn::kDefaultExplanationDataLimit >> 20) + " MiB";
    EXPECT_EQ(ByteCountText(std::uint64_t{64} << 20), "64M");
    EXPECT_EQ(ByteCountText(4097), "4097");

    const std::string help = HelpText();
    EXPECT_NE(help.find("(default: " + jobs + ","), std::string::npos);
    EXPECT_NE(help.find(" " + limit + "; K, M and G count in 1024s"), std::string::npos);
    const std::string manual = read(VORN_SOURCE_DIR "/data/vorn-check.1");
    EXPECT_NE(manual.find("The default, " + jobs + ","), std::string::npos);
    EXPECT_NE(manual.find("(default " + limit + ";"), std::string::npos);
    const std::string readme = read(VORN_SOURCE_DIR "/README.md");
    EXPECT_NE(readme.find("(default " + jobs + ":"), std::string::npos);
    EXPECT_NE(readme.find("at most " + limitMiB), std::string::npos);
}

} // namespace
} // namespace vorn::cli
