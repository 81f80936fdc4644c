#include "core/check/state_rows.h"

#include <algorithm>
#include <numeric>
#include <sqlite3.h>

#include "core/check/sqlite_calls.h"

namespace vorn {

namespace {

std::string Place(const std::string& folder, std::string_view name) {
    std::string place;
    place.reserve(folder.size() + 1 + name.size());
    place.append(folder).push_back('\0');
    place.append(name);
    return place;
}

// Just after every place below `folder` (with its trailing delimiter), its subfolders' too:
// nothing when the folder has no trailing delimiter, so that no place lies below it.
std::optional<std::string> BelowEnd(const std::string& folder) {
    if (folder.empty() || folder.back() != '/') {
        return std::nullopt;
    }
    std::string end = folder;
    ++end.back();
    return end;
}

// Just after every place of the folder's own rows, and before its subfolders' rows.
std::string OwnEnd(const std::string& folder) {
    return folder + '\1';
}

// The order of `records` by name (byte order), the last of those with one name alone: the
// records come in the walk's order, which is the byte order of their names but for letter case
// and digits, and most runs are in order already.
std::vector<std::size_t> InNameOrder(const PackedRecords& records) {
    std::vector<std::size_t> order(records.Size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto byName = [&](std::size_t a, std::size_t b) {
        return records.Name(a) < records.Name(b);
    };
    if (std::adjacent_find(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return !byName(a, b);
        }) == order.end()) {
        return order;
    }
    std::stable_sort(order.begin(), order.end(), byName);
    std::vector<std::size_t> unique;
    unique.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i + 1 < order.size() && records.Name(order[i]) == records.Name(order[i + 1])) {
            continue;
        }
        unique.push_back(order[i]);
    }
    return unique;
}

// Records of a row read back, packed again to be put beside new ones.
PackedRecords PackEach(const std::vector<NamedRecord>& records) {
    PackedRecords packed;
    for (const auto& [name, record] : records) {
        packed.Add(name, record);
    }
    return packed;
}

// Records to put, in the order they stand in `records`.
std::vector<StateRows::Packed> AsPacked(const PackedRecords& records) {
    std::vector<StateRows::Packed> packed;
    packed.reserve(records.Size());
    for (std::size_t i = 0; i < records.Size(); ++i) {
        packed.push_back({records.Name(i), records.Packing(i)});
    }
    return packed;
}

void Bind(sqlite3_stmt* statement, int column, const std::string& bytes) {
    sqlite3_bind_blob(statement, column, bytes.data(), static_cast<int>(bytes.size()),
                      SQLITE_STATIC);
}

std::string Column(sqlite3_stmt* statement, int column) {
    return {static_cast<const char*>(sqlite3_column_blob(statement, column)),
            static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

// Runs a statement that gives no row, and makes it ready for the next binding.
void Run(const std::string& path, sqlite3* db, sqlite3_stmt* statement) {
    const int code = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (code != SQLITE_DONE) {
        FailStateWith(path, db, code);
    }
}

} // namespace

StateRows::StateRows(const std::string& path, sqlite3* db)
    : m_path(path)
    , m_db(db) {
    try {
        m_at = PrepareState(path, db,
                            "SELECT place, packed FROM records WHERE place >= ?1 AND place <= ?2 "
                            "ORDER BY place DESC LIMIT 1");
        m_first = PrepareState(path, db,
                               "SELECT place FROM records WHERE place >= ?1 AND place < ?2 "
                               "ORDER BY place LIMIT 1");
        m_put = PrepareState(
            path, db, "INSERT OR REPLACE INTO records(place, files, packed) VALUES(?1, ?2, ?3)");
        m_count = PrepareState(path, db,
                               "SELECT total(files) FROM records WHERE place >= ?1 AND place < ?2");
        m_drop = PrepareState(path, db, "DELETE FROM records WHERE place >= ?1 AND place < ?2");
    } catch (...) {
        Finalize();
        throw;
    }
}

StateRows::~StateRows() {
    Finalize();
}

void StateRows::Finalize() {
    for (sqlite3_stmt* const statement : {m_at, m_first, m_put, m_drop, m_count}) {
        sqlite3_finalize(statement);
    }
}

std::size_t StateRows::FolderPartSize(std::string_view path) {
    const std::size_t delimiter = path.rfind('/');
    return delimiter == std::string_view::npos ? 0 : delimiter + 1;
}

std::pair<std::string, std::string> StateRows::Split(const std::string& path) {
    const std::size_t cut = FolderPartSize(path);
    return {path.substr(0, cut), path.substr(cut)};
}

bool StateRows::Row::Takes(const std::string& folder, std::string_view name) const {
    const std::string_view from =
        place.empty() ? std::string_view() : std::string_view(place).substr(folder.size() + 1);
    return name >= from && (!next || name < std::string_view(*next).substr(folder.size() + 1));
}

std::vector<NamedRecord> StateRows::Unpack(const void* bytes, int size) const {
    std::optional<std::vector<NamedRecord>> records =
        UnpackRecords({static_cast<const char*>(bytes), static_cast<std::size_t>(size)});
    if (!records) {
        FailState(m_path, "the state file is damaged (a row of records cannot be read)");
    }
    return std::move(*records);
}

StateRows::Row StateRows::RowHolding(const std::string& folder, const std::string& name) {
    const std::string own = Place(folder, "");
    const std::string at = Place(folder, name);
    Bind(m_at, 1, own);
    Bind(m_at, 2, at);
    Row row;
    const int code = sqlite3_step(m_at);
    if (code == SQLITE_ROW) {
        row.place = Column(m_at, 0);
        try {
            row.records = Unpack(sqlite3_column_blob(m_at, 1), sqlite3_column_bytes(m_at, 1));
        } catch (...) {
            sqlite3_reset(m_at);
            throw;
        }
    }
    sqlite3_reset(m_at);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        FailStateWith(m_path, m_db, code);
    }
    // The next place of the folder is the first one above this row's own.
    row.next = FirstPlace(row.place.empty() ? own : row.place + '\0', OwnEnd(folder));
    return row;
}

std::optional<std::string> StateRows::FirstPlace(const std::string& from,
                                                 const std::string& below) {
    Bind(m_first, 1, from);
    Bind(m_first, 2, below);
    std::optional<std::string> place;
    const int code = sqlite3_step(m_first);
    if (code == SQLITE_ROW) {
        place = Column(m_first, 0);
    }
    sqlite3_reset(m_first);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        FailStateWith(m_path, m_db, code);
    }
    return place;
}

void StateRows::Merge(const std::string& folder, const PackedRecords& fresh) {
    const std::vector<std::size_t> sorted = InNameOrder(fresh);
    for (std::size_t from = 0; from < sorted.size();) {
        Row row = RowHolding(folder, std::string(fresh.Name(sorted[from])));
        std::size_t to = from + 1;
        while (to < sorted.size() && row.Takes(folder, fresh.Name(sorted[to]))) {
            ++to;
        }
        const std::string place = row.place.empty() ? Place(folder, "") : row.place;
        // The row's records beside the new ones, packed again (a row a run changes is
        // rewritten whole), the new ones in place of those of the same names.
        const PackedRecords old = PackEach(row.records);
        std::vector<Packed> merged;
        merged.reserve(old.Size() + (to - from));
        std::size_t kept = 0;
        for (std::size_t i = from; i < to; ++i) {
            const std::string_view name = fresh.Name(sorted[i]);
            for (; kept < old.Size() && old.Name(kept) < name; ++kept) {
                merged.push_back({old.Name(kept), old.Packing(kept)});
            }
            if (kept < old.Size() && old.Name(kept) == name) {
                ++kept;
            }
            merged.push_back({name, fresh.Packing(sorted[i])});
        }
        for (; kept < old.Size(); ++kept) {
            merged.push_back({old.Name(kept), old.Packing(kept)});
        }
        Put(folder, place, merged);
        from = to;
    }
}

std::size_t StateRows::Prune(const std::string& folder, const std::vector<std::string>& names) {
    const std::optional<std::string> below = BelowEnd(folder);
    if (!below) {
        return 0;
    }
    const auto listed = [&](const std::string& name) {
        return std::binary_search(names.begin(), names.end(), name);
    };
    std::size_t dropped = 0;
    for (std::optional<std::string> place = FirstPlace(Place(folder, ""), OwnEnd(folder)); place;) {
        Row row = RowHolding(folder, place->substr(folder.size() + 1));
        const std::size_t before = row.records.size();
        std::erase_if(row.records, [&](const NamedRecord& record) { return !listed(record.name); });
        if (row.records.size() != before) {
            dropped += before - row.records.size();
            Put(folder, row.place, AsPacked(PackEach(row.records)));
        }
        place = std::move(row.next);
    }
    // Each subfolder is met once, by the first of its rows, and the search goes on after all
    // of them: the cost is one look-up per subfolder, however many files lie below it.
    for (std::optional<std::string> place = FirstPlace(OwnEnd(folder), *below); place;) {
        const std::size_t stop = place->find_first_of(std::string_view("/\0", 2), folder.size());
        const std::string sub = place->substr(0, stop == std::string::npos ? place->size() : stop);
        if (!listed(sub.substr(folder.size()))) {
            DropBetween(sub + '/', sub + '0');
            ++dropped;
        }
        place = FirstPlace(sub + '0', *below);
    }
    return dropped;
}

void StateRows::Put(const std::string& folder, const std::string& place,
                    std::span<const Packed> records) {
    if (records.empty()) {
        DropBetween(place, place + '\0');
        return;
    }
    std::string packed;
    for (std::size_t from = 0; from < records.size(); from += kRunLength) {
        const std::span<const Packed> run =
            records.subspan(from, std::min(kRunLength, records.size() - from));
        const std::string key = from == 0 ? place : Place(folder, run.front().name);
        packed.clear();
        for (const Packed& record : run) {
            packed += record.packing;
        }
        Bind(m_put, 1, key);
        sqlite3_bind_int64(m_put, 2, static_cast<sqlite3_int64>(run.size()));
        Bind(m_put, 3, packed);
        Run(m_path, m_db, m_put);
    }
}

void StateRows::DropBetween(const std::string& from, const std::string& below) {
    Bind(m_drop, 1, from);
    Bind(m_drop, 2, below);
    Run(m_path, m_db, m_drop);
}

std::size_t StateRows::FilesBelow(const std::string& folder) {
    const std::optional<std::string> below = BelowEnd(folder);
    if (!below) {
        return 0;
    }
    Bind(m_count, 1, folder);
    Bind(m_count, 2, *below);
    const int code = sqlite3_step(m_count);
    const double files = code == SQLITE_ROW ? sqlite3_column_double(m_count, 0) : 0;
    sqlite3_reset(m_count);
    if (code != SQLITE_ROW) {
        FailStateWith(m_path, m_db, code);
    }
    return files > 0 ? static_cast<std::size_t>(files) : 0;
}

} // namespace vorn
