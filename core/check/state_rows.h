#pragma once
// The rows of a state file. A row holds the records of a run of one folder's files, packed
// (PackRecords), under its place: the folder's path (with its trailing delimiter), a zero byte,
// and the first name the row may hold. A row holds the names from its place's up to the next
// row's of the same folder; the first row of a folder may begin at the empty name. The zero
// byte, which no path holds, keeps a folder's own rows together and before those of its
// subfolders, whose places begin with the folder's path too.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/check/check_record.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vorn {

class StateRows {
public:
    // The statements on `db` (not owned) for the state file at `path`. Throws CheckStateError.
    StateRows(const std::string& path, sqlite3* db);
    ~StateRows();
    StateRows(const StateRows&) = delete;
    StateRows& operator=(const StateRows&) = delete;

    // The most records a row holds; a row that would grow past it is split.
    static constexpr std::size_t kRunLength = 256;

    // A path cut after its last delimiter: the folder part (empty for a bare name) and the name.
    static std::pair<std::string, std::string> Split(const std::string& path);
    // The size of that folder part.
    static std::size_t FolderPartSize(std::string_view path);

    // The row of `folder` whose names take in `name`, with where the folder's next row begins;
    // a row with no place and no records when the folder has no row at or before `name`.
    struct Row {
        std::string place;
        std::vector<NamedRecord> records;
        std::optional<std::string> next;
        // Whether `name` of `folder`, the folder this row was looked up in, falls in this row.
        bool Takes(const std::string& folder, std::string_view name) const;
    };
    Row RowHolding(const std::string& folder, const std::string& name);

    // A record's name and packing.
    struct Packed {
        std::string_view name;
        std::string_view packing;
    };

    // Writes `fresh`, records of files of `folder`, over what the rows held of the same names.
    void Merge(const std::string& folder, const PackedRecords& fresh);

    // Drops the records of the entries of `folder` whose first name below it is not in
    // `names` (sorted); returns how many records of the folder's own files it dropped, with
    // every row of a gone subfolder counted as one.
    std::size_t Prune(const std::string& folder, const std::vector<std::string>& names);

    // How many records lie below `folder` (with its trailing delimiter), in its subfolders too.
    std::size_t FilesBelow(const std::string& folder);

private:
    std::optional<std::string> FirstPlace(const std::string& from, const std::string& below);
    void Put(const std::string& folder, const std::string& place, std::span<const Packed> records);
    void DropBetween(const std::string& from, const std::string& below);
    std::vector<NamedRecord> Unpack(const void* bytes, int size) const;
    void Finalize();

    const std::string m_path;
    sqlite3* const m_db;
    sqlite3_stmt* m_at = nullptr;
    sqlite3_stmt* m_first = nullptr;
    sqlite3_stmt* m_put = nullptr;
    sqlite3_stmt* m_drop = nullptr;
    sqlite3_stmt* m_count = nullptr;
};

} // namespace vorn
