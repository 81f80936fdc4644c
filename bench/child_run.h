#pragma once
// A program run as a child process and measured from outside: wall time, CPU time, peak memory.

#include <sys/types.h>

#include <string>
#include <vector>

namespace vorn::bench {

struct ChildRun {
    double seconds = 0;    // from start to reaping
    double cpuSeconds = 0; // user and system time of the child
    long peakKiB = 0;      // peak resident memory of the child
    int status = -1;       // exit status; -1 when a signal ended it
    std::string output;    // standard output, when captured
};

// The peak resident memory of a live process (VmHWM, in KiB); -1 when it cannot be read.
long PeakKiB(pid_t pid);

// Runs `args` (args[0] a path) with its standard output captured, or sent to /dev/null as a
// report written to a file would go. With `ownPeak`, the peak memory is the child program's own,
// read as it exits, not the system's figure, which counts the address space it was started from
// too; it is traced for that, which costs it some processor time, so a run timed for its CPU is
// not. Throws std::runtime_error when it cannot be started.
ChildRun RunChild(const std::vector<std::string>& args, bool captureOutput = false,
                  bool ownPeak = false);

} // namespace vorn::bench
