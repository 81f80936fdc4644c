// vorn-check: the check of the Vorn window for scripts, servers and very large collections.
// It takes paths as the window does, checks each JPEG file on I/O threads and prints one line
// per file in list order.

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <malloc.h>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "cli/check_options.h"
#include "cli/top_level_paths.h"
#include "core/base/scope_exit.h"
#include "core/check/end_marker_explanation.h"
#include "core/paths/path_order.h"
#include "core/report_format.h"
#include "core/verdict_rule.h"
#include "core/walk/walk_engine.h"

namespace vorn::cli {
namespace {

// Prints each file's line as the engine hands it over, in list order; memory stays flat
// however many files follow.
class Run : public vorn::WalkEngine::Visitor {
public:
    explicit Run(const CheckOptions& options)
        : m_options(options) {}

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
        // Sound in --errors, --summary and the exit status by the window's own rule.
        const bool sound = vorn::CountsAsSound(result.verdict, deep);
        ++(sound ? m_sound : m_failed);
        if (!sound || !m_options.errorsOnly) {
            Write(ReportLine(result.verdict, path, result.detail, m_options.json, deep));
        }
    }

    void ListStarted(std::size_t) override { ++m_depth; }
    void ListEnded() override { --m_depth; }
    void PathHandled(const std::string& path) override {
        if (m_depth == 1) {
            m_done.Add(path);
        }
    }
    void FolderNotEntered(const std::string& path) override { m_done.AddHole(path); }

    void NamedPathMissing(const std::string& path) override {
        // Escaped as in the report, so that a name cannot act on the terminal.
        std::fprintf(stderr, "vorn-check: %s: no such file or folder\n",
                     EscapeForReport(path).c_str());
        m_missing = true;
    }

    // Ends the report; returns the exit status.
    int Finish() {
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

    const CheckOptions& m_options;
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
    // turns at it, as many at once as there are cores, so that memory holds that many pictures.
    const auto processors =
        std::clamp<std::ptrdiff_t>(std::thread::hardware_concurrency(), 1, 1024);
    // The allocator gives each thread that allocates an arena of its own and keeps freed blocks
    // in the arena of the thread that used them. The marker check allocates little per file (a
    // path, a result, a folder's listing), and with an arena per I/O thread the peak grew with
    // the tree (10 MB for 10,000 files, 13 to 15 MB for 100,000); with one arena it stays at
    // 9.4 MB for both, at no measurable cost in speed. The picture check frees a picture's
    // bytes and the decoder's buffers after each file: as many arenas as decoders keep the
    // memory with the pictures being checked.
    mallopt(M_ARENA_MAX, deep ? static_cast<int>(processors) : 1);
    std::counting_semaphore<1024> cores(processors);
    engineOptions.check = [explain, explainLimit, deep, &cores](const std::string& path,
                                                                vorn::FileResult& result) {
        vorn::EndMarkerExplanation explanation;
        vorn::MarkerCheckOptions checkOptions;
        checkOptions.explanation = explain ? &explanation : nullptr;
        checkOptions.explanationDataLimit = explainLimit;
        checkOptions.knownRegularFile = true; // the engine checks only what it saw as one
        if (deep) {
            // The picture is checked on the file the marker check has open; a file it cannot
            // open is unreadable to both.
            result.deep = vorn::DeepCheckResult{};
            checkOptions.onOpenFile = [&](int fd, const struct stat& info) {
                cores.acquire();
                const vorn::ScopeExit release([&] { cores.release(); });
                result.deep = vorn::DeepCheckOpenFile(fd, static_cast<std::uint64_t>(info.st_size));
            };
        }
        result.verdict = vorn::CheckMarkers(path, checkOptions);
        if (explain && result.verdict == vorn::MarkerVerdict::Eoi) {
            result.detail = vorn::Describe(explanation);
        }
    };
    Run run(options);
    vorn::WalkEngine(std::move(engineOptions)).Walk(paths, run);
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
