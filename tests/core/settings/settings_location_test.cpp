#include "core/settings/settings_location.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

// The user that root takes the place of, so that permissions mean what they mean to any user.
constexpr uid_t kOrdinaryUser = 65534;

enum class Config { Unset, Empty, Relative, NewFolder };
enum class Expect { Beside, ConfigHome, HomeConfig };

struct Case {
    const char* what;
    mode_t binMode;
    mode_t iniMode; // 0: no settings file beside the executable
    bool folderAtIni;
    Config config;
    bool withHome;
    Expect expect;
};

// Runs `body` in a child as an ordinary user (root drops to one); its exit status, 99 when the
// child could not drop.
template <typename Body>
int AsOrdinaryUser(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(kOrdinaryUser) != 0 || ::setuid(kOrdinaryUser) != 0)) {
            ::_exit(99);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(SettingsLocation, BesideTheExecutableWhereItCanBeWrittenElseInTheConfigFolder) {
    const Case cases[] = {
        {"writable folder", 0755, 0, false, Config::NewFolder, true, Expect::Beside},
        {"writable file, read-only folder", 0555, 0644, false, Config::Unset, true, Expect::Beside},
        {"read-only folder", 0555, 0, false, Config::NewFolder, true, Expect::ConfigHome},
        {"read-only file", 0755, 0444, false, Config::Unset, true, Expect::HomeConfig},
        {"folder at the file", 0755, 0, true, Config::NewFolder, true, Expect::ConfigHome},
        {"relative XDG_CONFIG_HOME", 0555, 0, false, Config::Relative, true, Expect::HomeConfig},
        {"empty XDG_CONFIG_HOME", 0555, 0, false, Config::Empty, true, Expect::HomeConfig},
        {"no home at all", 0555, 0, false, Config::Unset, false, Expect::Beside},
    };
    for (const Case& c : cases) {
        TempTree tree;
        ASSERT_EQ(::chmod(tree.Root().c_str(), 0755), 0);
        const std::string bin = tree.Folder("bin");
        const std::string home = tree.Folder("home");
        const std::string beside = bin + "/vorn.ini";
        if (c.iniMode != 0) {
            tree.Write("bin/vorn.ini", "[VornForm]\r\n");
            ASSERT_EQ(::chmod(beside.c_str(), c.iniMode), 0);
        }
        if (c.folderAtIni) {
            tree.Folder("bin/vorn.ini");
        }
        // The user's own folders and file, as they are for an ordinary user.
        if (::geteuid() == 0) {
            for (const std::string& path : {bin, home, beside}) {
                ASSERT_TRUE(::lchown(path.c_str(), kOrdinaryUser, kOrdinaryUser) == 0 ||
                            (path == beside && c.iniMode == 0 && !c.folderAtIni));
            }
        }
        ASSERT_EQ(::chmod(bin.c_str(), c.binMode), 0);

        const std::string newConfig = home + "/made/config";
        const char* config = c.config == Config::Unset      ? nullptr
                             : c.config == Config::Empty    ? ""
                             : c.config == Config::Relative ? "made/config"
                                                            : newConfig.c_str();
        const std::string expected = c.expect == Expect::Beside ? beside
                                     : c.expect == Expect::ConfigHome
                                         ? newConfig + "/vorn/vorn.ini"
                                         : home + "/.config/vorn/vorn.ini";
        const int outcome = AsOrdinaryUser([&] {
            const std::string chosen =
                SettingsLocation(bin + "/vorn", config, c.withHome ? home.c_str() : nullptr);
            if (chosen != expected) {
                std::fprintf(stderr, "chose %s\n", chosen.c_str());
                return 1;
            }
            // A folder made for the file is there for the write at exit.
            const std::string folder = chosen.substr(0, chosen.rfind('/'));
            return c.expect == Expect::Beside || ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : 2;
        });
        if (outcome == 99) {
            GTEST_SKIP() << "cannot act as an ordinary user";
        }
        EXPECT_EQ(outcome, 0) << c.what << " (1: another path, 2: its folder cannot be written)";
        ::chmod(bin.c_str(), 0755);
    }
}

} // namespace
} // namespace vorn
