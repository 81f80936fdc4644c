#pragma once
// A scope guard: runs its function when the scope ends, normally or by an exception.

#include <utility>

namespace vorn {

// The function must not throw: it runs from a destructor, possibly while an exception unwinds.
template <typename Function>
class ScopeExit {
public:
    explicit ScopeExit(Function function)
        : m_function(std::move(function)) {}
    ~ScopeExit() { m_function(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Function m_function;
};

} // namespace vorn
