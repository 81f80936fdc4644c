#include "core/check/check_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/base/scope_exit.h"
#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

CheckRecord Deep(FileIdentity identity, std::int64_t checkedAt, std::uint8_t hashByte) {
    CheckRecord record;
    record.identity = identity;
    record.marker = MarkerVerdict::Eoi;
    record.deep.emplace();
    record.deep->verdict = DeepVerdict::Sound;
    record.deep->reason = "followed by padding (3 bytes)";
    record.deep->offset = 100;
    record.deep->trailer = TrailerKind::Padding;
    record.hash = ContentHash{};
    record.hash->fill(hashByte);
    record.checkedAt = checkedAt;
    return record;
}

TEST(CheckState, MayReuseOnlyTheSameFileCheckedAsDeepAndRecentlyEnough) {
    const FileIdentity same{1, 2, 3, 4};
    const CheckRecord deep = Deep(same, 1000, 0);
    CheckRecord markers = deep;
    markers.deep.reset();
    const struct {
        const char* what;
        const CheckRecord& remembered;
        FileIdentity current;
        bool deepAsked;
        std::optional<std::int64_t> recheckAfter;
        bool reuse;
    } cases[] = {
        {"unchanged", deep, same, true, std::nullopt, true},
        {"deeper than asked", deep, same, false, std::nullopt, true},
        {"shallower than asked", markers, same, true, std::nullopt, false},
        {"other modification time", deep, {1, 2, 3, 5}, false, std::nullopt, false},
        {"other size", deep, {1, 2, 9, 4}, false, std::nullopt, false},
        {"other inode", deep, {1, 7, 3, 4}, false, std::nullopt, false},
        {"other device", deep, {8, 2, 3, 4}, false, std::nullopt, false},
        {"younger than the recheck age", deep, same, true, 501, true},
        {"as old as the recheck age", deep, same, true, 500, false},
        {"recheck everything", deep, same, true, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MayReuse(c.remembered, c.current, c.deepAsked, 1500, c.recheckAfter), c.reuse)
            << c.what;
    }
}

TEST(CheckState, ChangedOnDiskNeedsTheSameIdentityAndOtherBytes) {
    const CheckRecord first = Deep({1, 2, 3, 4}, 10, 0xaa);
    EXPECT_FALSE(ChangedOnDisk(first, Deep({1, 2, 3, 4}, 20, 0xaa)));
    EXPECT_TRUE(ChangedOnDisk(first, Deep({1, 2, 3, 4}, 20, 0xbb)));
    EXPECT_FALSE(ChangedOnDisk(first, Deep({1, 2, 3, 5}, 20, 0xbb))) << "written: no rot";
    CheckRecord unhashed = first;
    unhashed.hash.reset();
    EXPECT_FALSE(ChangedOnDisk(unhashed, Deep({1, 2, 3, 4}, 20, 0xbb)));
}

TEST(CheckState, AShallowerCheckKeepsWhatADeeperOneFound) {
    const FileIdentity same{1, 2, 3, 4};
    const CheckRecord deep = Deep(same, 1000, 0xaa);
    const auto markers = [](FileIdentity identity, MarkerVerdict verdict) {
        CheckRecord record;
        record.identity = identity;
        record.marker = verdict;
        record.checkedAt = 2000;
        return record;
    };
    CheckRecord changed = deep;
    changed.changedSince = 500;
    const struct {
        const char* what;
        std::optional<CheckRecord> remembered;
        CheckRecord fresh;
        bool deepKept;          // the picture verdict is still there
        std::int64_t checkedAt; // the kept record's check time
        bool hashKept;
        std::optional<std::int64_t> changedSince;
    } cases[] = {
        {"nothing remembered", std::nullopt, markers(same, MarkerVerdict::Eoi), false, 2000, false,
         std::nullopt},
        {"markers agree", deep, markers(same, MarkerVerdict::Eoi), true, 1000, true, std::nullopt},
        {"markers differ", deep, markers(same, MarkerVerdict::Soi), false, 1000, true,
         std::nullopt},
        {"file written since", deep, markers({1, 2, 3, 5}, MarkerVerdict::Eoi), false, 2000, false,
         std::nullopt},
        {"changed on disk stays", changed, markers(same, MarkerVerdict::Soi), false, 1000, true,
         500},
        {"a deep check renews", deep, Deep(same, 2000, 0xaa), true, 2000, true, std::nullopt},
        {"a deep check finds other bytes", deep, Deep(same, 2000, 0xbb), true, 2000, true, 1000},
    };
    for (const auto& c : cases) {
        const CheckRecord kept = RecordToKeep(c.remembered, c.fresh);
        EXPECT_EQ(kept.identity, c.fresh.identity) << c.what;
        EXPECT_EQ(kept.marker, c.fresh.marker) << c.what;
        EXPECT_EQ(kept.deep.has_value(), c.deepKept) << c.what;
        EXPECT_EQ(kept.checkedAt, c.checkedAt) << c.what;
        EXPECT_EQ(kept.hash.has_value(), c.hashKept) << c.what;
        EXPECT_EQ(kept.changedSince, c.changedSince) << c.what;
        // Whatever was kept, a later picture check reads the file again unless it was kept.
        EXPECT_EQ(MayReuse(kept, c.fresh.identity, true, 2001, std::nullopt), c.deepKept) << c.what;
    }
}

TEST(CheckState, KeepsRecordsAcrossOpensInAPrivateFile) {
    const TempTree tree;
    const std::string file = tree.Path("state.db");
    const std::string name("a/\xff\n.jpg", 9); // not UTF-8, with a line break
    {
        CheckState state(file);
        state.Record(name, Deep({1, 2, 3, 4}, 10, 0xaa));
        CheckRecord markers = Deep({5, 6, 7, 8}, 11, 0);
        markers.deep.reset();
        markers.hash.reset();
        markers.changedSince = 9;
        state.Record("a/b.jpg", markers);
        // Uncommitted records are not seen by look-ups, which read what is committed.
        state.Commit();
        ASSERT_TRUE(state.Find(name));
    }
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const CheckState state(file);
    const std::optional<CheckRecord> deep = state.Find(name);
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->identity, (FileIdentity{1, 2, 3, 4}));
    EXPECT_EQ(deep->marker, MarkerVerdict::Eoi);
    ASSERT_TRUE(deep->deep && deep->hash);
    EXPECT_EQ(deep->deep->reason, "followed by padding (3 bytes)");
    EXPECT_EQ(deep->deep->offset, 100u);
    EXPECT_EQ(deep->deep->trailer, TrailerKind::Padding);
    EXPECT_EQ(*deep->hash, Deep({}, 0, 0xaa).hash);
    EXPECT_FALSE(deep->changedSince);
    const std::optional<CheckRecord> markers = state.Find("a/b.jpg");
    ASSERT_TRUE(markers);
    EXPECT_FALSE(markers->deep || markers->hash);
    EXPECT_EQ(markers->changedSince, 9);
    EXPECT_FALSE(state.Find("a/c.jpg"));
}

// The descriptors of this process open on `path`: one per connection, and the run's lock.
int DescriptorsOn(const std::string& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0) {
        return -1;
    }
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd) {
        struct stat info {};
        count +=
            ::fstat(fd, &info) == 0 && info.st_dev == file.st_dev && info.st_ino == file.st_ino;
    }
    return count;
}

// However many I/O threads look up at once, they share a few connections: each holds a cache
// and statements of its own, and one per thread made a run's memory grow with its threads.
TEST(CheckState, LookUpsAtOnceShareAFewConnections) {
    const TempTree tree;
    const std::string file = tree.Path("state.db");
    {
        CheckState state(file);
        for (int folder = 0; folder < 200; ++folder) {
            state.Record("f" + std::to_string(folder) + "/a.jpg", Deep({1, 2, 3, 4}, 10, 1));
        }
    }
    const CheckState state(file);
    const int before = DescriptorsOn(file);
    std::vector<std::thread> threads;
    std::atomic<int> lookUps{0};
    std::atomic<int> found{0};
    for (int thread = 0; thread < 32; ++thread) {
        threads.emplace_back([&, thread] {
            // Another folder at each look-up: none is served from the rows read last.
            for (int folder = thread; folder < 200; folder += 4) {
                ++lookUps;
                found += state.Find("f" + std::to_string(folder) + "/a.jpg").has_value();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(found, lookUps);
    const int connections = DescriptorsOn(file) - before;
    EXPECT_GT(connections, 0);
    EXPECT_LE(connections, static_cast<int>(std::max(4u, std::thread::hardware_concurrency())));
}

TEST(CheckState, ForgetsWhatIsGoneFromAWalkedFolderOnly) {
    const TempTree tree;
    CheckState state(tree.Path("state.db"));
    for (const char* path : {"/p/a.jpg", "/p/b.jpg", "/p/sub/c.jpg", "/p/gone/d.jpg", "/p.jpg",
                             "/p0/e.jpg", "/q/f.jpg"}) {
        state.Record(path, Deep({}, 1, 0));
    }
    state.ForgetGone("/p/", {"a.jpg", "sub"});
    state.Commit();
    for (const char* kept : {"/p/a.jpg", "/p/sub/c.jpg", "/p.jpg", "/p0/e.jpg", "/q/f.jpg"}) {
        EXPECT_TRUE(state.Find(kept)) << kept;
    }
    for (const char* gone : {"/p/b.jpg", "/p/gone/d.jpg"}) {
        EXPECT_FALSE(state.Find(gone)) << gone;
    }
}

// A walk meets a folder's files again after a subfolder's, and a new state learns a folder's
// files in several goes, some in one batch and some in the next: none is lost, also of the
// records handed over last, which only the close commits.
TEST(CheckState, AFolderMetAgainAfterItsSubfolderKeepsEveryRecord) {
    const TempTree tree;
    const std::string file = tree.Path("state.db");
    const auto name = [](const char* folder, int i) {
        return std::string(folder) + "f" + std::to_string(i) + ".jpg";
    };
    const struct {
        const char* folder;
        int from;
        int to;
        bool commitAfter;
    } goes[] = {
        {"/lib/", 0, 150, false},   {"/lib/sub/", 0, 3, false}, {"/lib/", 150, 170, true},
        {"/lib/sub/", 3, 5, false}, {"/lib/", 170, 300, false}, {"/other/", 0, 2, false},
        {"/lib/", 300, 301, false},
    };
    {
        CheckState state(file);
        for (const auto& go : goes) {
            for (int i = go.from; i < go.to; ++i) {
                state.Record(name(go.folder, i), Deep({}, i, 0));
            }
            if (go.commitAfter) {
                state.Commit();
            }
        }
    }
    const CheckState state(file);
    for (const auto& go : goes) {
        for (int i = go.from; i < go.to; ++i) {
            const std::optional<CheckRecord> found = state.Find(name(go.folder, i));
            ASSERT_TRUE(found) << name(go.folder, i);
            EXPECT_EQ(found->checkedAt, i) << name(go.folder, i);
        }
    }
}

// A folder of more files than a row holds, recorded out of byte order over two batches, some
// twice: every file is found (the later record of each), a name between or around the rows is
// not, and a prune keeps exactly the files listed, in every row, and the subfolders' records.
TEST(CheckState, AFolderOfManyFilesSpreadsOverRows) {
    const TempTree tree;
    const std::string file = tree.Path("state.db");
    constexpr int kFiles = 3 * 256 + 17;
    const auto name = [](int i) {
        return "/lib/f" + std::to_string(i) + ".jpg";
    };
    const auto checkedAt = [](int i) {
        return i % 3 == 0 ? 2 : 1;
    };
    {
        CheckState state(file);
        for (int i = kFiles - 1; i >= 0; --i) {
            if (i % 2 == 1) {
                state.Record(name(i), Deep({}, 1, 0));
            }
        }
        state.Record("/lib/sub/s.jpg", Deep({}, 1, 0));
        state.Commit();
        for (int i = 0; i < kFiles; ++i) {
            if (i % 2 == 0 || checkedAt(i) == 2) {
                state.Record(name(i), Deep({}, checkedAt(i), 0));
            }
        }
    }
    CheckState state(file);
    for (int i = 0; i < kFiles; ++i) {
        const std::optional<CheckRecord> found = state.Find(name(i));
        ASSERT_TRUE(found) << name(i);
        EXPECT_EQ(found->checkedAt, checkedAt(i)) << name(i);
    }
    for (const char* missing : {"/lib/", "/lib/a.jpg", "/lib/f5.jpgx", "/lib/g.jpg", "/lib/sub",
                                "/lib/sub/t.jpg", "/li/f1.jpg"}) {
        EXPECT_FALSE(state.Find(missing)) << missing;
    }
    std::vector<std::string> kept = {"sub"};
    for (int i = 0; i < kFiles; i += 5) {
        kept.push_back(name(i).substr(5));
    }
    std::sort(kept.begin(), kept.end());
    state.ForgetGone("/lib/", kept);
    state.Commit();
    for (int i = 0; i < kFiles; ++i) {
        EXPECT_EQ(state.Find(name(i)).has_value(), i % 5 == 0) << name(i);
    }
    EXPECT_TRUE(state.Find("/lib/sub/s.jpg"));
}

// Writes a state of the layout where the rows were their own keys, holding `deep` as /p/a.jpg and
// `markers` as /p/sub/b.jpg.
void WriteRowKeyedState(const std::string& file, const CheckRecord& deep,
                        const CheckRecord& markers) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE records(place BLOB PRIMARY KEY NOT NULL, files INTEGER "
                           "NOT NULL, packed BLOB NOT NULL) WITHOUT ROWID; PRAGMA "
                           "application_id=1450144366; PRAGMA user_version=2;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_stmt* put = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO records VALUES(?1, 1, ?2)", -1, &put, nullptr),
              SQLITE_OK);
    for (const auto& [place, record] :
         {std::pair{std::string("/p/\0", 4), NamedRecord{"a.jpg", deep}},
          std::pair{std::string("/p/sub/\0", 8), NamedRecord{"b.jpg", markers}}}) {
        const std::string packed = PackRecords(std::span(&record, 1));
        sqlite3_bind_blob(put, 1, place.data(), static_cast<int>(place.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(put, 2, packed.data(), static_cast<int>(packed.size()), SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(put), SQLITE_DONE);
        sqlite3_reset(put);
    }
    sqlite3_finalize(put);
    sqlite3_close(db);
}

// A state of either earlier layout (a row per file; rows that were their own keys) is moved to
// the present one when it is opened, and keeps every record.
TEST(CheckState, AStateOfAnEarlierLayoutKeepsItsRecords) {
    for (const bool fileRows : {true, false}) {
        SCOPED_TRACE(fileRows ? "a row per file" : "rows that were their own keys");
        const TempTree tree;
        const std::string file = tree.Path("old.db");
        if (fileRows) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, R"(
                CREATE TABLE files(path BLOB PRIMARY KEY NOT NULL, device INTEGER NOT NULL,
                    inode INTEGER NOT NULL, size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,
                    marker INTEGER NOT NULL, deep INTEGER, deep_reason TEXT, deep_offset INTEGER,
                    trailer INTEGER, hash BLOB, checked_at INTEGER NOT NULL, changed_since INTEGER
                ) WITHOUT ROWID;
                INSERT INTO files VALUES(CAST('/p/a.jpg' AS BLOB), 1, 2, 3, 4, 2, 0,
                    'followed by padding (3 bytes)', 100, 1, zeroblob(16), 10, NULL);
                INSERT INTO files VALUES(CAST('/p/sub/b.jpg' AS BLOB), 5, 6, 7, 8, 0, NULL, NULL,
                    NULL, NULL, NULL, 11, 9);
                PRAGMA application_id=1450144366; PRAGMA user_version=1;)",
                                   nullptr, nullptr, nullptr),
                      SQLITE_OK);
            sqlite3_close(db);
        } else {
            const CheckRecord deep = Deep({1, 2, 3, 4}, 10, 0);
            CheckRecord markers = Deep({5, 6, 7, 8}, 11, 0);
            markers.deep.reset();
            markers.hash.reset();
            markers.changedSince = 9;
            WriteRowKeyedState(file, deep, markers);
        }
        {
            const CheckState state(file);
            const std::optional<CheckRecord> deep = state.Find("/p/a.jpg");
            ASSERT_TRUE(deep && deep->deep && deep->hash);
            EXPECT_EQ(deep->identity, (FileIdentity{1, 2, 3, 4}));
            EXPECT_EQ(deep->marker, MarkerVerdict::Eoi);
            EXPECT_EQ(deep->deep->reason, "followed by padding (3 bytes)");
            EXPECT_EQ(deep->deep->trailer, TrailerKind::Padding);
            EXPECT_EQ(*deep->hash, ContentHash{});
            const std::optional<CheckRecord> markers = state.Find("/p/sub/b.jpg");
            ASSERT_TRUE(markers);
            EXPECT_FALSE(markers->deep || markers->hash);
            EXPECT_EQ(markers->changedSince, 9);
        }
        // The layout now: the present version, rows with an index of their places, no old table.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* layout = nullptr;
        ASSERT_EQ(
            sqlite3_prepare_v2(
                db,
                "SELECT (SELECT user_version FROM pragma_user_version), "
                "(SELECT sql FROM sqlite_master WHERE name = 'records'), "
                "(SELECT count(*) FROM sqlite_master WHERE name IN ('files', 'keyed_records'))",
                -1, &layout, nullptr),
            SQLITE_OK);
        ASSERT_EQ(sqlite3_step(layout), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(layout, 0), 3);
        const std::string schema = reinterpret_cast<const char*>(sqlite3_column_text(layout, 1));
        EXPECT_EQ(schema.find("WITHOUT ROWID"), std::string::npos) << schema;
        EXPECT_EQ(sqlite3_column_int(layout, 2), 0);
        sqlite3_finalize(layout);
        sqlite3_close(db);
    }
}

// A file that is not a state, or a damaged one, is refused and left as it was; a second run on
// a state in use is told so.
TEST(CheckState, RefusesWhatItCannotUseAndLeavesItUntouched) {
    const TempTree tree;
    const std::string sound = tree.Path("sound.db");
    {
        CheckState state(sound);
        for (int i = 0; i < 2000; ++i) {
            state.Record("/photos/" + std::to_string(i) + ".jpg", Deep({}, 1, 0));
        }
    }
    std::string damaged = Bytes(sound);
    // The header of the second page, what every look-up meets first; the file's header gives
    // the page size at byte 16, big-endian.
    const std::size_t pageSize = static_cast<unsigned char>(damaged.at(16)) * 256u +
                                 static_cast<unsigned char>(damaged.at(17));
    ASSERT_GT(damaged.size(), 2 * pageSize);
    damaged.replace(pageSize, 64, std::string(64, '\x5a'));
    const struct {
        const char* name;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"text.db", "just some text\n", "not a state file"},
        {"damaged.db", damaged, "damaged"},
    };
    for (const auto& c : cases) {
        const std::string path = tree.Write(c.name, c.bytes);
        try {
            CheckState state(path);
            ADD_FAILURE() << c.name << " was taken";
        } catch (const CheckStateError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
        EXPECT_EQ(Bytes(path), c.bytes) << c.name;
    }

    // What is not a plain file is refused before it is opened for writing or read from: a link
    // (whatever it leads to), a named pipe.
    const std::string link = tree.Path("link.db");
    ASSERT_EQ(::symlink(sound.c_str(), link.c_str()), 0);
    const std::string pipe = tree.Path("pipe.db");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string before = Bytes(sound);
    for (const auto& [path, says] : {std::pair{link, "a link"}, std::pair{pipe, "not a state"}}) {
        try {
            CheckState state(path);
            ADD_FAILURE() << path << " was taken";
        } catch (const CheckStateError& error) {
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
        }
    }
    EXPECT_EQ(Bytes(sound), before);

    const CheckState first(sound);
    try {
        CheckState second(sound);
        ADD_FAILURE() << "a state in use was taken twice";
    } catch (const CheckStateError& error) {
        EXPECT_NE(std::string(error.what()).find("in use"), std::string::npos) << error.what();
    }
}

// A write the file system refuses (a full disk) on the thread that writes is told to the caller:
// by the next record handed over, or by the commit, never passed over.
TEST(CheckState, AFailedWriteReachesTheCaller) {
    const TempTree tree;
    const std::string folder = tree.Folder("small");
    if (::geteuid() != 0 || ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=96k") != 0) {
        GTEST_SKIP() << "a tmpfs can be mounted only by root with the right to mount";
    }
    const ScopeExit unmount([&] { ::umount2(folder.c_str(), MNT_DETACH); });
    bool told = false;
    try {
        CheckState state(folder + "/state.db");
        for (int i = 0; i < 20000; ++i) {
            state.Record("/photos/" + std::string(100, 'x') + std::to_string(i) + ".jpg",
                         Deep({}, 1, 0));
        }
        state.Commit();
    } catch (const CheckStateError&) {
        told = true;
    }
    EXPECT_TRUE(told) << "a state that could not be written passed for a kept one";
}

} // namespace
} // namespace vorn
