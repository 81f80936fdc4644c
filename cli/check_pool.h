#pragma once
// Checks batches of files on worker threads while the caller walks on and prints in list order.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/marker_check.h"

struct FileVerdict {
    vorn::MarkerVerdict verdict = vorn::MarkerVerdict::OpenError;
    std::string explanation; // why an EOI file fails, when asked for
};

class CheckPool {
public:
    CheckPool(std::size_t jobs, bool explain, std::uint64_t explainLimit);
    ~CheckPool();
    CheckPool(const CheckPool&) = delete;
    CheckPool& operator=(const CheckPool&) = delete;

    // Starts checking `paths`. The batch started before must have been collected.
    void Start(std::vector<std::string> paths);
    // Waits for the batch started last; returns its paths and their verdicts, in the same order.
    // An empty batch when none was started.
    std::vector<std::string> Collect(std::vector<FileVerdict>& verdicts);

private:
    void Work();

    bool m_explain;
    std::uint64_t m_explainLimit;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::string> m_paths;
    std::vector<FileVerdict> m_verdicts;
    std::atomic<std::size_t> m_next{0};
    std::size_t m_active = 0;  // workers not through the batch yet
    std::uint64_t m_batch = 0; // counts the batches started
    bool m_running = false;    // a batch was started and not collected
    bool m_stopping = false;
};

// The verdict of one file, with the explanation of an EOI verdict when `explain` is set, read
// from at most `explainLimit` bytes of data.
FileVerdict CheckFile(const std::string& path, bool explain,
                      std::uint64_t explainLimit = vorn::kDefaultExplanationDataLimit);
