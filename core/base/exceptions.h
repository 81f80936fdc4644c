#pragma once
// The program's exceptions. Each remembers the code address it was raised at, so that the
// unhandled-error box can name it relative to the module's load address.

#include <stdexcept>
#include <string>

namespace vorn {

class Exception : public std::runtime_error {
public:
    // Records the caller's address: construct the exception in the throw expression.
    [[gnu::noinline]] explicit Exception(const std::string& message);
    // The class name shown to the user ("Exception", "EFOpenError"...).
    virtual const char* ClassName() const noexcept { return "Exception"; }
    const void* RaiseAddress() const noexcept { return m_raiseAddress; }

protected:
    Exception(const std::string& message, const void* raiseAddress);

private:
    const void* m_raiseAddress;
};

// The settings file is present but cannot be opened for reading.
class EFOpenError : public Exception {
public:
    [[gnu::noinline]] explicit EFOpenError(
        const std::string& path); // "ファイル <path> は開けません"
    const char* ClassName() const noexcept override { return "EFOpenError"; }
};

// The settings file cannot be created (or replaced) for writing.
class EFCreateError : public Exception {
public:
    [[gnu::noinline]] explicit EFCreateError(
        const std::string& path); // "ファイル <path> を作成できません"
    const char* ClassName() const noexcept override { return "EFCreateError"; }
};

// Fewer bytes were written than asked.
class EWriteError : public Exception {
public:
    [[gnu::noinline]] EWriteError(); // "ストリームへの書き込みエラー"
    const char* ClassName() const noexcept override { return "EWriteError"; }
};

} // namespace vorn
