#pragma once
// The functions the program takes from ICU, in one table. On Linux the library is loaded on the
// first call that needs it, not when the program starts: loading it costs more processor time
// than starting the rest of vorn-check and checking a file, and a run that sorts nothing and
// shows no error title never needs it. Elsewhere the table holds the functions the program is
// linked with.
//
// ICU names its functions after its version (ucol_open is ucol_open_72); its headers map the
// plain names, and so do the table's members: `Icu().ucol_open(...)` calls the right one.

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/uloc.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

namespace vorn {

#if U_ICU_VERSION_MAJOR_NUM >= 71
#define VORN_ICU_CLONE(X) X(ucol_clone)
#else
#define VORN_ICU_CLONE(X) X(ucol_safeClone)
#endif

#define VORN_ICU_FUNCTIONS(X)                                                                      \
    VORN_ICU_CLONE(X)                                                                              \
    X(u_strFromUTF8WithSub)                                                                        \
    X(u_tolower)                                                                                   \
    X(ucol_close)                                                                                  \
    X(ucol_closeElements)                                                                          \
    X(ucol_getAttribute)                                                                           \
    X(ucol_getLocaleByType)                                                                        \
    X(ucol_getReorderCodes)                                                                        \
    X(ucol_getRules)                                                                               \
    X(ucol_getSortKey)                                                                             \
    X(ucol_getTailoredSet)                                                                         \
    X(ucol_next)                                                                                   \
    X(ucol_open)                                                                                   \
    X(ucol_openElements)                                                                           \
    X(ucol_openRules)                                                                              \
    X(ucol_setAttribute)                                                                           \
    X(ucol_setStrength)                                                                            \
    X(ucol_setText)                                                                                \
    X(ucol_strcoll)                                                                                \
    X(ucol_strcollUTF8)                                                                            \
    X(uloc_getDefault)                                                                             \
    X(uset_close)                                                                                  \
    X(uset_getItem)                                                                                \
    X(uset_getItemCount)

struct IcuFunctions {
#define VORN_ICU_MEMBER(name) decltype(&::name) name = nullptr;
    VORN_ICU_FUNCTIONS(VORN_ICU_MEMBER)
#undef VORN_ICU_MEMBER
};

// The table, whole; loads the library on the first call. Throws vorn::Exception when the
// library or one of its functions cannot be found (a later call tries again).
const IcuFunctions& Icu();

} // namespace vorn
