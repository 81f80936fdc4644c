// vorn-check: the check of the Vorn window for scripts, servers and very large collections.
// It takes paths as the window does, checks each JPEG file on worker threads and prints one
// line per file in list order.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/check_options.h"
#include "cli/check_pool.h"
#include "cli/report_format.h"
#include "cli/top_level_paths.h"
#include "core/path_order.h"
#include "core/path_walk.h"

namespace {

constexpr std::size_t kBatchSize = 2048;

// Walks the paths, hands the files to the pool in batches and prints each batch as soon as it is
// checked, while the next one is being collected: memory holds two batches at the most.
class Run : public vorn::PathWalk::Visitor {
public:
    explicit Run(const CheckOptions& options)
        : m_options(options)
        , m_pool(options.jobs, options.explain, options.explainLimit) {}

    bool IsListed(const std::string& path) override { return m_done.Covers(path); }

    void Take(const std::string& path) override {
        m_batch.push_back(path);
        if (m_batch.size() >= kBatchSize)
            Hand();
    }

    void ListStarted(std::size_t) override { ++m_depth; }
    void ListEnded() override { --m_depth; }
    void PathHandled(const std::string& path) override {
        if (m_depth == 1)
            m_done.Add(path);
    }

    // Prints what is still out; returns the exit status.
    int Finish() {
        Hand();
        Print();
        if (m_options.summary)
            Write(SummaryLine(m_sound + m_failed, m_sound, m_failed, m_options.json));
        // A report cut short (a full disk, a closed pipe) must not pass for a complete one.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fputs("vorn-check: the report could not be written\n", stderr);
            return 2;
        }
        return m_failed > 0 ? 1 : 0;
    }

private:
    void Hand() {
        Print();
        if (!m_batch.empty())
            m_pool.Start(std::move(m_batch));
        m_batch.clear();
    }

    void Print() {
        std::vector<FileVerdict> verdicts;
        const std::vector<std::string> paths = m_pool.Collect(verdicts);
        std::string text;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const bool sound = verdicts[i].verdict == vorn::MarkerVerdict::Normal;
            ++(sound ? m_sound : m_failed);
            if (!sound || !m_options.errorsOnly)
                text += ReportLine(verdicts[i].verdict, paths[i], verdicts[i].explanation,
                                   m_options.json);
        }
        Write(text);
    }

    static void Write(const std::string& text) {
        if (!text.empty())
            std::fwrite(text.data(), 1, text.size(), stdout);
    }

    const CheckOptions& m_options;
    CheckPool m_pool;
    TopLevelPaths m_done;
    std::vector<std::string> m_batch;
    int m_depth = 0;
    std::size_t m_sound = 0;
    std::size_t m_failed = 0;
};

} // namespace

int main(int argc, char** argv) {
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
    vorn::SortPaths(paths);
    Run run(options);
    vorn::PathWalk walk(run, vorn::DefaultPathCollator());
    walk.Walk(paths);
    return run.Finish();
}
