#include "core/program/error_texts.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include "core/base/exceptions.h"
#include "core/os/executable_path.h"
#include "core/paths/icu_functions.h"
#include "core/paths/path_rules.h"

namespace vorn {

namespace {

// The running program's file name, as the error box names its module.
std::string ExecutableFileName() {
    return std::string(NamePart(ExecutablePath()));
}

// The type's name as written in source, without its namespaces and enclosing classes
// ("std::runtime_error" gives "runtime_error"); template arguments are kept whole.
std::string TypeNameOf(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    const std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    const std::string_view name = (status == 0 && demangled) ? demangled.get() : mangled;

    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '<' || c == '(' || c == '[') {
            ++depth;
        } else if (c == '>' || c == ')' || c == ']') {
            --depth;
        } else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') {
            start = i + 2;
            ++i;
        }
    }
    return std::string(name.substr(start));
}

// The module an address lies in: its file name and the address's distance from its load address.
// The main program reports its own path through /proc, since the loader only knows it by the
// command name it was started with.
bool LocateAddress(const void* address, std::string& moduleName, std::uint32_t& offset) {
    Dl_info info{};
    link_map* map = nullptr;
    if (address == nullptr ||
        ::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return false;
    }
    const bool mainProgram = map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0';
    moduleName = mainProgram || info.dli_fname == nullptr ? ExecutableFileName()
                                                          : std::string(NamePart(info.dli_fname));
    offset = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                        reinterpret_cast<std::uintptr_t>(info.dli_fbase));
    return true;
}

} // namespace

std::string ApplicationTitle(std::string_view executablePath) {
    std::string_view name = NamePart(executablePath);
    if (const std::size_t dot = name.find('.'); dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }

    // Every character after the first goes to lower case; bytes that are no valid UTF-8 stay.
    std::string title;
    title.reserve(name.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<std::int32_t>(name.size());
    std::int32_t i = 0;
    bool first = true;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || first) {
            title.append(
                name.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        } else {
            std::array<std::uint8_t, U8_MAX_LENGTH> encoded{};
            std::int32_t size = 0;
            U8_APPEND_UNSAFE(encoded.data(), size, Icu().u_tolower(c)); // room for any code point
            title.append(reinterpret_cast<const char*>(encoded.data()),
                         static_cast<std::size_t>(size));
        }
        first = false;
    }
    return title;
}

std::string ReportText(std::string_view message) {
    std::string text(message);
    // The last byte decides: every byte of a multi-byte character is 0x80 or above, so any
    // character outside ASCII sorts after "." just as its last byte does.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

std::string UnhandledErrorText(std::string_view className, std::string_view moduleName,
                               std::uint32_t offset, std::string_view message) {
    char address[9];
    std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(offset));
    std::string text(className);
    text += "がモジュール ";
    text += moduleName;
    text += " の ";
    text += address;
    text += " で発生しました。\n";
    text += message;
    if (!message.empty() && message.back() != '.') {
        text += '.';
    }
    return text;
}

ExceptionFacts FactsOf(const std::exception& error) {
    ExceptionFacts facts;
    facts.message = error.what();
    if (const auto* own = dynamic_cast<const Exception*>(&error)) {
        facts.className = own->ClassName();
        if (LocateAddress(own->RaiseAddress(), facts.moduleName, facts.offset)) {
            return facts;
        }
    } else {
        facts.className = TypeNameOf(error);
    }
    facts.moduleName = ExecutableFileName();
    facts.offset = 0;
    return facts;
}

} // namespace vorn
