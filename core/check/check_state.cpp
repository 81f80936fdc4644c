#include "core/check/check_state.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/check/sqlite_calls.h"
#include "core/check/state_rows.h"
#include "core/os/retry_on_interrupt.h"

namespace vorn {

namespace {

// "Vorn" in the header's application id: a database of another program is no state file.
constexpr int kApplicationId = 0x566f726e;
// 1: a row per file, the path its key. 2: a row per run of a folder's files (StateRows), the
// rows themselves the keys. 3: the same rows, their places in an index of their own.
constexpr int kFileRowsVersion = 1;
constexpr int kRowKeysVersion = 2;
constexpr int kSchemaVersion = 3;
constexpr int kBusyMilliseconds = 10000;
// A look-up reads a few pages of the key's path through the tree, which the system's page cache
// keeps anyway: each read connection holds a small cache of its own, so that memory does not
// grow with the state, however many connections the I/O threads use. The writing connection
// rewrites the rows a batch touches: its cache is bounded as well.
constexpr const char* kReaderCache = "PRAGMA cache_size=-64";
constexpr const char* kWriterCache = "PRAGMA cache_size=-256";

// The places are found through their own index, whose entries are small: a row of packed records
// outgrows its page, and with the rows themselves as the keys (a table without row ids) every
// comparison on the way to a place read a whole row, several pages, to compare its first
// column. A look-up then cost 70 us; a second run of a large library spent a third of its time
// in them.
constexpr const char* kSchema = R"(
CREATE TABLE records(
    place BLOB PRIMARY KEY NOT NULL,
    files INTEGER NOT NULL,
    packed BLOB NOT NULL
);
)";

// The records a caller may hand over before it waits for the writing thread; it is woken once
// this many are waiting, so that it takes them in runs rather than one by one. A folder to
// prune weighs as much as its names: a run that finds everything remembered hands over nothing
// else, and its folders' names must not pile up until the end.
constexpr std::size_t kQueueCapacity = 4096;
constexpr std::size_t kWakeAt = 1024;

// A state of the earlier layout is moved this many records at a time, so that moving a large one
// holds no more than these in memory.
constexpr std::size_t kMoveRun = 16000;

// The columns of the earlier layout, in the order ReadFileRow takes them.
constexpr const char* kFileRowColumns =
    "path, device, inode, size, mtime_ns, marker, deep, deep_reason, deep_offset, trailer, hash, "
    "checked_at, changed_since";

bool HasSqliteHeader(int fd) {
    static constexpr char kHeader[] = "SQLite format 3";
    char bytes[sizeof kHeader] = {};
    return RetryOnInterrupt([&] { return ::pread(fd, bytes, sizeof bytes, 0); }) ==
               static_cast<ssize_t>(sizeof bytes) &&
           std::memcmp(bytes, kHeader, sizeof kHeader) == 0;
}

// A row of the earlier layout, columns as kFileRowColumns, after the path.
CheckRecord ReadFileRow(sqlite3_stmt* row) {
    CheckRecord record;
    record.identity.device = static_cast<std::uint64_t>(sqlite3_column_int64(row, 1));
    record.identity.inode = static_cast<std::uint64_t>(sqlite3_column_int64(row, 2));
    record.identity.size = static_cast<std::uint64_t>(sqlite3_column_int64(row, 3));
    record.identity.modifiedNs = sqlite3_column_int64(row, 4);
    record.marker = static_cast<MarkerVerdict>(std::clamp(sqlite3_column_int(row, 5), 0, 3));
    if (sqlite3_column_type(row, 6) != SQLITE_NULL) {
        DeepCheckResult deep;
        deep.verdict = static_cast<DeepVerdict>(std::clamp(sqlite3_column_int(row, 6), 0, 3));
        if (const unsigned char* reason = sqlite3_column_text(row, 7)) {
            deep.reason = reinterpret_cast<const char*>(reason);
        }
        if (sqlite3_column_type(row, 8) != SQLITE_NULL) {
            deep.offset = static_cast<std::uint64_t>(sqlite3_column_int64(row, 8));
        }
        deep.trailer = static_cast<TrailerKind>(std::clamp(sqlite3_column_int(row, 9), 0, 4));
        record.deep = std::move(deep);
    }
    if (sqlite3_column_bytes(row, 10) == static_cast<int>(sizeof(ContentHash))) {
        ContentHash hash;
        std::memcpy(hash.data(), sqlite3_column_blob(row, 10), hash.size());
        record.hash = hash;
    }
    record.checkedAt = sqlite3_column_int64(row, 11);
    if (sqlite3_column_type(row, 12) != SQLITE_NULL) {
        record.changedSince = sqlite3_column_int64(row, 12);
    }
    return record;
}

} // namespace

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
    std::unique_ptr<StateRows> rows;
    ~Reader() {
        rows.reset();
        sqlite3_close(db);
    }
};

struct CheckState::ReadRow {
    std::uint64_t commits = 0;
    std::string folder;
    StateRows::Row row;
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
        FailState(path, errno == ELOOP ? "a link, not a state file: name the file itself"
                                       : std::strerror(errno));
    }
    try {
        struct stat info {};
        if (::fstat(m_lockFd, &info) != 0 || !S_ISREG(info.st_mode)) {
            FailState(path, "not a state file");
        }
        if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
            FailState(path, errno == EWOULDBLOCK ? "the state is in use by another run"
                                                 : std::strerror(errno));
        }
        // An empty file is one this program made and left before its first commit.
        made = made || info.st_size == 0;
        if (!made && !HasSqliteHeader(m_lockFd)) {
            FailState(path, "not a state file of vorn-check");
        }
        // The allocator's statistics take a global lock on every allocation, and nothing reads
        // them. The setting holds only before the library's first use, and is then refused.
        static const int memoryStatus = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        (void)memoryStatus;
        // The writing connection is used by one thread at a time: it needs no lock of its own.
        if (const int code = sqlite3_open_v2(path.c_str(), &m_db,
                                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
            code != SQLITE_OK) {
            FailStateWith(path, m_db, code);
        }
        sqlite3_busy_timeout(m_db, kBusyMilliseconds);
        // Before the check of a whole file, which would otherwise fill the default cache.
        ExecState(path, m_db, kWriterCache);
        bool fileRows = false;
        bool rowKeys = false;
        if (made) {
            // Fixed by the first write. A row of a folder's records (7 KB for 94 files) fits one
            // page of this size, where with the default 4 KB it spilled onto a page of its own:
            // the writing thread spent a fifth less on a first run of 94,000 files.
            ExecState(path, m_db, "PRAGMA page_size=8192");
            ExecState(path, m_db, "PRAGMA journal_mode=WAL");
            ExecState(path, m_db, "BEGIN");
            ExecState(path, m_db, kSchema);
            ExecState(path, m_db,
                      ("PRAGMA application_id=" + std::to_string(kApplicationId) +
                       "; PRAGMA user_version=" + std::to_string(kSchemaVersion))
                          .c_str());
            ExecState(path, m_db, "COMMIT");
        } else {
            // Nothing is written before the file is known to be a sound state of this version.
            if (QueryStateText(path, m_db, "PRAGMA application_id") !=
                std::to_string(kApplicationId)) {
                FailState(path, "not a state file of vorn-check");
            }
            const std::string version = QueryStateText(path, m_db, "PRAGMA user_version");
            fileRows = version == std::to_string(kFileRowsVersion);
            rowKeys = version == std::to_string(kRowKeysVersion);
            if (!fileRows && !rowKeys && version != std::to_string(kSchemaVersion)) {
                FailState(path, "a state file of another version of vorn-check");
            }
            if (const std::string check = QueryStateText(path, m_db, "PRAGMA quick_check");
                check != "ok") {
                std::string what = check.substr(0, check.find('\n'));
                FailState(path, "the state file is damaged (" + what + ")");
            }
            ExecState(path, m_db, "PRAGMA journal_mode=WAL");
        }
        // In write-ahead-log mode a commit without a sync can be lost in a power cut, never
        // the file: what was synced at the last checkpoint stays.
        ExecState(path, m_db, "PRAGMA synchronous=NORMAL");
        // The log is copied into the file every 256 pages (2 MB), by the writing thread while
        // the walk goes on. What is left is copied when the file is closed, after the last
        // file was reported: with the default of 1000 pages that took 10 ms at the end of a
        // first run of 94,000 files, now 2 ms.
        ExecState(path, m_db, "PRAGMA wal_autocheckpoint=256");
        if (fileRows) {
            MoveFileRows();
        } else if (rowKeys) {
            IndexPlaces();
        }
        m_rows = std::make_unique<StateRows>(path, m_db);
        m_heldNothingAtOpen =
            QueryStateText(path, m_db, "SELECT EXISTS(SELECT 1 FROM records)") == "0";
        m_queue.reserve(kQueueCapacity);
        m_writer = std::thread([this] {
#ifdef __linux__
            // Told apart from the program's own threads in a profile or a process list.
            ::pthread_setname_np(::pthread_self(), "vorn-state");
#endif
            WriteLoop();
        });
    } catch (...) {
        m_rows.reset();
        sqlite3_close(m_db);
        ::close(m_lockFd);
        throw;
    }
}

// A state of the earlier layout gets the new table, the records of its rows and the new version
// in one transaction: a run cut short meanwhile leaves it as it was.
void CheckState::MoveFileRows() {
    ExecState(m_path, m_db, "BEGIN IMMEDIATE");
    try {
        ExecState(m_path, m_db, kSchema);
        m_rows = std::make_unique<StateRows>(m_path, m_db);
        sqlite3_stmt* const rows =
            PrepareState(m_path, m_db, std::string("SELECT ") + kFileRowColumns + " FROM files");
        int code = SQLITE_ROW;
        std::size_t unwritten = 0;
        try {
            while ((code = sqlite3_step(rows)) == SQLITE_ROW) {
                const auto [folder, name] = StateRows::Split(
                    std::string(static_cast<const char*>(sqlite3_column_blob(rows, 0)),
                                static_cast<std::size_t>(sqlite3_column_bytes(rows, 0))));
                m_unwritten[folder].Add(name, ReadFileRow(rows));
                if (++unwritten % kMoveRun == 0) {
                    WriteUnwritten();
                }
            }
        } catch (...) {
            sqlite3_finalize(rows);
            throw;
        }
        sqlite3_finalize(rows);
        if (code != SQLITE_DONE) {
            FailStateWith(m_path, m_db, code);
        }
        WriteUnwritten();
        m_rows.reset();
        ExecState(m_path, m_db, "DROP TABLE files");
        ExecState(m_path, m_db, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        ExecState(m_path, m_db, "COMMIT");
    } catch (...) {
        m_unwritten.clear();
        m_rows.reset();
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

// A state whose rows were their own keys gets the same rows with their places indexed and the
// new version, in one transaction: a run cut short meanwhile leaves it as it was.
void CheckState::IndexPlaces() {
    ExecState(m_path, m_db, "BEGIN IMMEDIATE");
    try {
        ExecState(m_path, m_db, "ALTER TABLE records RENAME TO keyed_records");
        ExecState(m_path, m_db, kSchema);
        ExecState(m_path, m_db,
                  "INSERT INTO records(place, files, packed) "
                  "SELECT place, files, packed FROM keyed_records ORDER BY place");
        ExecState(m_path, m_db, "DROP TABLE keyed_records");
        ExecState(m_path, m_db, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        ExecState(m_path, m_db, "COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

CheckState::~CheckState() {
    // The writing thread commits what it was handed before it ends; a batch it cannot commit
    // is lost, and what was committed before stays.
    try {
        HandGathered();
    } catch (...) {
        // An earlier write failed: what was gathered since cannot be kept either.
    }
    {
        const std::lock_guard lock(m_queueMutex);
        m_closing = true;
    }
    m_work.notify_one();
    m_writer.join();
    m_readRows.clear();
    m_readers.clear();
    m_rows.reset();
    sqlite3_close(m_db);
    ::close(m_lockFd);
}

std::size_t CheckState::MaxReaders() {
    return std::max<std::size_t>(4, std::thread::hardware_concurrency());
}

// A read connection taken for one look-up, given back at the end of it.
class CheckState::ReaderLease {
public:
    explicit ReaderLease(const CheckState& state)
        : m_state(state)
        , m_reader(state.TakeReader())
        , m_exceptions(std::uncaught_exceptions()) {}
    ~ReaderLease() {
        m_state.GiveBack(std::move(m_reader), std::uncaught_exceptions() > m_exceptions);
    }
    ReaderLease(const ReaderLease&) = delete;
    ReaderLease& operator=(const ReaderLease&) = delete;

    StateRows& Rows() const { return *m_reader->rows; }

private:
    const CheckState& m_state;
    std::unique_ptr<Reader> m_reader;
    int m_exceptions;
};

std::unique_ptr<CheckState::Reader> CheckState::TakeReader() const {
    {
        std::unique_lock lock(m_readersMutex);
        m_readerFree.wait(lock, [&] { return !m_readers.empty() || m_readersMade < MaxReaders(); });
        if (!m_readers.empty()) {
            std::unique_ptr<Reader> reader = std::move(m_readers.back());
            m_readers.pop_back();
            return reader;
        }
        ++m_readersMade;
    }
    try {
        auto reader = std::make_unique<Reader>();
        if (const int code = sqlite3_open_v2(m_path.c_str(), &reader->db,
                                             SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
            code != SQLITE_OK) {
            FailStateWith(m_path, reader->db, code);
        }
        sqlite3_busy_timeout(reader->db, kBusyMilliseconds);
        ExecState(m_path, reader->db, kReaderCache);
        reader->rows = std::make_unique<StateRows>(m_path, reader->db);
        return reader;
    } catch (...) {
        GiveBack(nullptr, true);
        throw;
    }
}

void CheckState::GiveBack(std::unique_ptr<Reader> reader, bool failed) const {
    {
        const std::lock_guard lock(m_readersMutex);
        if (failed || reader == nullptr) {
            --m_readersMade;
        } else {
            m_readers.push_back(std::move(reader));
        }
    }
    m_readerFree.notify_one();
}

std::optional<CheckRecord> CheckState::Find(const std::string& path) const {
    const auto [folder, name] = StateRows::Split(path);
    // Read before the row: a commit in between makes the next look-up read the row again.
    const std::uint64_t commits = m_commits.load(std::memory_order_acquire);
    std::shared_ptr<const ReadRow> row;
    {
        const std::lock_guard lock(m_readRowsMutex);
        const auto found =
            std::find_if(m_readRows.begin(), m_readRows.end(), [&](const auto& read) {
                return read->commits == commits && read->folder == folder &&
                       read->row.Takes(folder, name);
            });
        if (found != m_readRows.end()) {
            row = *found;
            std::rotate(m_readRows.begin(), found, found + 1);
        }
    }
    if (!row) {
        {
            const ReaderLease reader(*this);
            row = std::make_shared<const ReadRow>(
                ReadRow{commits, folder, reader.Rows().RowHolding(folder, name)});
        }
        const std::lock_guard lock(m_readRowsMutex);
        m_readRows.insert(m_readRows.begin(), row);
        if (m_readRows.size() > kReadRows) {
            m_readRows.pop_back();
        }
    }
    const std::vector<NamedRecord>& records = row->row.records;
    const auto found = std::lower_bound(
        records.begin(), records.end(), name,
        [](const NamedRecord& record, const std::string& key) { return record.name < key; });
    if (found != records.end() && found->name == name) {
        return found->record;
    }
    return std::nullopt;
}

std::size_t CheckState::FilesBelow(const std::string& folder) const {
    const ReaderLease reader(*this);
    return reader.Rows().FilesBelow(folder);
}

void CheckState::Record(const std::string& path, const CheckRecord& record) {
    // The walk hands over a folder's files one after another: they go to the writing thread
    // together, under one copy of the folder's path, and take the queue's lock once.
    const std::size_t cut = StateRows::FolderPartSize(path);
    const std::string_view folder = std::string_view(path).substr(0, cut);
    if (m_gathered.Size() > 0 && folder != m_gatheredFolder) {
        HandGathered();
    }
    const Clock::time_point now = Clock::now();
    if (m_gathered.Size() == 0) {
        m_gatheredFolder.assign(folder);
        m_gatheredSince = now;
    }
    m_gathered.Add(std::string_view(path).substr(cut), record);
    // A slow walk still hands its records over in time for the writing thread's commits.
    if (m_gathered.Size() >= kHandRun ||
        now - m_gatheredSince >= std::chrono::duration<double>(kCommitSeconds)) {
        HandGathered();
    }
}

void CheckState::ForgetGone(std::string folder, std::vector<std::string> names) {
    if (!folder.empty()) {
        HandGathered();
        Hand(Job{std::move(folder), {}, true, std::move(names)});
    }
}

void CheckState::HandGathered() {
    if (m_gathered.Size() > 0) {
        PackedRecords records = std::move(m_gathered);
        m_gathered = PackedRecords();
        Hand(Job{m_gatheredFolder, std::move(records), false, {}});
    }
}

void CheckState::Hand(Job job) {
    std::unique_lock lock(m_queueMutex);
    m_room.wait(lock, [&] { return m_queueWeight < kQueueCapacity || m_failure; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    m_queueWeight += job.records.Size() + job.names.size() + (job.forget ? 1 : 0);
    m_queue.push_back(std::move(job));
    const bool wake = m_writerWaits && m_queueWeight >= kWakeAt;
    lock.unlock();
    if (wake) {
        m_work.notify_one();
    }
}

void CheckState::Commit() {
    HandGathered();
    std::unique_lock lock(m_queueMutex);
    const std::uint64_t ticket = ++m_flushAsked;
    m_work.notify_one();
    m_room.wait(lock, [&] { return m_flushDone >= ticket; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
}

void CheckState::WriteLoop() {
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
                return m_queueWeight >= kWakeAt || m_flushAsked != m_flushDone || m_closing;
            };
            m_writerWaits = true;
            if (m_pending > 0) {
                m_work.wait_until(lock, batchStarted + commitEvery, ready);
            } else {
                m_work.wait(lock, ready);
            }
            m_writerWaits = false;
            jobs.swap(m_queue);
            m_queueWeight = 0;
            flush = m_flushAsked;
            closing = m_closing;
        }
        m_room.notify_all();
        if (!failed) {
            try {
                for (Job& job : jobs) {
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

void CheckState::Write(Job& job) {
    if (job.forget) {
        WriteForget(job.folder, job.names);
    } else {
        WriteRecords(job.folder, job.records);
    }
}

void CheckState::Begin() {
    if (!m_inTransaction) {
        ExecState(m_path, m_db, "BEGIN IMMEDIATE");
        m_inTransaction = true;
    }
}

void CheckState::WriteRecords(std::string& folder, PackedRecords& records) {
    Begin();
    m_pending += records.Size();
    auto unwritten = m_unwritten.find(folder);
    if (unwritten == m_unwritten.end()) {
        m_unwritten.emplace(std::move(folder), std::move(records));
    } else {
        unwritten->second.Append(records);
    }
    if (m_pending >= kBatch) {
        CommitBatch();
    }
}

void CheckState::WriteForget(const std::string& folder, const std::vector<std::string>& names) {
    Begin();
    WriteUnwritten();
    m_pending += m_rows->Prune(folder, names);
}

void CheckState::WriteUnwritten() {
    for (auto& [folder, records] : m_unwritten) {
        m_rows->Merge(folder, records);
    }
    m_unwritten.clear();
}

void CheckState::CommitBatch() {
    if (m_inTransaction) {
        WriteUnwritten();
        m_inTransaction = false;
        m_pending = 0;
        ExecState(m_path, m_db, "COMMIT");
        m_commits.fetch_add(1, std::memory_order_release);
    }
}

} // namespace vorn
