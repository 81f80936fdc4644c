#pragma once
// Checks a sequence of files ahead on I/O threads and hands the results back in the order the
// files were added: for a caller that walks a list row by row (the window's check of every
// row) and wants each row's verdict as soon as its turn comes, with the file-system requests of
// the next rows already in flight. Destroying it drops the checks not started and waits for the
// running ones: no thread outlives it.

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "core/walk/io_pool.h"
#include "core/walk/walk_engine.h"

namespace vorn {

class CheckAhead {
public:
    // `check` runs on the I/O threads (see FileCheck); `window` is the most checks kept ahead of
    // the caller, 0 for LookAheadWindow's default.
    explicit CheckAhead(FileCheck check, std::size_t threads = WalkEngine::kDefaultThreads,
                        std::size_t window = 0);
    ~CheckAhead();
    CheckAhead(const CheckAhead&) = delete;
    CheckAhead& operator=(const CheckAhead&) = delete;

    // How many files to keep added and not taken.
    std::size_t Window() const { return m_window; }
    // Files added and not taken yet.
    std::size_t Pending() const { return m_pending.size(); }
    // Starts the check of `path`.
    void Add(std::string path);
    // The result of the oldest file added and not taken, once it is there; throws what its
    // check threw. At least one file must be pending.
    FileResult Next();

private:
    struct Check;

    FileCheck m_check;
    std::size_t m_window;
    std::deque<std::shared_ptr<Check>> m_pending;
    IoPool m_pool; // destroyed first: its threads are joined before the checks go
};

} // namespace vorn
