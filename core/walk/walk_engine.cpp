#include "core/walk/walk_engine.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <utility>

#include "core/base/scope_exit.h"
#include "core/paths/path_order.h"
#include "core/paths/path_rules.h"
#include "core/walk/io_pool.h"

namespace vorn {

namespace {

struct EntryTask;

struct Entry {
    std::string path;
    EntryKind kind = EntryKind::Unknown;
    std::shared_ptr<EntryTask> task;
    std::uint64_t sequence = 0; // submission order of the task
    // Listed in a folder of a pseudo file system, whose links lead anywhere: not entered.
    bool inPseudo = false;
};

using PathList = std::vector<Entry>;

// The file-system work for one entry: examine it when its type is unknown, then list it when it
// is a folder or check it when it is a JPEG file.
struct EntryTask final : IoPool::Task {
    EntryTask(std::string entryPath, EntryKind entryKind, const WalkEngine::Options& options)
        : path(std::move(entryPath))
        , kind(entryKind)
        , m_options(options) {}

    const std::string path;
    EntryKind kind; // resolved once run
    FileResult result;
    bool opened = false;
    bool pseudo = false;
    FolderIdentity identity;
    std::shared_ptr<PathList> entries;

private:
    // A folder's entries are sorted too, which takes the processor milliseconds even when the
    // listing comes from memory: such a time says nothing of the storage.
    bool TellsStorageSpeed() const override { return kind != EntryKind::Folder; }

    void Run() override {
        if (kind == EntryKind::Unknown) {
            kind = ExamineEntry(path);
        }
        if (kind == EntryKind::Folder) {
            List();
        } else if (kind == EntryKind::File && m_options.check && HasJpegExtension(path)) {
            m_options.check(path, result);
        }
    }

    void List() {
        FolderListing listing = ListFolder(path);
        opened = listing.opened;
        pseudo = listing.pseudo;
        identity = listing.identity;
        entries = std::make_shared<PathList>();
        if (listing.names.empty()) {
            return;
        }
        const std::string folder = WithTrailingDelimiter(path);
        std::vector<std::string> paths;
        paths.reserve(listing.names.size());
        for (const std::string& name : listing.names) {
            paths.push_back(folder + name);
        }
        const std::vector<std::size_t> order =
            PathOrderOf(paths, m_options.collator ? *m_options.collator : DefaultPathCollator());
        entries->reserve(paths.size());
        for (const std::size_t index : order) {
            entries->push_back(
                Entry{std::move(paths[index]), listing.kinds[index], nullptr, 0, pseudo});
        }
    }

    const WalkEngine::Options& m_options;
};

// One call of Walk: the visitor's walk on the calling thread, and a scout that runs the same
// walk ahead of it, handing the file-system work to the pool.
class WalkRun {
public:
    WalkRun(const WalkEngine::Options& options, WalkEngine::Visitor& visitor)
        : m_options(options)
        , m_visitor(visitor)
        , m_pool(options.threads)
        , m_window(LookAheadWindow(options.window, options.threads))
        , m_inside(options.foldersBeingWalked ? *options.foldersBeingWalked : m_ownInside)
        , m_outerDepth(m_inside.size()) {}

    void Walk(const std::vector<std::string>& paths) {
        auto list = std::make_shared<PathList>();
        list->reserve(paths.size());
        for (const std::string& path : paths) {
            list->push_back(Entry{path, EntryKind::Unknown, nullptr, 0, false});
        }
        m_scout.push_back(Frame{list, 0, FolderIdentity{}, 0, {}});
        WalkList(list, nullptr, FolderIdentity{});
    }

private:
    struct Frame {
        std::shared_ptr<PathList> list;
        std::size_t index = 0;
        FolderIdentity identity; // of the folder listed; unused for the caller's list
        // The scout's listing of folders further down the list (see PrefetchFolders).
        std::size_t scanned = 0;
        std::deque<std::size_t> prefetched;
    };

    // Folders listed ahead of the scout, beyond the window: the listing of the next folder
    // then overlaps the checks of the files before it instead of starting after them.
    static constexpr std::size_t kFoldersAhead = 4;

    void PrefetchFolders(Frame& frame) {
        while (!frame.prefetched.empty() && frame.prefetched.front() <= frame.index) {
            frame.prefetched.pop_front();
        }
        const std::size_t size = frame.list->size();
        frame.scanned = std::max(frame.scanned, frame.index + 1);
        while (frame.prefetched.size() < kFoldersAhead && frame.scanned < size) {
            Entry& entry = (*frame.list)[frame.scanned];
            if (entry.kind == EntryKind::Folder && !entry.task) {
                Submit(entry);
                frame.prefetched.push_back(frame.scanned);
            }
            ++frame.scanned;
        }
    }

    bool NeedsTask(const Entry& entry) const {
        if (entry.path.empty()) {
            return false;
        }
        if (entry.kind == EntryKind::File) {
            return m_options.check && HasJpegExtension(entry.path);
        }
        return entry.kind == EntryKind::Unknown || entry.kind == EntryKind::Folder;
    }

    void Submit(Entry& entry) {
        entry.task = std::make_shared<EntryTask>(entry.path, entry.kind, m_options);
        entry.sequence = ++m_submitted;
        m_pool.Submit(entry.task);
    }

    // The loop guard and the pseudo file systems, for a listed folder met at the end of
    // `frames` (the visitor's walk or the scout's): not a folder an enclosing walk is inside,
    // nor one of the folders those frames list. A path of the caller's list (one frame) may
    // lie on a pseudo file system.
    bool MayEnter(const Entry& entry, const std::vector<Frame>& frames) const {
        const EntryTask& task = *entry.task;
        const bool named = frames.size() == 1;
        if (!task.opened || (task.pseudo && !named) || entry.inPseudo) {
            return false;
        }
        const auto outer = m_inside.begin() + static_cast<std::ptrdiff_t>(m_outerDepth);
        if (std::find(m_inside.begin(), outer, task.identity) != outer) {
            return false;
        }
        return std::none_of(frames.begin() + 1, frames.end(),
                            [&](const Frame& frame) { return frame.identity == task.identity; });
    }

    // Moves the scout on as far as the window and the folders listed so far allow, without
    // waiting for anything. Returns the folder listing it stopped at, or null.
    IoPool::Task* MoveScoutOn() {
        while (!m_scout.empty()) {
            Frame& frame = m_scout.back();
            if (frame.index >= frame.list->size()) {
                m_scout.pop_back();
                if (!m_scout.empty()) {
                    ++m_scout.back().index;
                }
                continue;
            }
            Entry& entry = (*frame.list)[frame.index];
            if (NeedsTask(entry) && !entry.task) {
                if (m_submitted - m_consumed >= m_window) {
                    PrefetchFolders(frame);
                    return nullptr;
                }
                Submit(entry);
            }
            const bool mayBeFolder =
                entry.task && (entry.kind == EntryKind::Folder || entry.kind == EntryKind::Unknown);
            if (!mayBeFolder) {
                ++frame.index;
                continue;
            }
            if (!entry.task->Done()) {
                // A folder's entries come next, so the scout waits for its listing; an entry of
                // unknown type is most likely a file, so the scout goes on past it.
                if (entry.kind == EntryKind::Folder) {
                    PrefetchFolders(frame);
                    return entry.task.get();
                }
                ++frame.index;
                continue;
            }
            const EntryTask& task = *entry.task;
            if (task.kind == EntryKind::Folder && !task.Failed() && MayEnter(entry, m_scout) &&
                !task.entries->empty()) {
                m_scout.push_back(Frame{task.entries, 0, task.identity, 0, {}});
                continue;
            }
            ++frame.index;
        }
        return nullptr;
    }

    // The scout has fallen behind the visitor's walk (it went past a folder it took for a file,
    // or into one the visitor skipped): it starts again from the visitor's position.
    void Resync() {
        m_scout = m_frames;
        m_consumed = m_submitted;
    }

    // Returns once `entry`'s task has run, keeping the scout going meanwhile.
    void Await(Entry& entry) {
        if (!entry.task) {
            Resync();
            MoveScoutOn();
            if (!entry.task) {
                Submit(entry);
            }
        }
        m_consumed = std::max(m_consumed, entry.sequence);
        EntryTask& task = *entry.task;
        for (;;) {
            // The scout may stop at a folder whose listing it needs before going on; its end
            // wakes this thread too, so that the requests after it start at once.
            IoPool::Task* const scoutWaitsFor = MoveScoutOn();
            if (task.Done() || m_pool.RunHere(task)) {
                break;
            }
            m_pool.WaitForEither(task, scoutWaitsFor, WakeBatch(m_window));
        }
        task.RethrowFailure();
    }

    // `folder`: the folder whose entries `list` holds, of `identity`; null for the caller's list.
    void WalkList(const std::shared_ptr<PathList>& list, const std::string* folder,
                  FolderIdentity identity) {
        if (folder != nullptr) {
            m_visitor.FolderListStarted(*folder, list->size());
        } else {
            m_visitor.ListStarted(list->size());
        }
        m_frames.push_back(Frame{list, 0, identity, 0, {}});
        const ScopeExit scope([this] {
            m_frames.pop_back();
            m_visitor.ListEnded();
        });
        const std::size_t count = list->size();
        for (std::size_t i = 0; i < count && !m_visitor.Stopped(); ++i) {
            m_frames.back().index = i;
            Entry& entry = (*list)[i];
            VisitEntry(entry);
            // What was found for the entry is no longer needed.
            entry.task.reset();
            m_visitor.PathHandled(entry.path);
        }
    }

    void VisitEntry(Entry& entry) {
        if (entry.path.empty() || m_visitor.IsListed(entry.path)) {
            return;
        }
        EntryKind kind = entry.kind;
        if (NeedsTask(entry)) {
            Await(entry);
            kind = entry.task->kind;
        }
        switch (kind) {
        case EntryKind::Missing:
            if (m_frames.size() == 1) { // a path of the caller's list
                m_visitor.NamedPathMissing(entry.path);
            }
            return;
        case EntryKind::Refused:
            m_visitor.Refused(entry.path);
            return;
        case EntryKind::Folder:
            Enter(entry);
            return;
        case EntryKind::File:
            if (HasJpegExtension(entry.path)) {
                m_visitor.Take(entry.path,
                               entry.task ? std::move(entry.task->result) : FileResult{});
            }
            return;
        case EntryKind::Special:
        case EntryKind::Dangling:
            if (HasJpegExtension(entry.path)) {
                m_visitor.Take(entry.path, FileResult{});
            }
            return;
        case EntryKind::Unknown:
            return;
        }
    }

    void Enter(Entry& entry) {
        const EntryTask& task = *entry.task;
        if (!task.opened) {
            m_visitor.FolderNotEntered(entry.path);
            m_visitor.Refused(entry.path);
            return;
        }
        if (!MayEnter(entry, m_frames)) {
            m_visitor.FolderNotEntered(entry.path);
            return;
        }
        m_inside.push_back(task.identity);
        const ScopeExit leave([this] { m_inside.pop_back(); });
        if (task.entries->empty()) {
            m_visitor.EmptyFolderWalked(entry.path);
            return;
        }
        const std::shared_ptr<PathList> entries = task.entries;
        WalkList(entries, &entry.path, task.identity);
    }

    const WalkEngine::Options& m_options;
    WalkEngine::Visitor& m_visitor;
    std::vector<FolderIdentity> m_ownInside;
    std::vector<Frame> m_frames; // the visitor's walk: one frame per open list
    std::vector<Frame> m_scout;  // the scout's position, at or ahead of the visitor's
    // Destroyed before the lists above: its threads are joined first.
    IoPool m_pool;
    std::size_t m_window;
    std::vector<FolderIdentity>& m_inside;
    std::size_t m_outerDepth;
    std::uint64_t m_submitted = 0;
    std::uint64_t m_consumed = 0;
};

} // namespace

WalkEngine::WalkEngine(Options options)
    : m_options(std::move(options)) {}

void WalkEngine::Walk(const std::vector<std::string>& paths, Visitor& visitor) const {
    WalkRun run(m_options, visitor);
    run.Walk(paths);
}

} // namespace vorn
