#include "core/walk/check_ahead.h"

#include <algorithm>
#include <utility>

namespace vorn {

struct CheckAhead::Check final : IoPool::Task {
    Check(std::string checkedPath, const FileCheck& fileCheck)
        : path(std::move(checkedPath))
        , check(fileCheck) {}

    void Run() override { check(path, result); }

    const std::string path;
    const FileCheck& check;
    FileResult result;
};

CheckAhead::CheckAhead(FileCheck check, std::size_t threads, std::size_t window)
    : m_check(std::move(check))
    , m_window(LookAheadWindow(window, threads))
    , m_pool(threads) {}

CheckAhead::~CheckAhead() = default;

void CheckAhead::Add(std::string path) {
    auto check = std::make_shared<Check>(std::move(path), m_check);
    m_pending.push_back(check);
    m_pool.Submit(std::move(check));
}

FileResult CheckAhead::Next() {
    const std::shared_ptr<Check> check = std::move(m_pending.front());
    m_pending.pop_front();
    m_pool.Wait(*check, WakeBatch(m_window));
    check->RethrowFailure();
    return std::move(check->result);
}

} // namespace vorn
