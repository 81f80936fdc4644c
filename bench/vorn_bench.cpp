// Times Vorn itself on the offscreen platform, windows and all: AddFiles over a large tree, then
// CheckAll, warm cache, against the plain reference loop doing the same job in the same run.
// Goals: adding plus checking at most 1.2 times the reference loop; peak memory at most 100 MB
// with 100,000 rows; events processed once per path and once per row, with no long gap.
//
//   vorn_bench [--tree DIR] [--folders N] [--files N] [--runs N] [--single]
//   vorn_bench --dialog-cycles N
//
// With --tree the tree is made in DIR once and reused by later runs; without it, it is made in
// a temporary folder and removed at the end. With --single, one timed run over DIR as it stands
// (nothing made, no warm-up, no reference) prints one line "window ADD_MS CHECK_MS ROWS ERRORS":
// how vorn_storage_bench runs the window on a cold cache or a slow mount. With --dialog-cycles N,
// N cycles of what a walk does at every folder besides walking it (nothing made, no rows): the
// progress dialog shown, which locks the main window, one pass over the events, the dialog
// closed, which unlocks it, and another pass; it prints "dialog N MS". On a tree of one-file
// folders that is the least a walk can cost on the platform it runs on.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <unistd.h>

#include "bench/bench_tree.h"
#include "bench/child_run.h"
#include "forms/check/check_form.h"
#include "forms/dialog_lock.h"
#include "forms/event_pacer.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/paint_throttle.h"
#include "forms/progress/progress_form.h"
#include "tests/support/run_probe.h"

namespace {

using vorn::bench::Clock;
using vorn::bench::MillisecondsSince;
using vorn::bench::TreeCounts;

// The process's peak resident memory in MB (VmHWM), or -1 when the system does not tell.
double PeakMemoryMb() {
    const long kib = vorn::bench::PeakKiB(::getpid());
    return kib < 0 ? -1 : double(kib) / 1024.0;
}

// Measures how the program yields to the event loop: the probe ticks once per processEvents
// call; this counts the ticks and the longest time between two.
class YieldProbe {
public:
    YieldProbe()
        : m_probe([this] {
            if (m_sinceLast.isValid()) {
                m_longestGap = std::max(m_longestGap, m_sinceLast.nsecsElapsed());
            }
            m_sinceLast.start();
            return true;
        }) {}
    long Yields() const { return m_probe.Ticks(); }
    double LongestGapMs() const { return double(m_longestGap) / 1e6; }

private:
    QElapsedTimer m_sinceLast;
    qint64 m_longestGap = 0;
    RunProbe m_probe; // last: it ticks into the members above
};

// Counts the paints of a window and its children.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* window) {
        window->installEventFilter(this);
        for (QWidget* child : window->findChildren<QWidget*>()) {
            child->installEventFilter(this);
        }
    }
    long Paints() const { return m_paints; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++m_paints;
        }
        return false;
    }

private:
    long m_paints = 0;
};

struct VornRun {
    double addMs = 0;
    double checkMs = 0;
    int rows = 0;
    int errors = 0;
    long addYields = 0;
    long checkYields = 0;
    double longestGapMs = 0;
    long dialogPaints = 0;
    double peakMb = 0;
};

// One run on fresh windows, as the program makes them: the tree dropped on the list, then the
// whole list checked.
VornRun RunVorn(const std::string& root, bool probe) {
    auto* form = new TVornForm;
    QPointer<TCheckForm> check = new TCheckForm(form);
    QPointer<TProgressForm> progress = new TProgressForm(form);
    form->AttachDialogs(check, progress);
    form->show();
    QCoreApplication::processEvents();
    PaintCounter progressPaints(progress);
    PaintCounter checkPaints(check);

    VornRun run;
    {
        std::optional<YieldProbe> yields;
        if (probe) {
            yields.emplace();
        }
        const Clock::time_point start = Clock::now();
        form->DropDstFileDrop(nullptr, {root}, 0, 0);
        run.addMs = MillisecondsSince(start);
        if (probe) {
            run.addYields = yields->Yields();
            run.longestGapMs = yields->LongestGapMs();
        }
    }
    {
        std::optional<YieldProbe> yields;
        if (probe) {
            yields.emplace();
        }
        const Clock::time_point start = Clock::now();
        form->CheckAll();
        run.checkMs = MillisecondsSince(start);
        if (probe) {
            run.checkYields = yields->Yields();
            run.longestGapMs = std::max(run.longestGapMs, yields->LongestGapMs());
        }
    }
    run.rows = form->FileList()->Count();
    run.errors = check->ErrorNumLabel()->text().toInt();
    run.dialogPaints = progressPaints.Paints() + checkPaints.Paints();
    run.peakMb = PeakMemoryMb();
    check->close();
    delete check.data();
    delete progress.data();
    delete form;
    return run;
}

// The progress dialog shown and closed `count` times over the main window, as a walk of
// one-file folders does, paced as a walk is: one paint throttle and the window's event pacer
// live through the whole run, each of the two steps per folder (the file in the folder, then the
// folder in its parent) processes events, and the main window's activation is held for the run.
// The time in milliseconds.
double DialogCyclesMs(int count) {
    TVornForm form;
    TCheckForm check(&form);
    TProgressForm progress(&form);
    form.AttachDialogs(&check, &progress);
    form.show();
    QCoreApplication::processEvents();
    const Clock::time_point start = Clock::now();
    vorn::EventPacer pacer(&form);
    pacer.BeginRun();
    HoldMainFormActivation(&form);
    progress.show();
    {
        vorn::PaintThrottle throttle(&progress);
        for (int cycle = 0; cycle < count; ++cycle) {
            if (!progress.isVisible()) {
                progress.show();
            }
            pacer.ProcessEvents(throttle);
            progress.CloseNow();
            pacer.ProcessEvents(throttle);
        }
    }
    progress.CloseNow();
    ReleaseMainFormActivation(&form);
    pacer.EndRun();
    return MillisecondsSince(start);
}

int Main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    bool single = false;
    std::string cycles;
    vorn::bench::BenchOptions options = vorn::bench::ParseBenchOptions(
        argc, argv, {.flags = {{"--single", &single}}, .values = {{"--dialog-cycles", &cycles}}});
    if (!cycles.empty()) {
        const int count = std::atoi(cycles.c_str());
        if (count <= 0) {
            throw vorn::bench::UsageError();
        }
        std::printf("dialog %d %.3f\n", count, DialogCyclesMs(count));
        return 0;
    }
    if (single) {
        if (options.tree.empty()) {
            throw vorn::bench::UsageError();
        }
        const VornRun run = RunVorn(options.tree, false);
        std::printf("window %.3f %.3f %d %d\n", run.addMs, run.checkMs, run.rows, run.errors);
        return 0;
    }
    const vorn::bench::TreeFolder folder(options);

    Clock::time_point start = Clock::now();
    const TreeCounts made =
        vorn::bench::MakeBenchTree(options.tree, options.folders, options.files);
    std::printf("tree: %s, %d folders of %d files, ready in %.0f ms (platform %s)\n",
                options.tree.c_str(), options.folders, options.files, MillisecondsSince(start),
                qPrintable(QGuiApplication::platformName()));

    // Warm-up: one untimed pass of each fills the caches (and makes the collator).
    // The warm-up run also measures how the program yields to the event loop; the probe that
    // does so posts an event per yield, which costs time, so the timed runs go without it.
    TreeCounts reference = vorn::bench::ReferenceLoop(options.tree);
    const VornRun probed = RunVorn(options.tree, true);
    VornRun best;
    double bestReference = 1e300;
    for (int run = 0; run < options.runs; ++run) {
        start = Clock::now();
        reference = vorn::bench::ReferenceLoop(options.tree);
        bestReference = std::min(bestReference, MillisecondsSince(start));
        const VornRun vorn = RunVorn(options.tree, false);
        if (run == 0 || vorn.addMs + vorn.checkMs < best.addMs + best.checkMs) {
            best = vorn;
        }
    }
    const double peakMb = PeakMemoryMb();

    const double total = best.addMs + best.checkMs;
    std::printf("reference loop: best of %d %.1f ms\n", options.runs, bestReference);
    std::printf("Vorn (best of %d): AddFiles %.1f ms + CheckAll %.1f ms = %.1f ms\n", options.runs,
                best.addMs, best.checkMs, total);
    std::printf("  per path %.2f us adding, per row %.2f us checking\n",
                1000.0 * best.addMs / double(std::max<long>(probed.addYields, 1)),
                1000.0 * best.checkMs / double(std::max(best.rows, 1)));
    std::printf("  dialog paints in the run: %ld\n", best.dialogPaints);
    std::printf("responsiveness (a run with a probe): events processed %ld times adding, %ld times "
                "checking; longest time between two: %.2f ms\n",
                probed.addYields, probed.checkYields, probed.longestGapMs);
    std::printf("counts: tree JPEG %zu errors %zu; reference JPEG %zu errors %zu; Vorn rows %d "
                "errors %d\n",
                made.jpegs, made.errors, reference.jpegs, reference.errors, best.rows, best.errors);
    const bool agree = std::size_t(best.rows) == made.jpegs &&
                       std::size_t(best.errors) == made.errors && reference == made;
    std::printf("counts agree: %s\n", agree ? "yes" : "NO");
    std::printf("ratio Vorn/reference: %.2f (goal <= 1.20)\n", total / bestReference);
    std::printf("peak memory (VmHWM): %.1f MB with %d rows (goal <= 100 MB)\n", peakMb, best.rows);
    return agree ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    return vorn::bench::BenchMain(
        "vorn_bench",
        "vorn_bench [--tree DIR] [--folders N] [--files N] [--runs N] [--single]\n"
        "       vorn_bench --dialog-cycles N",
        [&] { return Main(argc, argv); });
}
