// vorn-check: the check of the Vorn window for scripts, servers and very large collections.
// It takes paths as the window does, checks each JPEG file on I/O threads and prints one line
// per file in list order.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <functional>
#include <malloc.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cli/check_options.h"
#include "cli/progress_line.h"
#include "cli/top_level_paths.h"
#include "core/base/processor_count.h"
#include "core/base/scope_exit.h"
#include "core/base/turns.h"
#include "core/check/check_state.h"
#include "core/check/end_marker_explanation.h"
#include "core/check/memory_budget.h"
#include "core/check/quarantine.h"
#include "core/check/verdict_rule.h"
#include "core/paths/path_order.h"
#include "core/paths/path_rules.h"
#include "core/report/report_format.h"
#include "core/walk/walk_engine.h"

namespace vorn::cli {
namespace {

// Set by SIGINT and SIGTERM: the walk stops, and what was checked is committed to the state.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void Interrupt(int) {
    g_interrupted = 1;
}

// What a check takes of the file's identity, for the state or the quarantine.
enum class IdentityTaken {
    None,
    // The identity the file had when it was opened. A record made of it is safe also when the
    // file is written while it is read: the write moves its time or size on, so the next run
    // (or the quarantine's move) meets another identity and does not trust the record.
    AtOpen,
    // The same, kept only when the file still has it after the read. A file checked again under
    // its remembered identity needs this: its new hash is compared with the old one, and bytes
    // written while it was read would pass for rot.
    Confirmed,
};
using IdentityCheck =
    std::function<void(const std::string& path, vorn::FileResult& result, IdentityTaken)>;

// With a state: the remembered result of `path` when it may stand for a new check; otherwise the
// check, and what the state is to keep of it. Runs on the I/O threads. A file the state does not
// hold is not examined before the check: its identity comes from the check's own open file.
void CheckWithState(const vorn::CheckState& state, const CheckOptions& options, std::int64_t now,
                    const std::string& path, vorn::FileResult& result, const IdentityCheck& check) {
    // A run checks each path once: what it records, it does not look up again.
    std::optional<vorn::CheckRecord> remembered =
        state.HeldNothingAtOpen() ? std::nullopt : state.Find(path);
    if (remembered) {
        const std::optional<vorn::FileIdentity> identity = vorn::IdentityOf(path);
        if (identity &&
            vorn::MayReuse(*remembered, *identity, options.deep, now, options.recheckAfter)) {
            result.verdict = remembered->marker;
            if (options.deep) {
                result.deep = remembered->deep;
            }
            result.record = std::move(remembered);
            result.remembered = true;
            return;
        }
    }
    check(path, result, remembered ? IdentityTaken::Confirmed : IdentityTaken::AtOpen);
    // A file written while it was checked again has no identity: it is checked again next time,
    // and is no sign of rot.
    if (!result.identity || result.verdict == vorn::MarkerVerdict::OpenError) {
        return;
    }
    vorn::CheckRecord record;
    record.identity = *result.identity;
    record.marker = result.verdict;
    if (result.deep) {
        record.deep = result.deep;
        record.deep->contentHash.reset();
        record.hash = result.deep->contentHash;
    }
    record.checkedAt = now;
    result.record = vorn::RecordToKeep(remembered, std::move(record));
}

// One line on standard error, redrawn at most ten times a second and erased at the end, so that
// a person at a terminal sees a long run move; the report on standard output is not touched.
class Progress {
public:
    explicit Progress(bool shown)
        : m_shown(shown) {}
    ~Progress() { Erase(); }

    bool Shown() const { return m_shown; }

    // The files the run reports, once known or guessed: from another thread.
    void SetTotal(std::size_t total, bool guessed) {
        m_guessed.store(guessed, std::memory_order_relaxed);
        m_total.store(total, std::memory_order_release);
    }

    void Count(bool failed, bool remembered, std::uint64_t bytesRead) {
        ++m_counts.checked;
        m_counts.failed += failed ? 1 : 0;
        m_counts.remembered += remembered ? 1 : 0;
        m_counts.bytesRead += bytesRead;
        if (!m_shown) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (now - m_drawn < std::chrono::milliseconds(100)) {
            return;
        }
        m_drawn = now;
        if (const std::size_t total = m_total.load(std::memory_order_acquire); total != kUnknown) {
            m_counts.total = total;
            m_counts.totalGuessed = m_guessed.load(std::memory_order_relaxed);
        }
        const std::string text =
            ProgressText(m_counts, std::chrono::duration<double>(now - m_start).count());
        std::fprintf(stderr, "\r\x1b[K%s", text.c_str());
        m_drawnOnce = true;
    }

    void Erase() {
        if (m_drawnOnce) {
            std::fputs("\r\x1b[K", stderr);
            m_drawnOnce = false;
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
    const bool m_shown;
    const Clock::time_point m_start = Clock::now();
    Clock::time_point m_drawn = m_start;
    bool m_drawnOnce = false;
    ProgressCounts m_counts;
    std::atomic<std::size_t> m_total{kUnknown};
    std::atomic<bool> m_guessed{false};
};

// Prints each file's line as the engine hands it over, in list order; memory stays flat
// however many files follow.
class Run : public vorn::WalkEngine::Visitor {
public:
    Run(const CheckOptions& options, vorn::CheckState* state)
        : m_options(options)
        , m_state(state)
        , m_progress(options.progress.value_or(::isatty(2) == 1)) {}

    bool IsListed(const std::string& path) override {
        if (!m_done.Covers(path)) {
            return false;
        }
        // A named path below a folder already walked was reported there if it exists; one
        // that names nothing is still a mistyped name.
        if (m_depth == 1 && vorn::ExamineEntry(path) == vorn::EntryKind::Missing) {
            NamedPathMissing(path);
        }
        return true;
    }

    void Take(const std::string& path, vorn::FileResult&& result) override {
        const vorn::DeepCheckResult* deep = result.deep ? &*result.deep : nullptr;
        // The file the verdict is about, for the quarantine; the record itself goes to the state.
        const std::optional<vorn::FileIdentity> checked =
            result.record ? std::optional(result.record->identity) : std::nullopt;
        std::optional<StateNote> note;
        if (m_state && result.record) {
            note =
                StateNote{result.remembered, result.record->checkedAt, result.record->changedSince};
            if (!result.remembered) {
                m_state->Record(path, *result.record);
            }
        }
        // Sound in --errors, --summary and the exit status by the window's own rule.
        const bool sound =
            vorn::CountsAsSound(result.verdict, deep) && !(note && note->changedSince);
        ++(sound ? m_sound : m_failed);
        m_progress.Count(!sound, result.remembered, result.bytesRead);
        if (!sound || !m_options.errorsOnly) {
            const std::string target =
                !sound ? QuarantineTarget(path, result.verdict, checked) : std::string();
            Write(ReportLine(result.verdict, path, result.detail, m_options.json, deep,
                             note ? &*note : nullptr, target));
            if (!target.empty() && !m_options.dryRun) {
                Quarantine(path, *checked, target);
            }
        }
    }

    void ListStarted(std::size_t) override {
        ++m_depth;
        m_lists.emplace_back();
    }
    void FolderListStarted(const std::string& folder, std::size_t count) override {
        ListStarted(count);
        m_lists.back().folder = vorn::WithTrailingDelimiter(folder);
    }
    void ListEnded() override {
        --m_depth;
        ListFrame frame = std::move(m_lists.back());
        m_lists.pop_back();
        // Only a folder walked to its end tells which of its entries are gone.
        if (Prunes() && !frame.folder.empty() && !g_interrupted) {
            std::sort(frame.names.begin(), frame.names.end());
            m_state->ForgetGone(std::move(frame.folder), std::move(frame.names));
        }
    }
    void EmptyFolderWalked(const std::string& folder) override {
        if (Prunes() && !g_interrupted) {
            m_state->ForgetGone(vorn::WithTrailingDelimiter(folder), {});
        }
    }
    void PathHandled(const std::string& path) override {
        if (m_depth == 1) {
            m_done.Add(path);
        }
        if (ListFrame& frame = m_lists.back(); Prunes() && !frame.folder.empty()) {
            frame.names.push_back(path.substr(frame.folder.size()));
        }
    }
    bool Stopped() override { return g_interrupted != 0; }
    void FolderNotEntered(const std::string& path) override { m_done.AddHole(path); }

    void NamedPathMissing(const std::string& path) override {
        // Escaped as in the report, so that a name cannot act on the terminal.
        m_progress.Erase();
        std::fprintf(stderr, "vorn-check: %s: no such file or folder\n",
                     EscapeForReport(path).c_str());
        m_missing = true;
    }

    // The file's path below the named path it was found under.
    std::string RelativeToNamedPath(const std::string& path) const {
        if (m_lists.size() > 1) {
            return path.substr(m_lists[1].folder.size());
        }
        const std::size_t slash = path.find_last_of('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    // Where --quarantine is to move a failed file, of `checked` when it was read whole, or ""
    // when it stays: a file not opened has nothing to move.
    std::string QuarantineTarget(const std::string& path, vorn::MarkerVerdict verdict,
                                 const std::optional<vorn::FileIdentity>& checked) {
        if (m_options.quarantine.empty() || verdict == vorn::MarkerVerdict::OpenError || !checked) {
            return {};
        }
        const vorn::QuarantineMove move = vorn::MoveToQuarantine(
            path, *checked, m_options.quarantine, RelativeToNamedPath(path), true);
        if (!move.error.empty()) {
            Tell(path, "not moved: " + move.error);
        }
        return move.target;
    }

    // The report line saying where the file goes is out before it moves.
    void Quarantine(const std::string& path, const vorn::FileIdentity& checked,
                    const std::string& target) {
        std::fflush(stdout);
        const vorn::QuarantineMove move = vorn::MoveToQuarantine(
            path, checked, m_options.quarantine, RelativeToNamedPath(path), false);
        if (!move.error.empty()) {
            Tell(path, "not moved: " + move.error);
        } else if (move.target != target) {
            Tell(path, "moved to " + EscapeForReport(move.target) + " instead");
        }
    }

    void Tell(const std::string& path, const std::string& what) {
        m_progress.Erase();
        std::fprintf(stderr, "vorn-check: %s: %s\n", EscapeForReport(path).c_str(), what.c_str());
    }

    Progress& ProgressLine() { return m_progress; }

    // Ends the report; returns the exit status.
    int Finish() {
        m_progress.Erase();
        if (m_state) {
            m_state->Commit();
        }
        if (g_interrupted) {
            std::fflush(stdout);
            std::fputs("vorn-check: interrupted; the files checked so far are kept\n", stderr);
            return 2;
        }
        if (m_options.summary) {
            Write(SummaryLine(m_sound + m_failed, m_sound, m_failed, m_options.json));
        }
        // A report cut short (a full disk, a closed pipe) must not pass for a complete one.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fputs("vorn-check: the report could not be written\n", stderr);
            return 2;
        }
        return m_failed > 0 || m_missing ? 1 : 0;
    }

private:
    static void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

    // Whether the walked folders' entries are to be compared with the state's: a state that
    // held nothing has nothing that could be gone.
    bool Prunes() const { return m_state && !m_state->HeldNothingAtOpen(); }

    // A list being walked; for a folder with a state, its entries' names, to find those gone.
    struct ListFrame {
        std::string folder; // with its trailing delimiter; empty for the caller's list
        std::vector<std::string> names;
    };

    const CheckOptions& m_options;
    vorn::CheckState* m_state;
    std::vector<ListFrame> m_lists;
    Progress m_progress;
    TopLevelPaths m_done;
    int m_depth = 0;
    std::size_t m_sound = 0;
    std::size_t m_failed = 0;
    bool m_missing = false;
};

} // namespace

// The whole run; its result is the exit status.
int Main(int argc, char** argv) {
    const OptionsResult parsed = ParseCheckOptions(argc, argv);
    if (!parsed.options) {
        std::fprintf(stderr, "vorn-check: %s\nTry 'vorn-check --help'.\n", parsed.error.c_str());
        return 2;
    }
    const CheckOptions& options = *parsed.options;
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("vorn-check " VORN_VERSION);
        return 0;
    }

    std::vector<std::string> paths = options.paths;
    if (!options.filesFrom.empty()) {
        std::string error;
        if (!ReadPathList(options.filesFrom, options.nullSeparated, paths, error)) {
            std::fprintf(stderr, "vorn-check: %s\n", error.c_str());
            return 2;
        }
    }
    vorn::SortPaths(paths);

    vorn::WalkEngine::Options engineOptions;
    engineOptions.threads = options.jobs;
    const bool explain = options.explain;
    const std::uint64_t explainLimit = options.explainLimit;
    const bool deep = options.deep;
    // The picture check is work for the processors, not the file system: the I/O threads take
    // turns at it, as many at once as there are cores.
    const std::size_t processors = vorn::ProcessorCount();
    // The allocator gives each thread that allocates an arena of its own and keeps freed blocks
    // in the arena of the thread that used them. The marker check allocates little per file (a
    // path, a result, a folder's listing), and with an arena per I/O thread the peak grew with
    // the tree (10 MB for 10,000 files, 13 to 15 MB for 100,000); with one arena it stays at
    // 9.4 MB for both, at no measurable cost in speed. The picture check frees a picture's
    // bytes and the decoder's buffers after each file: as many arenas as decoders keep the
    // memory with the pictures being checked.
    mallopt(M_ARENA_MAX, deep ? static_cast<int>(processors) : 1);
    vorn::Turns cores(processors);
    // The pictures checked at once share one amount of memory, however many cores there are.
    vorn::MemoryBudget budget(options.memory != 0 ? options.memory : vorn::DefaultMemoryBudget());
    const IdentityCheck check = [explain, explainLimit, deep, &cores,
                                 &budget](const std::string& path, vorn::FileResult& result,
                                          IdentityTaken identity) {
        vorn::EndMarkerExplanation explanation;
        vorn::MarkerCheckOptions checkOptions;
        checkOptions.explanation = explain ? &explanation : nullptr;
        checkOptions.explanationDataLimit = explainLimit;
        checkOptions.knownRegularFile = true; // the engine checks only what it saw as one
        if (deep) {
            // A file the marker check cannot open is unreadable to the picture check too.
            result.deep = vorn::DeepCheckResult{};
        }
        // The picture is checked on the file the marker check has open.
        checkOptions.onOpenFile = [&](int fd, const struct stat& info) {
            // The two marker pairs; the picture check reads the file's bytes.
            result.bytesRead = std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), 4);
            if (deep) {
                const vorn::Turns::Turn turn(cores);
                result.deep = vorn::DeepCheckOpenFile(fd, static_cast<std::uint64_t>(info.st_size),
                                                      {}, budget);
                if (result.deep->contentHash) {
                    result.bytesRead = static_cast<std::uint64_t>(info.st_size);
                }
            }
            // A write while the file was read changes its time or size; the status at the open
            // is then not that of the bytes read.
            struct stat after {};
            if (identity == IdentityTaken::AtOpen ||
                (identity == IdentityTaken::Confirmed && ::fstat(fd, &after) == 0 &&
                 vorn::IdentityOf(after) == vorn::IdentityOf(info))) {
                result.identity = vorn::IdentityOf(info);
            }
        };
        result.verdict = vorn::CheckMarkers(path, checkOptions);
        if (explain && result.verdict == vorn::MarkerVerdict::Eoi) {
            result.detail = vorn::Describe(explanation);
        }
    };
    std::unique_ptr<vorn::CheckState> state;
    if (!options.state.empty()) {
        state = std::make_unique<vorn::CheckState>(options.state);
        const std::int64_t now = std::time(nullptr);
        engineOptions.check = [&options, &state = *state, now, check](const std::string& path,
                                                                      vorn::FileResult& result) {
            CheckWithState(state, options, now, path, result, check);
        };
    } else if (!options.quarantine.empty()) {
        // A failed file is moved only while it is the file that was checked.
        engineOptions.check = [check](const std::string& path, vorn::FileResult& result) {
            check(path, result, IdentityTaken::AtOpen);
            if (result.identity) {
                result.record.emplace();
                result.record->identity = *result.identity;
            }
        };
    } else {
        engineOptions.check = [check](const std::string& path, vorn::FileResult& result) {
            check(path, result, IdentityTaken::None);
        };
    }
    // The quarantine is never walked, even when it lies inside a walked folder: its files would
    // be reported again and moved once more.
    std::vector<vorn::FolderIdentity> leftOut;
    if (!options.quarantine.empty()) {
        const vorn::QuarantineFolder quarantine =
            vorn::PrepareQuarantine(options.quarantine, options.dryRun);
        if (!quarantine.error.empty()) {
            std::fprintf(stderr, "vorn-check: %s: %s\n",
                         EscapeForReport(options.quarantine).c_str(), quarantine.error.c_str());
            return 2;
        }
        if (quarantine.identity) {
            leftOut.push_back(*quarantine.identity);
            engineOptions.foldersBeingWalked = &leftOut;
        }
    }
    std::signal(SIGINT, Interrupt);
    std::signal(SIGTERM, Interrupt);
    Run run(options, state.get());
    // With a folder among them the total is not known until the end: the walk lists a folder
    // only a window of requests (a few hundred files) and a few folders ahead of the report, so
    // that memory stays flat, and so knows the whole tree only for its last moments; counting
    // the tree beforehand would read every folder twice, on a slow share as long as the walk.
    // A state remembers what the last walk of each folder found, which stands for a guess.
    // With no folder among the named paths the files to report are known before the walk: they
    // are counted beside it, since on a slow share the look-ups take a while (the walk finds
    // them in the system's cache then).
    std::atomic<bool> walked{false};
    std::thread counter;
    if (run.ProgressLine().Shown()) {
        counter = std::thread([&] {
            std::function<std::size_t(const std::string&)> filesLastTime;
            if (state) {
                // A state that cannot be read gives no guess; the walk then says why.
                filesLastTime = [&](const std::string& folder) -> std::size_t {
                    try {
                        return state->FilesBelow(folder);
                    } catch (const vorn::CheckStateError&) {
                        return 0;
                    }
                };
            }
            if (const std::optional<FilesToReport> total = FilesNamed(
                    paths, [&] { return walked.load() || g_interrupted != 0; }, filesLastTime)) {
                run.ProgressLine().SetTotal(total->count, total->guessed);
            }
        });
    }
    {
        const vorn::ScopeExit join([&] {
            walked = true;
            if (counter.joinable()) {
                counter.join();
            }
        });
        vorn::WalkEngine(std::move(engineOptions)).Walk(paths, run);
    }
    return run.Finish();
}

} // namespace vorn::cli

int main(int argc, char** argv) {
    // A report past the file-size limit then fails as a write and ends with status 2, instead of
    // the signal ending the run with no word.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return vorn::cli::Main(argc, argv);
    } catch (const std::exception& error) {
        // A failure the run cannot go on from (the Unicode library missing, memory exhausted)
        // ends it with a word and the status of a report not written, not with an abort.
        std::fflush(stdout);
        std::fprintf(stderr, "vorn-check: %s\n", error.what());
        return 2;
    }
}
