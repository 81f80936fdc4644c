#include "core/base/exceptions.h"

namespace vorn {

// Every public constructor is noinline and passes its own return address on, so the address
// recorded is the one in the function that constructed (and threw) the exception, never one
// inside this file.

Exception::Exception(const std::string& message)
    : Exception(message, __builtin_return_address(0)) {}

Exception::Exception(const std::string& message, const void* raiseAddress)
    : std::runtime_error(message)
    , m_raiseAddress(raiseAddress) {}

EFOpenError::EFOpenError(const std::string& path)
    : Exception("ファイル " + path + " は開けません", __builtin_return_address(0)) {}

EFCreateError::EFCreateError(const std::string& path)
    : Exception("ファイル " + path + " を作成できません", __builtin_return_address(0)) {}

EWriteError::EWriteError()
    : Exception("ストリームへの書き込みエラー", __builtin_return_address(0)) {}

} // namespace vorn
