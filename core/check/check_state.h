#pragma once
// What earlier runs found, kept in an SQLite file so that a later run over a library that grows
// for years reads only what is new or changed. One row per file: its path bytes, its identity
// (device, inode, size, modification time in nanoseconds), the marker verdict, the picture
// verdict when the picture was checked, a 128-bit hash of the bytes the picture check read, and
// when it was checked.
//
// The file is opened in write-ahead-log mode and results are committed in batches, so a run cut
// short keeps what it had committed. The records are written on a thread of the state's own,
// fed through a bounded queue, so that the thread that reports does not wait on the database;
// that thread commits at least every kBatch records and every kCommitSeconds, and whatever was
// handed to it once Commit is called or the state is closed (Ctrl+C, SIGTERM). A process killed
// outright keeps every batch committed before; a power cut may lose the batches committed since
// the last checkpoint (commits are not synced one by one), never the file itself. One run at a
// time: another run on the same file is told that it is in use. A file that is not a state file, or
// a damaged one, is refused before anything is written to it. A new state file is readable by its
// owner alone.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "core/check/deep_check.h"
#include "core/check/marker_check.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vorn {

// A state file that cannot be used: not one, damaged, in use, or unwritable. what() says which.
class CheckStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What tells that a file is still the one checked, without reading it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of what `path` names (links followed), or nothing when it cannot be examined.
std::optional<FileIdentity> IdentityOf(const std::string& path) noexcept;
// The identity a status (of an open file) gives.
FileIdentity IdentityOf(const struct stat& info) noexcept;

using ContentHash = std::array<std::uint8_t, 16>;

// A file's check as the state keeps it.
struct CheckRecord {
    FileIdentity identity;
    MarkerVerdict marker = MarkerVerdict::OpenError;
    std::optional<DeepCheckResult> deep; // when the picture was checked
    std::optional<ContentHash> hash;     // of the bytes the picture check read
    std::int64_t checkedAt = 0;          // seconds since the epoch
    // Set when a later check found other bytes under an unchanged identity: when the bytes
    // that were found first had been checked. The file then stays "changed on disk" until its
    // identity changes.
    std::optional<std::int64_t> changedSince;
};

// May `remembered`, the state's record of a file, be reported instead of checking the file
// again? Only when the file's identity is unchanged, the check was at least as deep as the one
// asked for, and, with `recheckAfterSeconds`, it is younger than that at `now`.
bool MayReuse(const CheckRecord& remembered, const FileIdentity& current, bool deepAsked,
              std::int64_t now, std::optional<std::int64_t> recheckAfterSeconds);

// A new check of a file the state remembers with a hash: true when the identity is unchanged
// and the bytes are not, which nobody writing the file can do.
bool ChangedOnDisk(const CheckRecord& remembered, const CheckRecord& fresh);

// What the state is to keep after `fresh`, a new check of a file, when it remembered
// `remembered` of it. A check never erases what a deeper one found: when a check of the markers
// alone meets a file whose picture was checked and whose identity is unchanged, the record of
// the picture check stays as it was if the marker verdict agrees (its check time too, which
// stays the age of the picture check: a run with --recheck-after reads the file again until a
// picture check renews it); if the marker verdict differs, the bytes changed without a write,
// and the new marker verdict is kept without a picture verdict but with the hash and the time
// of the picture check, so that the next picture check reads the file again and finds the
// bytes "changed on disk". A file found "changed on disk" stays so until its identity changes.
CheckRecord RecordToKeep(const std::optional<CheckRecord>& remembered, CheckRecord fresh);

class CheckState {
public:
    // Opens the state at `path`, making it when it does not exist. Throws CheckStateError.
    explicit CheckState(const std::string& path);
    ~CheckState();
    CheckState(const CheckState&) = delete;
    CheckState& operator=(const CheckState&) = delete;

    // The record of `path`. Safe to call from several threads at once: each look-up takes a
    // read connection of its own from a pool (as many as threads look up at once), so look-ups
    // never wait for each other or for the batch being written.
    std::optional<CheckRecord> Find(const std::string& path) const;

    // True when the state held no record when it was opened: a run that checks each path once
    // then has nothing to look up, and nothing it records is gone from a folder it walks.
    bool HeldNothingAtOpen() const { return m_heldNothingAtOpen; }

    // Records a file's check. Called from one thread; committed with the batch. Throws
    // CheckStateError when an earlier write failed (the run cannot go on keeping its results).
    void Record(std::string path, CheckRecord record);

    // Drops the records of the entries of `folder` (with its trailing delimiter) whose first
    // name below it is not in `names` (sorted): files and folders gone since. In order with the
    // records, from the same thread.
    void ForgetGone(std::string folder, std::vector<std::string> names);

    // Returns once everything handed over so far is written and committed; throws
    // CheckStateError when that failed.
    void Commit();

    static constexpr std::size_t kBatch = 1000;
    static constexpr double kCommitSeconds = 0.5;

private:
    struct Reader;
    // A record to write, or with `forget` a folder to prune.
    struct Job {
        std::string path;
        CheckRecord record;
        bool forget = false;
        std::vector<std::string> names;
    };

    std::unique_ptr<Reader> TakeReader() const;
    void GiveBack(std::unique_ptr<Reader> reader) const;
    void Hand(Job job);
    void WriteLoop();
    void Write(const Job& job);
    void WriteRecord(const std::string& path, const CheckRecord& record);
    void WriteForget(const std::string& folder, const std::vector<std::string>& names);
    void Begin();
    void CommitBatch();

    std::string m_path;
    int m_lockFd = -1;
    sqlite3* m_db = nullptr; // the writing thread's alone once it runs
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_below = nullptr;
    sqlite3_stmt* m_forget = nullptr;
    std::size_t m_pending = 0;
    bool m_inTransaction = false;
    bool m_heldNothingAtOpen = false;
    mutable std::mutex m_readersMutex;
    mutable std::vector<std::unique_ptr<Reader>> m_readers;

    // The queue between the callers and the writing thread.
    std::mutex m_queueMutex;
    std::condition_variable m_work; // the writing thread waits for jobs, a flush or the end
    std::condition_variable m_room; // a caller waits for room, or for its flush to be done
    std::vector<Job> m_queue;
    std::uint64_t m_flushAsked = 0;
    std::uint64_t m_flushDone = 0;
    bool m_closing = false;
    bool m_writerWaits = false;
    std::exception_ptr m_failure; // the first write or commit that failed
    std::thread m_writer;
};

} // namespace vorn
