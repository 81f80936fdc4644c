#pragma once
// SQLite's calls in the terms of a state file: every failure is a CheckStateError that names
// the file and says what went wrong as a person would put it (in use, damaged, or SQLite's own
// words).

#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace vorn {

[[noreturn]] void FailState(const std::string& path, const std::string& what);

// What `code`, returned by a call on `db` (or on no connection yet), means for the state file.
[[noreturn]] void FailStateWith(const std::string& path, sqlite3* db, int code);

void ExecState(const std::string& path, sqlite3* db, const char* sql);

// The first column of the first row of `sql`, as text; empty when there is no row.
std::string QueryStateText(const std::string& path, sqlite3* db, const char* sql);

sqlite3_stmt* PrepareState(const std::string& path, sqlite3* db, const std::string& sql);

} // namespace vorn
