#include "bench/latency_mount.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorn::bench {

namespace {

using namespace std::chrono_literals;

// A path as /proc/self/mountinfo writes it: blanks, tabs, new lines and backslashes in octal.
std::string MountInfoText(const std::string& path) {
    std::string text;
    for (const char c : path) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\%03o", static_cast<unsigned char>(c));
            text += escaped;
        } else {
            text += c;
        }
    }
    return text;
}

// Read from the mount table, never from the mount point, so that a server that hangs cannot
// hang the benchmark.
bool IsMountPoint(const std::string& path) {
    std::ifstream table("/proc/self/mountinfo");
    const std::string wanted = MountInfoText(path);
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (fields >> id >> parent >> device >> root >> point && point == wanted) {
            return true;
        }
    }
    return false;
}

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for `pid` up to `limit`; true when it ended (and was reaped).
bool WaitFor(pid_t pid, std::chrono::milliseconds limit, int& status) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
}

} // namespace

LatencyMount::LatencyMount(const std::string& source, LatencySettings settings) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        m_reason = std::string("/dev/fuse: ") + std::strerror(errno);
        return;
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base ? base : "/tmp") + "/vorn-latency-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_reason = "cannot make a mount point: " + std::string(std::strerror(errno));
        return;
    }
    m_path = pattern;
    m_server = Spawn({VORN_LATENCY_FS_EXE, "--delay-us", std::to_string(settings.delayUs),
                      "--threads", std::to_string(settings.threads), source, m_path});
    if (m_server < 0) {
        m_reason = "cannot start the file system: " + std::string(std::strerror(errno));
        return;
    }
    m_mounted = WaitForMount();
}

bool LatencyMount::WaitForMount() {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        if (IsMountPoint(m_path)) {
            return true;
        }
        int status = 0;
        if (::waitpid(m_server, &status, WNOHANG) == m_server) {
            m_server = -1;
            m_reason = "the file system ended before it was mounted (status " +
                       std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    m_reason = "the file system was not mounted within 10 s";
    return false;
}

LatencyMount::~LatencyMount() {
    int status = 0;
    if (m_mounted || IsMountPoint(m_path)) {
        const pid_t unmount = Spawn({"fusermount3", "-u", "-z", m_path});
        if (unmount > 0 && !WaitFor(unmount, 10s, status)) {
            ::kill(unmount, SIGKILL);
            ::waitpid(unmount, &status, 0);
        }
    }
    if (m_server > 0 && !WaitFor(m_server, 5s, status)) {
        ::kill(m_server, SIGTERM);
        if (!WaitFor(m_server, 2s, status)) {
            ::kill(m_server, SIGKILL);
            ::waitpid(m_server, &status, 0);
        }
    }
    if (!m_path.empty()) {
        ::rmdir(m_path.c_str());
    }
}

} // namespace vorn::bench
