#include "core/check/sqlite_calls.h"

#include <sqlite3.h>

#include "core/check/check_state.h"

namespace vorn {

void FailState(const std::string& path, const std::string& what) {
    throw CheckStateError(path + ": " + what);
}

void FailStateWith(const std::string& path, sqlite3* db, int code) {
    const int primary = code & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        FailState(path, "the state is in use by another run");
    }
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        FailState(path, "the state file is damaged (" + std::string(sqlite3_errstr(code)) + ")");
    }
    FailState(path, db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

void ExecState(const std::string& path, sqlite3* db, const char* sql) {
    if (const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); code != SQLITE_OK) {
        FailStateWith(path, db, code);
    }
}

std::string QueryStateText(const std::string& path, sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    int code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    std::string text;
    if (code == SQLITE_OK) {
        code = sqlite3_step(statement);
        if (code == SQLITE_ROW) {
            if (const unsigned char* value = sqlite3_column_text(statement, 0)) {
                text = reinterpret_cast<const char*>(value);
            }
            code = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    if (code != SQLITE_OK && code != SQLITE_DONE) {
        FailStateWith(path, db, code);
    }
    return text;
}

sqlite3_stmt* PrepareState(const std::string& path, sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (const int code = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
        code != SQLITE_OK) {
        FailStateWith(path, db, code);
    }
    return statement;
}

} // namespace vorn
