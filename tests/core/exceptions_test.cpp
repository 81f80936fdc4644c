#include "core/base/exceptions.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace vorn {
namespace {

// Each thrower is a function of its own, so the recorded address can be checked to lie inside it.
[[gnu::noinline]] void ThrowException() {
    throw Exception("plain");
}
[[gnu::noinline]] void ThrowOpen() {
    throw EFOpenError("/a b/vorn.ini");
}
[[gnu::noinline]] void ThrowCreate() {
    throw EFCreateError("/a b/vorn.ini");
}
[[gnu::noinline]] void ThrowWrite() {
    throw EWriteError();
}

TEST(Exception, RecordsTheAddressOfTheThrowingFunction) {
    struct Case {
        void (*thrower)();
        const char* className;
        const char* message;
    };
    const Case cases[] = {
        {ThrowException, "Exception", "plain"},
        {ThrowOpen, "EFOpenError", "ファイル /a b/vorn.ini は開けません"},
        {ThrowCreate, "EFCreateError", "ファイル /a b/vorn.ini を作成できません"},
        {ThrowWrite, "EWriteError", "ストリームへの書き込みエラー"},
    };
    for (const Case& c : cases) {
        try {
            c.thrower();
            ADD_FAILURE() << "no exception from " << c.className;
        } catch (const Exception& error) {
            EXPECT_STREQ(error.ClassName(), c.className);
            EXPECT_EQ(std::string(error.what()), c.message);
            // The call to the constructor sits a few instructions into the thrower; an address
            // recorded inside a base constructor would lie elsewhere.
            const auto entry = reinterpret_cast<std::uintptr_t>(c.thrower);
            const auto raised = reinterpret_cast<std::uintptr_t>(error.RaiseAddress());
            EXPECT_GT(raised, entry) << c.className;
            EXPECT_LT(raised, entry + 512) << c.className;
        }
    }
}

} // namespace
} // namespace vorn
