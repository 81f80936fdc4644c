// The engine against a plain sequential walk written here from the rules, on generated trees,
// and the engine's own promises: no thread left behind, deep trees, pseudo file systems.

#include "core/walk/walk_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/paths/path_order.h"
#include "core/paths/path_rules.h"
#include "tests/support/ordinary_user.h"
#include "tests/support/temp_tree.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

// What a walk told, one line per event, so two walks compare as two texts.
class Recorder : public WalkEngine::Visitor {
public:
    std::vector<std::string> lines;
    std::vector<std::string> taken;
    std::size_t stopAfter = SIZE_MAX;

    bool IsListed(const std::string& path) override { return m_taken.contains(path); }
    void Take(const std::string& path, FileResult&& result) override {
        m_taken.insert(path);
        taken.push_back(path);
        lines.push_back("take " + path + " " + std::string(VerdictErrorText(result.verdict)));
    }
    void Refused(const std::string& path) override { lines.push_back("refused " + path); }
    void ListStarted(std::size_t count) override {
        lines.push_back("list " + std::to_string(count));
    }
    void ListEnded() override { lines.push_back("end"); }
    void EmptyFolderWalked(const std::string& folder) override {
        lines.push_back("empty " + folder);
    }
    bool Stopped() override { return lines.size() >= stopAfter; }
    void NamedPathMissing(const std::string& path) override { lines.push_back("missing " + path); }

private:
    std::set<std::string> m_taken;
};

FileCheck VanishingCheck() {
    return [](const std::string& path, FileResult& result) {
        if (path.ends_with("gone.jpg")) {
            ::unlink(path.c_str());
        }
        result.verdict = CheckMarkers(path);
    };
}

// The rules, one path at a time, with no look-ahead: the reference for the engine.
class SequentialWalk {
public:
    SequentialWalk(Recorder& recorder, FileCheck check)
        : m_out(recorder)
        , m_check(std::move(check)) {}

    void Walk(const std::vector<std::string>& paths, bool named) {
        m_out.ListStarted(paths.size());
        for (const std::string& path : paths) {
            WalkPath(path, named);
        }
        m_out.ListEnded();
    }

private:
    void WalkPath(const std::string& path, bool named) {
        if (path.empty() || m_out.IsListed(path)) {
            return;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            const int error = errno;
            if (::lstat(path.c_str(), &info) == 0) {
                Take(path, MarkerVerdict::OpenError);
            } else if (error == ENOENT || error == ENOTDIR) {
                named ? m_out.NamedPathMissing(path) : void();
            } else {
                m_out.Refused(path);
            }
            return;
        }
        if (!S_ISDIR(info.st_mode)) {
            FileResult result;
            if (S_ISREG(info.st_mode) && HasJpegExtension(path)) {
                m_check(path, result);
            }
            Take(path, result.verdict);
            return;
        }
        DIR* const dir = ::opendir(path.c_str());
        const int entered = dir ? ::openat(::dirfd(dir), ".", O_PATH) : -1;
        if (entered < 0) {
            if (dir) {
                ::closedir(dir);
            }
            m_out.Refused(path);
            return;
        }
        ::close(entered);
        const std::pair<dev_t, ino_t> identity{info.st_dev, info.st_ino};
        std::vector<std::string> entries;
        const std::string folder = WithTrailingDelimiter(path);
        while (const dirent* entry = ::readdir(dir)) {
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
                entries.push_back(folder + entry->d_name);
            }
        }
        ::closedir(dir);
        if (std::find(m_inside.begin(), m_inside.end(), identity) != m_inside.end()) {
            return;
        }
        m_inside.push_back(identity);
        SortPaths(entries);
        if (!entries.empty()) {
            Walk(entries, false);
        } else {
            m_out.EmptyFolderWalked(path);
        }
        m_inside.pop_back();
    }

    void Take(const std::string& path, MarkerVerdict verdict) {
        if (HasJpegExtension(path)) {
            FileResult result;
            result.verdict = verdict;
            m_out.Take(path, std::move(result));
        }
    }

    Recorder& m_out;
    FileCheck m_check;
    std::vector<std::pair<dev_t, ino_t>> m_inside;
};

// A real tree on disk, open to all at its root.
class WalkEngineDisk : public ::testing::Test {
protected:
    WalkEngineDisk() { ::chmod(m_root.c_str(), 0755); }

    // A tree of folders, JPEG files sound and damaged, other files, links to folders (loops
    // among them), dangling links, named pipes, and folders that cannot be read or entered, by
    // their owner either.
    void MakeTree(unsigned seed) {
        std::mt19937 random(seed);
        std::vector<std::string> folders{m_root};
        const auto pick = [&](std::size_t n) {
            return random() % n;
        };
        for (int i = 0; i < 120; ++i) {
            const std::string parent = folders[pick(folders.size())];
            const std::string name =
                parent + "/" + std::string(1, char('a' + pick(6))) + std::to_string(i);
            switch (pick(10)) {
            case 0:
            case 1:
                fs::create_directory(name);
                folders.push_back(name);
                break;
            case 2:
                fs::create_directory_symlink(folders[pick(folders.size())], name);
                break;
            case 3:
                fs::create_symlink(name + "-nowhere", name + ".jpg");
                break;
            case 4:
                ::mkfifo((name + ".jpg").c_str(), 0644);
                break;
            case 5:
                std::ofstream(name + ".txt") << "text";
                break;
            default:
                std::ofstream(name + (pick(2) ? ".jpg" : ".JPEG"))
                    << (pick(3) ? "\xFF\xD8 data \xFF\xD9" : "\xFF\xD8 cut");
            }
        }
        for (std::size_t i = 1; i < folders.size(); ++i) {
            if (pick(8) == 0) {
                ::chmod(folders[i].c_str(), pick(2) ? 0000 : 0111);
            }
        }
    }

    // Folders of files, some named "gone", which the check removes: listed, then gone. No link
    // leads here, so each file is met once, and its listing always comes before its removal.
    std::vector<std::string> MakeVanishing(unsigned seed) {
        std::mt19937 random(seed);
        std::vector<std::string> gone;
        for (int folder = 0; folder < 3; ++folder) {
            const std::string name = m_gone.Root() + "/v" + std::to_string(folder);
            fs::create_directory(name);
            for (int file = 0; file < 6; ++file) {
                const std::string path = name + "/" + std::to_string(file);
                if (random() % 2 == 0) {
                    gone.push_back(path + "gone.jpg");
                } else {
                    std::ofstream(path + ".jpg") << "\xFF\xD8 data \xFF\xD9";
                }
            }
        }
        return gone;
    }

    TempTree m_tree;
    const std::string m_root = m_tree.Root();
    TempTree m_gone;
};

void Recreate(const std::vector<std::string>& gone) {
    for (const std::string& path : gone) {
        std::ofstream(path) << "\xFF\xD8\xFF\xD9";
    }
}

// The same lines, or the first that differ, for the failure's message.
std::string Difference(const std::vector<std::string>& expected,
                       const std::vector<std::string>& seen) {
    std::size_t i = 0;
    while (i < expected.size() && i < seen.size() && expected[i] == seen[i]) {
        ++i;
    }
    if (i == expected.size() && i == seen.size()) {
        return {};
    }
    return "line " + std::to_string(i) + ": expected '" +
           (i < expected.size() ? expected[i] : "(end)") + "', seen '" +
           (i < seen.size() ? seen[i] : "(end)") + "'";
}

// The engine against the sequential walk, on trees the walk's user owns and yet cannot read
// everywhere: each path of the same kind, each verdict the same. A file listed and then gone is
// taken with "File open error", as its check fails, for every number of threads.
TEST_F(WalkEngineDisk, ParallelWalkTellsWhatTheSequentialOneTells) {
    const auto body = [&] {
        for (unsigned seed = 1; seed <= 40; ++seed) {
            m_tree.Clear();
            m_gone.Clear();
            MakeTree(seed);
            const std::vector<std::string> gone = MakeVanishing(seed);
            const std::vector<std::string> paths{m_root + "/b1",      m_gone.Root(),        m_root,
                                                 m_root + "/missing", m_root + "/a0/x.jpg", ""};
            Recreate(gone);
            Recorder expected;
            SequentialWalk(expected, VanishingCheck()).Walk(paths, true);
            for (const std::string& path : gone) {
                const std::string line = "take " + path + " File open error";
                if (std::count(expected.lines.begin(), expected.lines.end(), line) != 1) {
                    std::fprintf(stderr, "seed %u: no '%s' in the sequential walk\n", seed,
                                 line.c_str());
                    return 1;
                }
            }
            for (const std::size_t threads : {1, 3, 64}) {
                Recreate(gone);
                Recorder seen;
                WalkEngine::Options options;
                options.threads = threads;
                options.window = threads == 3 ? 2 : 0;
                options.check = VanishingCheck();
                WalkEngine(options).Walk(paths, seen);
                const std::string difference = Difference(expected.lines, seen.lines);
                if (!difference.empty()) {
                    std::fprintf(stderr, "seed %u, %zu threads: %s\n", seed, threads,
                                 difference.c_str());
                    return 1;
                }
                for (const std::string& path : gone) {
                    if (::access(path.c_str(), F_OK) == 0) {
                        std::fprintf(stderr, "seed %u: %s was not removed\n", seed, path.c_str());
                        return 1;
                    }
                }
            }
        }
        return 0;
    };
    const int outcome = AsOrdinaryUser(body, {m_root, m_gone.Root()});
    if (outcome == kCannotActAsUser) {
        GTEST_SKIP() << "cannot act as an ordinary user";
    }
    EXPECT_EQ(outcome, 0);
}

std::size_t ThreadCount() {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST_F(WalkEngineDisk, AStopMidRunLeavesNoThreadBehind) {
    for (int i = 0; i < 300; ++i) {
        std::ofstream(m_root + "/f" + std::to_string(i) + ".jpg") << "\xFF\xD8\xFF\xD9";
    }
    const std::size_t before = ThreadCount();
    Recorder recorder;
    recorder.stopAfter = 20;
    WalkEngine::Options options;
    options.check = VanishingCheck();
    WalkEngine(options).Walk({m_root}, recorder);
    EXPECT_EQ(recorder.lines.size(), 22u); // list, list, 18 files, end, end
    EXPECT_EQ(ThreadCount(), before);
}

// Where the system refuses new threads (a user's or a container's process limit), the run goes
// on with the threads it has, down to none: the thread that waits runs every request itself.
TEST_F(WalkEngineDisk, ARunGoesOnWhenTheSystemRefusesThreads) {
    for (int i = 0; i < 200; ++i) {
        std::ofstream(m_root + "/f" + std::to_string(i) + ".jpg") << "\xFF\xD8\xFF\xD9";
    }
    // Root is held by no process limit: the run goes as an ordinary user.
    const int outcome = AsOrdinaryUser(
        [&] {
            const rlimit none{0, 0};
            if (::setrlimit(RLIMIT_NPROC, &none) != 0) {
                return 1;
            }
            try {
                std::thread([] {}).join();
                return kCannotActAsUser; // the limit does not hold here: nothing to test
            } catch (const std::system_error&) {
            }
            Recorder recorder;
            WalkEngine::Options options;
            options.check = VanishingCheck();
            WalkEngine(options).Walk({m_root}, recorder);
            return recorder.taken.size() == 200 ? 0 : 1;
        },
        {m_root});
    if (outcome == kCannotActAsUser) {
        GTEST_SKIP() << "the process limit does not hold here";
    }
    EXPECT_EQ(outcome, 0);
}

TEST_F(WalkEngineDisk, TreesDeeperThanThePathLimitAreWalkedToTheBottom) {
    const std::string segment(200, 's');
    std::string deep = m_root;
    int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 40; ++level) {
        ASSERT_EQ(::mkdirat(fd, segment.c_str(), 0755), 0);
        ::close(::openat(fd, "x.jpg", O_CREAT | O_WRONLY, 0644));
        const int next = ::openat(fd, segment.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        deep += "/" + segment;
    }
    ::close(fd);
    ASSERT_GT(deep.size(), 8000u);
    Recorder recorder;
    WalkEngine::Options options;
    options.check = VanishingCheck();
    WalkEngine(options).Walk({m_root}, recorder);
    // Every level's file is taken; those beyond the limit cannot be opened by their path.
    EXPECT_EQ(std::count_if(recorder.lines.begin(), recorder.lines.end(),
                            [](const std::string& line) { return line.starts_with("take "); }),
              40);
}

TEST_F(WalkEngineDisk, PseudoFileSystemsAreWalkedOnlyWhenNamed) {
    if (::access("/proc/self/fd", F_OK) != 0) {
        GTEST_SKIP() << "no /proc";
    }
    fs::create_directory_symlink("/proc/self", m_root + "/proc");
    Recorder below;
    WalkEngine(WalkEngine::Options{}).Walk({m_root}, below);
    EXPECT_EQ(below.lines, (std::vector<std::string>{"list 1", "list 1", "end", "end"}));
    // A named one is listed, but its links (root, cwd) lead nowhere further.
    Recorder named;
    WalkEngine(WalkEngine::Options{}).Walk({"/proc/self"}, named);
    EXPECT_EQ(named.lines.size(), 4u);
}

// The walk's rules, each on a small tree. Entries: "name" a sound file, "dir/" a folder,
// "name|" a named pipe, "name->target" a symbolic link, "name@" a file last written in 1970.
// Paths and rows: "T" stands for the temporary folder.
TEST(WalkEngineRules, WhatIsTakenAndInWhichOrder) {
    struct Case {
        const char* name;
        std::vector<std::string> entries;
        std::vector<std::string> paths;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        // Hidden entries are listed; "." sorts before letters, a folder at its sorted place,
        // letters of either case together, digits one at a time.
        {"folder",
         {"b.jpg", "A/z.jpg", "c.JPG", "img10.jpg", "img2.jpg", "notes.txt", ".Hidden.jpg"},
         {"T"},
         {"T/.Hidden.jpg", "T/A/z.jpg", "T/b.jpg", "T/c.JPG", "T/img10.jpg", "T/img2.jpg"}},
        {"folder with its delimiter", {"x.jpg"}, {"T/"}, {"T/x.jpg"}},
        {"empty path", {"x.jpg"}, {"", "T/x.jpg", ""}, {"T/x.jpg"}},
        // The file system tells case apart: two files, two rows (equal keys ordered by bytes).
        {"names differing in case",
         {"photo.jpg", "Photo.JPG"},
         {"T"},
         {"T/Photo.JPG", "T/photo.jpg"}},
        {"extensions",
         {"a.JPEG", "b.Jpg", ".jpg", "c.jpg.bak", "d.jpe", "e", "f.jfif", "g.jpg/"},
         {"T"},
         {"T/.jpg", "T/a.JPEG", "T/b.Jpg"}},
        {"folder named like a JPEG file is walked",
         {"album.jpg/x.jpg"},
         {"T/album.jpg"},
         {"T/album.jpg/x.jpg"}},
        {"nothing there", {}, {"T/none.jpg", "T/none", "T/none/"}, {}},
        {"a pattern is a name", {"x.jpg"}, {"T/*.jpg", "T/?.jpg"}, {}},
        {"named pipe is taken, not read", {"p.jpg|", "q.txt|"}, {"T"}, {"T/p.jpg"}},
        {"no date test", {"old.jpg@"}, {"T"}, {"T/old.jpg"}},
        {"link to itself", {"x.jpg", "loop->."}, {"T"}, {"T/x.jpg"}},
        {"link to an ancestor",
         {"A/a.jpg", "A/B/b.jpg", "A/B/up->../.."},
         {"T"},
         {"T/A/a.jpg", "T/A/B/b.jpg"}},
        {"link to a sibling is walked", {"A/a.jpg", "B->A"}, {"T"}, {"T/A/a.jpg", "T/B/a.jpg"}},
        {"link to a file",
         {"A/a.jpg", "l.jpg->A/a.jpg", "d.jpg->none"},
         {"T"},
         {"T/A/a.jpg", "T/d.jpg", "T/l.jpg"}},
        // Not valid UTF-8: taken with its real bytes.
        {"name with ill-formed bytes", {"\xFF\xFE.jpg"}, {"T"}, {"T/\xFF\xFE.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempTree tree;
        for (const std::string& entry : c.entries) {
            if (const std::size_t arrow = entry.find("->"); arrow != std::string::npos) {
                ASSERT_EQ(::symlink(entry.substr(arrow + 2).c_str(),
                                    tree.Path(entry.substr(0, arrow)).c_str()),
                          0);
            } else if (entry.back() == '/') {
                tree.Folder(entry);
            } else if (entry.back() == '|') {
                ASSERT_EQ(::mkfifo(tree.Path(entry.substr(0, entry.size() - 1)).c_str(), 0600), 0);
            } else if (entry.back() == '@') {
                const std::string path = tree.Write(entry.substr(0, entry.size() - 1));
                const timeval old[2] = {{86400, 0}, {86400, 0}};
                ASSERT_EQ(::utimes(path.c_str(), old), 0);
            } else {
                tree.Write(entry);
            }
        }
        std::vector<std::string> paths;
        for (const std::string& path : c.paths) {
            paths.push_back(path.starts_with("T") ? tree.Root() + path.substr(1) : path);
        }
        Recorder recorder;
        WalkEngine(WalkEngine::Options{}).Walk(paths, recorder);
        std::vector<std::string> rows;
        for (const std::string& path : recorder.taken) {
            rows.push_back(tree.Short(path));
        }
        EXPECT_EQ(rows, c.rows);
    }
}

} // namespace
} // namespace vorn
