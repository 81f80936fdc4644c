#pragma once
// The texts of the two ways an error reaches the user: the exception report (an exception that
// escapes an event handler; the program goes on) and the unhandled-error box (an exception that
// escapes start-up or shutdown; the program ends with exit code 1).

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace vorn {

// The executable's file name without its folder, cut before its first dot, every character
// after the first in lower case: "/opt/VORN.Bin" gives "Vorn".
std::string ApplicationTitle(std::string_view executablePath);

// The exception report's text: the message, with "." added when its last character sorts after
// "." (an empty message stays empty).
std::string ReportText(std::string_view message);

// The unhandled-error box.
inline constexpr std::string_view kUnhandledErrorTitle = "アプリケーション エラー";
// "<class>がモジュール <module> の <offset as 8 upper-case hex digits>
// で発生しました。\n<message><.>" where "." is added when the message is not empty and does not
// already end in ".".
std::string UnhandledErrorText(std::string_view className, std::string_view moduleName,
                               std::uint32_t offset, std::string_view message);

// What the unhandled-error box says about an exception.
struct ExceptionFacts {
    std::string className; // vorn::Exception::ClassName(), or the demangled type without namespaces
    std::string message;   // what()
    std::string moduleName;   // file name (no folder) of the module the raise address lies in
    std::uint32_t offset = 0; // raise address minus the module's load address; 0 when unknown
};
ExceptionFacts FactsOf(const std::exception& error);

} // namespace vorn
