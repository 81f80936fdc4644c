#include "core/check/check_record.h"

#include <cstring>

namespace vorn {

namespace {

// Which of a record's optional parts follow its numbers.
enum RecordPart : std::uint8_t {
    rpDeep = 1,
    rpReason = 2,
    rpOffset = 4,
    rpHash = 8,
    rpChangedSince = 16,
    rpAll = 31,
};

// The numbers are written straight into room made for the longest packing of each record: on a
// state's first run packing is about a tenth of the writing thread's work, and appending the
// numbers one at a time to a string took three times as long as the rest of it.
constexpr std::size_t kNumberRoom = 10;

char* PutNumber(char* at, std::uint64_t value) {
    for (; value >= 0x80; value >>= 7) {
        *at++ = static_cast<char>((value & 0x7f) | 0x80);
    }
    *at++ = static_cast<char>(value);
    return at;
}

// Times may lie before the epoch: the sign goes into the lowest bit.
char* PutSigned(char* at, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    return PutNumber(at, (bits << 1) ^ (value < 0 ? ~std::uint64_t{0} : 0));
}

char* PutText(char* at, std::string_view text) {
    at = PutNumber(at, text.size());
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// The most bytes a record packs into: its texts, and every number at its longest.
std::size_t PackingRoom(std::string_view name, const CheckRecord& record) {
    const std::optional<DeepCheckResult>& deep = record.deep;
    return name.size() + (deep ? deep->reason.size() : 0) + sizeof(ContentHash) + 1 +
           12 * kNumberRoom;
}

// Packs one record at `at`, which has PackingRoom for it; returns where it ends.
char* Pack(char* at, std::string_view name, const CheckRecord& record) {
    at = PutText(at, name);
    const std::optional<DeepCheckResult>& deep = record.deep;
    std::uint8_t parts = 0;
    parts |= deep ? rpDeep : 0;
    parts |= deep && !deep->reason.empty() ? rpReason : 0;
    parts |= deep && deep->offset ? rpOffset : 0;
    parts |= record.hash ? rpHash : 0;
    parts |= record.changedSince ? rpChangedSince : 0;
    *at++ = static_cast<char>(parts);
    at = PutNumber(at, record.identity.device);
    at = PutNumber(at, record.identity.inode);
    at = PutNumber(at, record.identity.size);
    at = PutSigned(at, record.identity.modifiedNs);
    at = PutNumber(at, static_cast<std::uint64_t>(record.marker));
    at = PutSigned(at, record.checkedAt);
    if (deep) {
        at = PutNumber(at, static_cast<std::uint64_t>(deep->verdict));
        at = PutNumber(at, static_cast<std::uint64_t>(deep->trailer));
        if (parts & rpReason) {
            at = PutText(at, deep->reason);
        }
        if (parts & rpOffset) {
            at = PutNumber(at, *deep->offset);
        }
    }
    if (record.hash) {
        std::memcpy(at, record.hash->data(), record.hash->size());
        at += record.hash->size();
    }
    if (record.changedSince) {
        at = PutSigned(at, *record.changedSince);
    }
    return at;
}

// Reads a packing from its start; every read fails, and stays failed, at the first byte that
// does not fit.
class Unpacker {
public:
    explicit Unpacker(std::string_view bytes)
        : m_bytes(bytes) {}

    bool AtEnd() const { return m_at == m_bytes.size(); }
    bool Failed() const { return m_failed; }

    std::uint64_t Number() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && !m_failed; shift += 7) {
            if (m_at == m_bytes.size()) {
                break;
            }
            const auto byte = static_cast<std::uint8_t>(m_bytes[m_at++]);
            value |= std::uint64_t{byte & 0x7fu} << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        m_failed = true;
        return 0;
    }

    std::int64_t Signed() {
        const std::uint64_t bits = Number();
        return static_cast<std::int64_t>((bits >> 1) ^ (~(bits & 1) + 1));
    }

    // A number that names one of `count` values.
    std::uint64_t Choice(std::uint64_t count) {
        const std::uint64_t value = Number();
        if (value >= count) {
            m_failed = true;
        }
        return m_failed ? 0 : value;
    }

    std::string_view Bytes(std::uint64_t size) {
        if (m_failed || size > m_bytes.size() - m_at) {
            m_failed = true;
            return {};
        }
        const std::string_view bytes = m_bytes.substr(m_at, size);
        m_at += size;
        return bytes;
    }

    std::string_view Text() { return Bytes(Number()); }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
    bool m_failed = false;
};

constexpr std::uint64_t kMarkerVerdicts = 4;
constexpr std::uint64_t kDeepVerdicts = 4;
constexpr std::uint64_t kTrailerKinds = 5;

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

std::string PackRecords(std::span<const NamedRecord> records) {
    std::size_t room = 0;
    for (const auto& [name, record] : records) {
        room += PackingRoom(name, record);
    }
    std::string out(room, '\0');
    char* at = out.data();
    for (const auto& [name, record] : records) {
        at = Pack(at, name, record);
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
    return out;
}

void PackedRecords::Add(std::string_view name, const CheckRecord& record) {
    const std::size_t start = m_bytes.size();
    m_bytes.resize(start + PackingRoom(name, record));
    char* const from = m_bytes.data() + start;
    const char* const end = Pack(from, name, record);
    m_bytes.resize(static_cast<std::size_t>(end - m_bytes.data()));
    // The name follows its length.
    char length[kNumberRoom];
    const auto lengthSize = static_cast<std::size_t>(PutNumber(length, name.size()) - length);
    m_records.push_back(Extent{start, start + lengthSize, name.size()});
}

void PackedRecords::Append(const PackedRecords& more) {
    const std::size_t shift = m_bytes.size();
    m_bytes += more.m_bytes;
    for (const Extent& extent : more.m_records) {
        m_records.push_back(
            Extent{extent.start + shift, extent.nameStart + shift, extent.nameSize});
    }
}

std::string_view PackedRecords::Name(std::size_t i) const {
    return std::string_view(m_bytes).substr(m_records[i].nameStart, m_records[i].nameSize);
}

std::string_view PackedRecords::Packing(std::size_t i) const {
    const std::size_t end = i + 1 < m_records.size() ? m_records[i + 1].start : m_bytes.size();
    return std::string_view(m_bytes).substr(m_records[i].start, end - m_records[i].start);
}

std::optional<std::vector<NamedRecord>> UnpackRecords(std::string_view bytes) {
    std::vector<NamedRecord> records;
    Unpacker in(bytes);
    while (!in.AtEnd() && !in.Failed()) {
        NamedRecord& named = records.emplace_back();
        named.name = in.Text();
        const std::uint64_t parts = in.Choice(rpAll + 1);
        CheckRecord& record = named.record;
        record.identity.device = in.Number();
        record.identity.inode = in.Number();
        record.identity.size = in.Number();
        record.identity.modifiedNs = in.Signed();
        record.marker = static_cast<MarkerVerdict>(in.Choice(kMarkerVerdicts));
        record.checkedAt = in.Signed();
        if (parts & rpDeep) {
            DeepCheckResult& deep = record.deep.emplace();
            deep.verdict = static_cast<DeepVerdict>(in.Choice(kDeepVerdicts));
            deep.trailer = static_cast<TrailerKind>(in.Choice(kTrailerKinds));
            if (parts & rpReason) {
                deep.reason = in.Text();
            }
            if (parts & rpOffset) {
                deep.offset = in.Number();
            }
        } else if (parts & (rpReason | rpOffset)) {
            return std::nullopt;
        }
        if (parts & rpHash) {
            const std::string_view hash = in.Bytes(sizeof(ContentHash));
            if (!in.Failed()) {
                std::memcpy(record.hash.emplace().data(), hash.data(), hash.size());
            }
        }
        if (parts & rpChangedSince) {
            record.changedSince = in.Signed();
        }
        // Names are unique and in order: a look-up searches them by halves.
        if (records.size() >= 2 && !(records[records.size() - 2].name < named.name)) {
            return std::nullopt;
        }
    }
    if (in.Failed()) {
        return std::nullopt;
    }
    return records;
}

} // namespace vorn
