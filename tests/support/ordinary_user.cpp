#include "tests/support/ordinary_user.h"

#include <cstdio>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

} // namespace

int AsOrdinaryUser(const std::function<int()>& body, const std::vector<std::string>& owned) {
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        for (const std::string& path : owned) {
            if (::lchown(path.c_str(), kNobody, kNobody) != 0) {
                return kCannotActAsUser;
            }
        }
    }
    const pid_t child = ::fork();
    if (child < 0) {
        return kCannotActAsUser;
    }
    if (child == 0) {
        if (asRoot &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(kCannotActAsUser);
        }
        const int result = body();
        std::fflush(nullptr); // what the body printed, before _exit drops it
        ::_exit(result);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
