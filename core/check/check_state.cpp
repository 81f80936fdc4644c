#include "core/check/check_state.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/os/retry_on_interrupt.h"

namespace vorn {

namespace {

// "Vorn" in the header's application id: a database of another program is no state file.
constexpr int kApplicationId = 0x566f726e;
constexpr int kSchemaVersion = 1;
constexpr int kBusyMilliseconds = 10000;
// A look-up reads a few pages of the key's path through the tree, which the system's page cache
// keeps anyway: each read connection holds a small cache of its own, so that memory does not
// grow with the state, however many connections the I/O threads use. The writing connection
// walks every row below a folder to find what is gone: its cache is bounded as well.
constexpr const char* kReaderCache = "PRAGMA cache_size=-64";
constexpr const char* kWriterCache = "PRAGMA cache_size=-256";

// Without a row id the path is the key itself: a row costs the path and its fields only.
constexpr const char* kSchema = R"(
CREATE TABLE files(
    path BLOB PRIMARY KEY NOT NULL,
    device INTEGER NOT NULL,
    inode INTEGER NOT NULL,
    size INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL,
    marker INTEGER NOT NULL,
    deep INTEGER,
    deep_reason TEXT,
    deep_offset INTEGER,
    trailer INTEGER,
    hash BLOB,
    checked_at INTEGER NOT NULL,
    changed_since INTEGER
) WITHOUT ROWID;
)";

// The records a caller may hand over before it waits for the writing thread; it is woken once
// this many are waiting, so that it takes them in runs rather than one by one.
constexpr std::size_t kQueueCapacity = 4096;
constexpr std::size_t kWakeAt = 1024;

constexpr const char* kColumns = "device, inode, size, mtime_ns, marker, deep, deep_reason, "
                                 "deep_offset, trailer, hash, checked_at, changed_since";

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    throw CheckStateError(path + ": " + what);
}

// SQLite's word for what went wrong, in the terms of a state file.
[[noreturn]] void FailWith(const std::string& path, sqlite3* db, int code) {
    const int primary = code & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        Fail(path, "the state is in use by another run");
    }
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        Fail(path, "the state file is damaged (" + std::string(sqlite3_errstr(code)) + ")");
    }
    Fail(path, db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

void Exec(const std::string& path, sqlite3* db, const char* sql) {
    if (const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); code != SQLITE_OK) {
        FailWith(path, db, code);
    }
}

// The first column of the first row of `sql`, as text.
std::string QueryText(const std::string& path, sqlite3* db, const char* sql) {
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
        FailWith(path, db, code);
    }
    return text;
}

sqlite3_stmt* Prepare(const std::string& path, sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (const int code = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
        code != SQLITE_OK) {
        FailWith(path, db, code);
    }
    return statement;
}

bool HasSqliteHeader(int fd) {
    static constexpr char kHeader[] = "SQLite format 3";
    char bytes[sizeof kHeader] = {};
    return RetryOnInterrupt([&] { return ::pread(fd, bytes, sizeof bytes, 0); }) ==
               static_cast<ssize_t>(sizeof bytes) &&
           std::memcmp(bytes, kHeader, sizeof kHeader) == 0;
}

CheckRecord ReadRecord(sqlite3_stmt* row) {
    CheckRecord record;
    record.identity.device = static_cast<std::uint64_t>(sqlite3_column_int64(row, 0));
    record.identity.inode = static_cast<std::uint64_t>(sqlite3_column_int64(row, 1));
    record.identity.size = static_cast<std::uint64_t>(sqlite3_column_int64(row, 2));
    record.identity.modifiedNs = sqlite3_column_int64(row, 3);
    record.marker = static_cast<MarkerVerdict>(sqlite3_column_int(row, 4));
    if (sqlite3_column_type(row, 5) != SQLITE_NULL) {
        DeepCheckResult deep;
        deep.verdict = static_cast<DeepVerdict>(sqlite3_column_int(row, 5));
        if (const unsigned char* reason = sqlite3_column_text(row, 6)) {
            deep.reason = reinterpret_cast<const char*>(reason);
        }
        if (sqlite3_column_type(row, 7) != SQLITE_NULL) {
            deep.offset = static_cast<std::uint64_t>(sqlite3_column_int64(row, 7));
        }
        deep.trailer = static_cast<TrailerKind>(sqlite3_column_int(row, 8));
        record.deep = std::move(deep);
    }
    if (sqlite3_column_bytes(row, 9) == static_cast<int>(sizeof(ContentHash))) {
        ContentHash hash;
        std::memcpy(hash.data(), sqlite3_column_blob(row, 9), hash.size());
        record.hash = hash;
    }
    record.checkedAt = sqlite3_column_int64(row, 10);
    if (sqlite3_column_type(row, 11) != SQLITE_NULL) {
        record.changedSince = sqlite3_column_int64(row, 11);
    }
    return record;
}

} // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) noexcept {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return IdentityOf(info);
}

FileIdentity IdentityOf(const struct stat& info) noexcept {
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino),
                        static_cast<std::uint64_t>(info.st_size),
                        std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec};
}

bool MayReuse(const CheckRecord& remembered, const FileIdentity& current, bool deepAsked,
              std::int64_t now, std::optional<std::int64_t> recheckAfterSeconds) {
    if (remembered.identity != current || (deepAsked && !remembered.deep)) {
        return false;
    }
    return !recheckAfterSeconds || now - remembered.checkedAt < *recheckAfterSeconds;
}

bool ChangedOnDisk(const CheckRecord& remembered, const CheckRecord& fresh) {
    return remembered.identity == fresh.identity && remembered.hash && fresh.hash &&
           *remembered.hash != *fresh.hash;
}

CheckRecord RecordToKeep(const std::optional<CheckRecord>& remembered, CheckRecord fresh) {
    if (!remembered || remembered->identity != fresh.identity) {
        return fresh;
    }
    if (remembered->deep && !fresh.deep) {
        if (fresh.marker == remembered->marker) {
            return *remembered;
        }
        fresh.hash = remembered->hash;
        fresh.checkedAt = remembered->checkedAt;
        fresh.changedSince = remembered->changedSince;
        return fresh;
    }
    if (remembered->changedSince) {
        fresh.changedSince = remembered->changedSince;
    } else if (ChangedOnDisk(*remembered, fresh)) {
        fresh.changedSince = remembered->checkedAt;
    }
    return fresh;
}

struct CheckState::Reader {
    sqlite3* db = nullptr;
    sqlite3_stmt* find = nullptr;
    ~Reader() {
        sqlite3_finalize(find);
        sqlite3_close(db);
    }
};

CheckState::CheckState(const std::string& path)
    : m_path(path) {
    // The descriptor stays open to the end: it holds the lock that keeps a second run out,
    // and closing another descriptor of the file would drop SQLite's own locks.
    bool made = false;
    m_lockFd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (m_lockFd < 0 && errno == ENOENT) {
        m_lockFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        made = m_lockFd >= 0;
    }
    if (m_lockFd < 0) {
        // A link could lead the run to write over a file its owner never meant for this.
        Fail(path, errno == ELOOP ? "a link, not a state file: name the file itself"
                                  : std::strerror(errno));
    }
    try {
        struct stat info {};
        if (::fstat(m_lockFd, &info) != 0 || !S_ISREG(info.st_mode)) {
            Fail(path, "not a state file");
        }
        if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
            Fail(path, errno == EWOULDBLOCK ? "the state is in use by another run"
                                            : std::strerror(errno));
        }
        // An empty file is one this program made and left before its first commit.
        made = made || info.st_size == 0;
        if (!made && !HasSqliteHeader(m_lockFd)) {
            Fail(path, "not a state file of vorn-check");
        }
        // The allocator's statistics take a global lock on every allocation, and nothing reads
        // them. The setting holds only before the library's first use, and is then refused.
        static const int memoryStatus = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        (void)memoryStatus;
        // The writing connection is used by one thread at a time: it needs no lock of its own.
        if (const int code = sqlite3_open_v2(path.c_str(), &m_db,
                                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
            code != SQLITE_OK) {
            FailWith(path, m_db, code);
        }
        sqlite3_busy_timeout(m_db, kBusyMilliseconds);
        if (made) {
            Exec(path, m_db, "PRAGMA journal_mode=WAL");
            Exec(path, m_db, "BEGIN");
            Exec(path, m_db, kSchema);
            Exec(path, m_db,
                 ("PRAGMA application_id=" + std::to_string(kApplicationId) +
                  "; PRAGMA user_version=" + std::to_string(kSchemaVersion))
                     .c_str());
            Exec(path, m_db, "COMMIT");
        } else {
            // Nothing is written before the file is known to be a sound state of this version.
            if (QueryText(path, m_db, "PRAGMA application_id") != std::to_string(kApplicationId)) {
                Fail(path, "not a state file of vorn-check");
            }
            if (QueryText(path, m_db, "PRAGMA user_version") != std::to_string(kSchemaVersion)) {
                Fail(path, "a state file of another version of vorn-check");
            }
            if (const std::string check = QueryText(path, m_db, "PRAGMA quick_check");
                check != "ok") {
                std::string what = check.substr(0, check.find('\n'));
                Fail(path, "the state file is damaged (" + what + ")");
            }
            Exec(path, m_db, "PRAGMA journal_mode=WAL");
        }
        // In write-ahead-log mode a commit without a sync can be lost in a power cut, never
        // the file: what was synced at the last checkpoint stays.
        Exec(path, m_db, "PRAGMA synchronous=NORMAL");
        Exec(path, m_db, kWriterCache);
        m_heldNothingAtOpen =
            made || QueryText(path, m_db, "SELECT EXISTS(SELECT 1 FROM files)") == "0";
        m_insert = Prepare(path, m_db,
                           std::string("INSERT OR REPLACE INTO files(path, ") + kColumns +
                               ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        m_below = Prepare(path, m_db, "SELECT path FROM files WHERE path >= ?1 AND path < ?2");
        m_forget = Prepare(path, m_db, "DELETE FROM files WHERE path = ?1");
        m_queue.reserve(kQueueCapacity);
        m_writer = std::thread([this] { WriteLoop(); });
    } catch (...) {
        sqlite3_finalize(m_forget);
        sqlite3_finalize(m_below);
        sqlite3_finalize(m_insert);
        sqlite3_close(m_db);
        ::close(m_lockFd);
        throw;
    }
}

CheckState::~CheckState() {
    // The writing thread commits what it was handed before it ends; a batch it cannot commit
    // is lost, and what was committed before stays.
    {
        const std::lock_guard lock(m_queueMutex);
        m_closing = true;
    }
    m_work.notify_one();
    m_writer.join();
    m_readers.clear();
    sqlite3_finalize(m_forget);
    sqlite3_finalize(m_below);
    sqlite3_finalize(m_insert);
    sqlite3_close(m_db);
    ::close(m_lockFd);
}

std::unique_ptr<CheckState::Reader> CheckState::TakeReader() const {
    {
        const std::lock_guard lock(m_readersMutex);
        if (!m_readers.empty()) {
            std::unique_ptr<Reader> reader = std::move(m_readers.back());
            m_readers.pop_back();
            return reader;
        }
    }
    auto reader = std::make_unique<Reader>();
    if (const int code = sqlite3_open_v2(m_path.c_str(), &reader->db,
                                         SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        code != SQLITE_OK) {
        FailWith(m_path, reader->db, code);
    }
    sqlite3_busy_timeout(reader->db, kBusyMilliseconds);
    Exec(m_path, reader->db, kReaderCache);
    reader->find = Prepare(m_path, reader->db,
                           std::string("SELECT ") + kColumns + " FROM files WHERE path = ?1");
    return reader;
}

void CheckState::GiveBack(std::unique_ptr<Reader> reader) const {
    const std::lock_guard lock(m_readersMutex);
    m_readers.push_back(std::move(reader));
}

std::optional<CheckRecord> CheckState::Find(const std::string& path) const {
    std::unique_ptr<Reader> reader = TakeReader();
    sqlite3_stmt* const find = reader->find;
    sqlite3_bind_blob(find, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    std::optional<CheckRecord> record;
    const int code = sqlite3_step(find);
    if (code == SQLITE_ROW) {
        record = ReadRecord(find);
    }
    sqlite3_reset(find);
    sqlite3_clear_bindings(find);
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        FailWith(m_path, reader->db, code);
    }
    GiveBack(std::move(reader));
    return record;
}

void CheckState::Record(std::string path, CheckRecord record) {
    Hand(Job{std::move(path), std::move(record), false, {}});
}

void CheckState::ForgetGone(std::string folder, std::vector<std::string> names) {
    if (!folder.empty()) {
        Hand(Job{std::move(folder), {}, true, std::move(names)});
    }
}

void CheckState::Hand(Job job) {
    std::unique_lock lock(m_queueMutex);
    m_room.wait(lock, [&] { return m_queue.size() < kQueueCapacity || m_failure; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    m_queue.push_back(std::move(job));
    const bool wake = m_writerWaits && m_queue.size() >= kWakeAt;
    lock.unlock();
    if (wake) {
        m_work.notify_one();
    }
}

void CheckState::Commit() {
    std::unique_lock lock(m_queueMutex);
    const std::uint64_t ticket = ++m_flushAsked;
    m_work.notify_one();
    m_room.wait(lock, [&] { return m_flushDone >= ticket; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
}

void CheckState::WriteLoop() {
    using Clock = std::chrono::steady_clock;
    const auto commitEvery =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kCommitSeconds));
    std::vector<Job> jobs;
    jobs.reserve(kQueueCapacity);
    Clock::time_point batchStarted;
    bool failed = false;
    for (bool closing = false; !closing;) {
        try {
            // A transaction stays open between batches: while this connection holds the file,
            // the look-ups' connections in this process share its lock instead of taking and
            // dropping one of their own with a system call each time.
            if (!failed) {
                Begin();
            }
        } catch (...) {
            failed = true;
            const std::lock_guard lock(m_queueMutex);
            m_failure = std::current_exception();
        }
        std::uint64_t flush = 0;
        {
            std::unique_lock lock(m_queueMutex);
            const auto ready = [&] {
                return m_queue.size() >= kWakeAt || m_flushAsked != m_flushDone || m_closing;
            };
            m_writerWaits = true;
            if (m_pending > 0) {
                m_work.wait_until(lock, batchStarted + commitEvery, ready);
            } else {
                m_work.wait(lock, ready);
            }
            m_writerWaits = false;
            jobs.swap(m_queue);
            flush = m_flushAsked;
            closing = m_closing;
        }
        m_room.notify_all();
        if (!failed) {
            try {
                for (const Job& job : jobs) {
                    const std::size_t before = m_pending;
                    Write(job);
                    if (before == 0 && m_pending > 0) {
                        batchStarted = Clock::now();
                    }
                }
                if (closing || (m_pending > 0 && (flush != m_flushDone ||
                                                  Clock::now() - batchStarted >= commitEvery))) {
                    CommitBatch();
                }
            } catch (...) {
                failed = true;
                const std::lock_guard lock(m_queueMutex);
                m_failure = std::current_exception();
            }
        }
        jobs.clear();
        {
            const std::lock_guard lock(m_queueMutex);
            m_flushDone = flush;
        }
        m_room.notify_all();
    }
}

void CheckState::Write(const Job& job) {
    if (job.forget) {
        WriteForget(job.path, job.names);
    } else {
        WriteRecord(job.path, job.record);
    }
}

void CheckState::Begin() {
    if (!m_inTransaction) {
        Exec(m_path, m_db, "BEGIN IMMEDIATE");
        m_inTransaction = true;
    }
}

void CheckState::WriteRecord(const std::string& path, const CheckRecord& record) {
    Begin();
    sqlite3_stmt* const s = m_insert;
    const auto int64 = [&](int column, auto value) {
        sqlite3_bind_int64(s, column, static_cast<sqlite3_int64>(value));
    };
    sqlite3_bind_blob(s, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    int64(2, record.identity.device);
    int64(3, record.identity.inode);
    int64(4, record.identity.size);
    int64(5, record.identity.modifiedNs);
    int64(6, static_cast<int>(record.marker));
    if (record.deep) {
        int64(7, static_cast<int>(record.deep->verdict));
        if (!record.deep->reason.empty()) {
            sqlite3_bind_text(s, 8, record.deep->reason.data(),
                              static_cast<int>(record.deep->reason.size()), SQLITE_STATIC);
        }
        if (record.deep->offset) {
            int64(9, *record.deep->offset);
        }
        int64(10, static_cast<int>(record.deep->trailer));
    }
    if (record.hash) {
        sqlite3_bind_blob(s, 11, record.hash->data(), static_cast<int>(record.hash->size()),
                          SQLITE_STATIC);
    }
    int64(12, record.checkedAt);
    if (record.changedSince) {
        int64(13, *record.changedSince);
    }
    const int code = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (code != SQLITE_DONE) {
        FailWith(m_path, m_db, code);
    }
    if (++m_pending >= kBatch) {
        CommitBatch();
    }
}

void CheckState::WriteForget(const std::string& folder, const std::vector<std::string>& names) {
    // Every path below the folder sorts between the folder's text with its delimiter and the
    // same text with the byte after the delimiter.
    std::string end = folder;
    ++end.back();
    Begin();
    sqlite3_stmt* const below = m_below;
    sqlite3_bind_blob(below, 1, folder.data(), static_cast<int>(folder.size()), SQLITE_STATIC);
    sqlite3_bind_blob(below, 2, end.data(), static_cast<int>(end.size()), SQLITE_STATIC);
    std::vector<std::string> gone;
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(below)) == SQLITE_ROW) {
        const std::string path(static_cast<const char*>(sqlite3_column_blob(below, 0)),
                               static_cast<std::size_t>(sqlite3_column_bytes(below, 0)));
        const std::size_t stop = path.find('/', folder.size());
        const std::string name =
            path.substr(folder.size(), stop == std::string::npos ? stop : stop - folder.size());
        if (!std::binary_search(names.begin(), names.end(), name)) {
            gone.push_back(path);
        }
    }
    sqlite3_reset(below);
    sqlite3_clear_bindings(below);
    if (code != SQLITE_DONE) {
        FailWith(m_path, m_db, code);
    }
    m_pending += gone.size();
    for (const std::string& path : gone) {
        sqlite3_bind_blob(m_forget, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        code = sqlite3_step(m_forget);
        sqlite3_reset(m_forget);
        if (code != SQLITE_DONE) {
            FailWith(m_path, m_db, code);
        }
    }
}

void CheckState::CommitBatch() {
    if (m_inTransaction) {
        m_inTransaction = false;
        m_pending = 0;
        Exec(m_path, m_db, "COMMIT");
    }
}

} // namespace vorn
