#pragma once
// What earlier runs found, kept in an SQLite file so that a later run over a library that grows
// for years reads only what is new or changed. One row per file: its path bytes, its identity
// (device, inode, size, modification time in nanoseconds), the marker verdict, the picture
// verdict when the picture was checked, a 128-bit hash of the bytes the picture check read, and
// when it was checked.
//
// The file is opened in write-ahead-log mode and results are committed in batches, so a run cut
// short (a signal, a power cut) keeps what it had committed. One run at a time: another run on
// the same file is told that it is in use. A file that is not a state file, or a damaged one, is
// refused before anything is written to it. A new state file is readable by its owner alone.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
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

    // Records a file's check. Called from one thread; committed with the batch.
    void Record(const std::string& path, const CheckRecord& record);

    // Drops the records of the entries of `folder` (with its trailing delimiter) whose first
    // name below it is not in `names` (sorted): files and folders gone since.
    void ForgetGone(const std::string& folder, const std::vector<std::string>& names);

    // Commits the batch being written. Also done every kBatch records and at the end.
    void Commit();

    static constexpr std::size_t kBatch = 1000;

private:
    struct Reader;
    std::unique_ptr<Reader> TakeReader() const;
    void GiveBack(std::unique_ptr<Reader> reader) const;
    void Begin();

    std::string m_path;
    int m_lockFd = -1;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    std::size_t m_pending = 0;
    bool m_inTransaction = false;
    bool m_heldNothingAtOpen = false;
    mutable std::mutex m_readersMutex;
    mutable std::vector<std::unique_ptr<Reader>> m_readers;
};

} // namespace vorn
