#pragma once
// The latency file system (vorn_latency_fs) mounted over a folder for as long as an object lives,
// so that a benchmark can measure a tree as a program sees it on a slow share.

#include <string>
#include <sys/types.h>

namespace vorn::bench {

struct LatencySettings {
    int delayUs = 1000; // the wait of each getattr, readdir, open and read
    int threads = 10;   // requests the file system serves at once
};

class LatencyMount {
public:
    // Mounts `source` read-only at a new temporary folder. Never throws for a system that cannot
    // mount (no /dev/fuse, no permission, no fusermount3): Mounted() is then false and Reason()
    // says why, so that the benchmark can skip its row.
    LatencyMount(const std::string& source, LatencySettings settings);
    // Unmounts (lazily, so that a file left open cannot keep the mount), waits for the file
    // system to end and removes the mount point.
    ~LatencyMount();
    LatencyMount(const LatencyMount&) = delete;
    LatencyMount& operator=(const LatencyMount&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Path() const { return m_path; }
    const std::string& Reason() const { return m_reason; }

private:
    bool WaitForMount();

    std::string m_path;
    std::string m_reason;
    pid_t m_server = -1;
    bool m_mounted = false;
};

} // namespace vorn::bench
