#pragma once
// A file's check as the state of earlier runs keeps it, and how the records of a folder's files
// are packed together into one value of the state file.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "core/check/deep_check.h"
#include "core/check/marker_check.h"

namespace vorn {

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

// The record of one file of a folder, under its name in that folder.
struct NamedRecord {
    std::string name;
    CheckRecord record;
};

// The records of files of one folder, sorted by name (byte order), packed into bytes: each
// record's numbers as variable-length integers, so that a record costs a few dozen bytes beside
// its name. Of a picture check the verdict, reason, place and trailer's class are kept (not the
// trailer's size or the scan count, which no later run reports).
std::string PackRecords(std::span<const NamedRecord> records);

// Records of one folder's files, each packed as PackRecords packs it, one after another in the
// order they came: the packing of a run of them in name order is theirs put together in that
// order. The state's writing thread keeps a folder's records so until it writes their rows,
// and puts them in order by moving a few bytes each instead of a whole record.
class PackedRecords {
public:
    void Add(std::string_view name, const CheckRecord& record);
    void Append(const PackedRecords& more);
    std::size_t Size() const { return m_records.size(); }
    // Record `i`'s name and packing.
    std::string_view Name(std::size_t i) const;
    std::string_view Packing(std::size_t i) const;

private:
    struct Extent {
        std::size_t start = 0;
        std::size_t nameStart = 0;
        std::size_t nameSize = 0;
    };
    std::string m_bytes;
    std::vector<Extent> m_records;
};

// The records PackRecords packed, or nothing when `bytes` are not such a packing (a damaged
// state): every length and value is checked against what is there, so no content can make the
// reading run past its end or give a verdict that does not exist.
std::optional<std::vector<NamedRecord>> UnpackRecords(std::string_view bytes);

} // namespace vorn
