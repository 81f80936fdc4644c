#include "core/paths/icu_functions.h"

#include <string>

#if defined(__linux__)
#include <dlfcn.h>
#endif

#include "core/base/exceptions.h"

namespace vorn {

namespace {

#define VORN_ICU_TEXT(x) #x
#define VORN_ICU_EXPANDED_TEXT(x) VORN_ICU_TEXT(x)

IcuFunctions Load() {
    IcuFunctions functions;
#if defined(__linux__)
    // The collation part pulls in the common one; both stay loaded for the rest of the run.
    constexpr const char* kLibrary =
        "libicui18n.so." VORN_ICU_EXPANDED_TEXT(U_ICU_VERSION_MAJOR_NUM);
    void* const library = ::dlopen(kLibrary, RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        const char* const why = ::dlerror();
        throw Exception(std::string("the Unicode library cannot be loaded: ") +
                        (why != nullptr ? why : kLibrary));
    }
    // The name given to dlsym is the versioned one the headers map the plain name to.
#define VORN_ICU_LOAD(name)                                                                        \
    functions.name = reinterpret_cast<decltype(functions.name)>(                                   \
        ::dlsym(library, VORN_ICU_EXPANDED_TEXT(name)));                                           \
    if (functions.name == nullptr) {                                                               \
        throw Exception("the Unicode library has no " VORN_ICU_EXPANDED_TEXT(name));               \
    }
    VORN_ICU_FUNCTIONS(VORN_ICU_LOAD)
#undef VORN_ICU_LOAD
#else
#define VORN_ICU_LINKED(name) functions.name = &::name;
    VORN_ICU_FUNCTIONS(VORN_ICU_LINKED)
#undef VORN_ICU_LINKED
#endif
    return functions;
}

} // namespace

const IcuFunctions& Icu() {
    static const IcuFunctions functions = Load();
    return functions;
}

} // namespace vorn
