#include "cli/check_pool.h"

#include "core/end_marker_explanation.h"

CheckPool::CheckPool(std::size_t jobs, bool explain, std::uint64_t explainLimit)
    : m_explain(explain)
    , m_explainLimit(explainLimit) {
    for (std::size_t i = 0; i < jobs; ++i)
        m_workers.emplace_back([this] { Work(); });
}

CheckPool::~CheckPool() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void CheckPool::Start(std::vector<std::string> paths) {
    {
        const std::lock_guard lock(m_mutex);
        m_paths = std::move(paths);
        m_verdicts.assign(m_paths.size(), FileVerdict{});
        m_next = 0;
        m_active = m_workers.size();
        m_running = true;
        ++m_batch;
    }
    m_wake.notify_all();
}

std::vector<std::string> CheckPool::Collect(std::vector<FileVerdict>& verdicts) {
    std::unique_lock lock(m_mutex);
    if (!m_running) {
        verdicts.clear();
        return {};
    }
    m_done.wait(lock, [this] { return m_active == 0; });
    m_running = false;
    verdicts = std::move(m_verdicts);
    m_verdicts.clear();
    return std::move(m_paths);
}

void CheckPool::Work() {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || m_batch != seen; });
            if (m_stopping)
                return;
            seen = m_batch;
        }
        // The batch's vectors are not touched by Start or Collect until every worker has left
        // this loop, so each worker writes its own slots without a lock.
        for (std::size_t i = m_next++; i < m_paths.size(); i = m_next++)
            m_verdicts[i] = CheckFile(m_paths[i], m_explain, m_explainLimit);
        const std::lock_guard lock(m_mutex);
        if (--m_active == 0)
            m_done.notify_all();
    }
}

FileVerdict CheckFile(const std::string& path, bool explain, std::uint64_t explainLimit) {
    FileVerdict result;
    vorn::EndMarkerExplanation explanation;
    vorn::MarkerCheckOptions options;
    options.explanation = explain ? &explanation : nullptr;
    options.explanationDataLimit = explainLimit;
    result.verdict = vorn::CheckMarkers(path, options);
    if (explain && result.verdict == vorn::MarkerVerdict::Eoi)
        result.explanation = vorn::Describe(explanation);
    return result;
}
