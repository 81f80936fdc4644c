#pragma once
// What earlier runs found, kept in an SQLite file so that a later run over a library that grows
// for years reads only what is new or changed. For each file: its path bytes, its identity
// (device, inode, size, modification time in nanoseconds), the marker verdict, the picture
// verdict when the picture was checked, a 128-bit hash of the bytes the picture check read, and
// when it was checked.
//
// The records of a folder's files are packed together, up to StateRows::kRunLength of them to
// a row of the database (core/check/state_rows.h): a row costs the database about as much as the
// check of a small picture, so a row per file made a first run a third slower than a run without
// a state. A state of the earlier layout, a row per file, is moved to this one when it is opened.
//
// The file is opened in write-ahead-log mode and results are committed in batches, so a run cut
// short keeps what it had committed. The records are written on a thread of the state's own,
// fed through a bounded queue, so that the thread that reports does not wait on the database.
// The caller's records are handed over a folder's run at a time (at most kHandRun records, and
// for no longer than kCommitSeconds), with the folder's path once for all of them; the writing
// thread commits at least every kBatch records and every kCommitSeconds, and whatever was
// handed to it once Commit is called or the state is closed (Ctrl+C, SIGTERM). A process killed
// outright keeps every batch committed before; a power cut may lose the batches committed since
// the last checkpoint (commits are not synced one by one), never the file itself. One run at a
// time: another run on the same file is told that it is in use. A file that is not a state file, or
// a damaged one, is refused before anything is written to it. A new state file is readable by its
// owner alone.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/check/check_record.h"

struct sqlite3;

namespace vorn {

class StateRows;

// A state file that cannot be used: not one, damaged, in use, or unwritable. what() says which.
class CheckStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

    // How many files below `folder` (with its trailing delimiter, subfolders too) the state
    // remembers: what the last walk of it found, for a guess at how long this one takes. Safe
    // to call from any thread, as Find.
    std::size_t FilesBelow(const std::string& folder) const;

    // True when the state held no record when it was opened: a run that checks each path once
    // then has nothing to look up, and nothing it records is gone from a folder it walks.
    bool HeldNothingAtOpen() const { return m_heldNothingAtOpen; }

    // Records a file's check. Called from one thread; committed with the batch. Throws
    // CheckStateError when an earlier write failed (the run cannot go on keeping its results).
    void Record(const std::string& path, const CheckRecord& record);

    // Drops the records of the entries of `folder` (with its trailing delimiter) whose first
    // name below it is not in `names` (sorted): files and folders gone since. In order with the
    // records, from the same thread.
    void ForgetGone(std::string folder, std::vector<std::string> names);

    // Returns once everything handed over so far is written and committed; throws
    // CheckStateError when that failed.
    void Commit();

    // A commit takes and gives back the same locks however much it writes, and writes again the
    // pages above the rows it touched: with 4,000 records a first run of 94,000 files makes 24
    // commits instead of 94, half the lock calls, and writes a quarter less to the log. The time
    // bound keeps what a slow run can lose small.
    static constexpr std::size_t kBatch = 4000;
    static constexpr double kCommitSeconds = 0.5;
    static constexpr std::size_t kHandRun = 64;

private:
    using Clock = std::chrono::steady_clock;
    struct Reader;
    // Records of files of `folder` (with its trailing delimiter) to write, or with `forget` the
    // folder to prune.
    struct Job {
        std::string folder;
        PackedRecords records;
        bool forget = false;
        std::vector<std::string> names;
    };

    class ReaderLease;
    std::unique_ptr<Reader> TakeReader() const;
    // A reader used through a failure is closed, not kept.
    void GiveBack(std::unique_ptr<Reader> reader, bool failed) const;
    void Hand(Job job);
    void HandGathered();
    void WriteLoop();
    void Write(Job& job);
    void WriteRecords(std::string& folder, PackedRecords& records);
    void WriteForget(const std::string& folder, const std::vector<std::string>& names);
    void WriteUnwritten();
    void MoveFileRows();
    void IndexPlaces();
    void Begin();
    void CommitBatch();

    std::string m_path;
    int m_lockFd = -1;
    sqlite3* m_db = nullptr;           // the writing thread's alone once it runs
    std::unique_ptr<StateRows> m_rows; // on m_db
    // Records handed over and not yet in the rows, by folder: a folder's row is written once
    // for all of them.
    std::map<std::string, PackedRecords, std::less<>> m_unwritten;
    std::size_t m_pending = 0;
    // Commits made so far: a look-up's connection keeps the row it read last until the next.
    std::atomic<std::uint64_t> m_commits{0};
    bool m_inTransaction = false;
    bool m_heldNothingAtOpen = false;
    // The look-ups' read connections, made as they are needed, at most MaxReaders(): a look-up
    // is a few microseconds of work on pages the system caches, so more connections than
    // processors gain nothing, while each holds a cache and statements of its own (about 80 KB).
    // With one for every I/O thread that looked up at once, a run's memory grew with the tree
    // until all 32 threads had one.
    static std::size_t MaxReaders();
    mutable std::mutex m_readersMutex;
    mutable std::condition_variable m_readerFree;
    mutable std::vector<std::unique_ptr<Reader>> m_readers; // the free ones
    mutable std::size_t m_readersMade = 0;
    // The rows read last, the latest first, each with the number of commits before it was
    // read: while no commit has come since, a look-up of a name a row takes needs no statement.
    // The walk keeps a few folders in flight, and the I/O threads look up their files in turn:
    // rows are shared by all of them, so that each is read and unpacked once.
    struct ReadRow;
    static constexpr std::size_t kReadRows = 16;
    mutable std::mutex m_readRowsMutex;
    mutable std::vector<std::shared_ptr<const ReadRow>> m_readRows;

    // The caller's records of one folder not handed over yet, and when the first of them came.
    std::string m_gatheredFolder;
    PackedRecords m_gathered;
    Clock::time_point m_gatheredSince;

    // The queue between the callers and the writing thread.
    std::mutex m_queueMutex;
    std::condition_variable m_work; // the writing thread waits for jobs, a flush or the end
    std::condition_variable m_room; // a caller waits for room, or for its flush to be done
    std::vector<Job> m_queue;
    std::size_t m_queueWeight = 0; // its records, and the names of its folders to prune
    std::uint64_t m_flushAsked = 0;
    std::uint64_t m_flushDone = 0;
    bool m_closing = false;
    bool m_writerWaits = false;
    std::exception_ptr m_failure; // the first write or commit that failed
    std::thread m_writer;
};

} // namespace vorn
