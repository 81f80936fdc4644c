// Checking the rows of the list: one row by CheckItem, the whole list by CheckAll (the markers)
// or CheckPictures (the picture too, as vorn-check --deep) with the check dialog counting and
// the files of the rows that come next checked ahead on I/O threads. Both kinds of run are the
// one run below with its check as a parameter, and a row passes or fails by the rule
// vorn-check uses (core/verdict_rule.h).
//
// Soundness while a run goes on. Once the user has closed the check dialog in the middle of a
// run, the main window takes input between two rows again. Everything stays allowed then; the
// run checks before each row that it still makes sense, and stops (refreshing the status bar
// as at its end) when
// - the list has been emptied since the run started (Delete All): its rows are gone, and rows
//   added since are other files at the same indexes;
// - its next row lies past the end of the list;
// - a later check run has started inside it: that run has checked every row again and owns the
//   dialog's figures;
// - the main window has been closed (Exit): the program ends promptly.
// Rows added meanwhile (a drop) do not extend a run: it checks the rows it counted at its start.

#include "forms/main/vorn_form.h"

#include <QLabel>

#include <algorithm>
#include <malloc.h>

#include "core/base/processor_count.h"
#include "core/base/scope_exit.h"
#include "core/base/turns.h"
#include "core/check/deep_check.h"
#include "core/check/end_marker_explanation.h"
#include "core/check/marker_check.h"
#include "core/check/verdict_rule.h"
#include "core/check/verdict_sentence.h"
#include "core/walk/check_ahead.h"
#include "forms/check/check_form.h"
#include "forms/main/file_list_model.h"
#include "forms/paint_throttle.h"

namespace {

// The check of one row's file, run on an I/O thread.
vorn::FileCheck RowCheck(TCheckKind kind, vorn::Turns& turns) {
    if (kind == TCheckKind::ckMarkers) {
        return [](const std::string& path, vorn::FileResult& result) {
            // Why an end marker is missing, and why a file cannot be opened, as vorn-check
            // --explain tells it: the row's reason.
            vorn::EndMarkerExplanation explanation;
            vorn::MarkerCheckOptions options;
            options.explanation = &explanation;
            options.openError = &result.openError;
            result.verdict = vorn::CheckMarkers(path, options);
            if (result.verdict == vorn::MarkerVerdict::Eoi) {
                result.detail = vorn::Describe(explanation);
            }
        };
    }
    // The allocator keeps what a thread freed in that thread's arena, and it raises the size
    // from which it maps blocks of their own each time such a block is freed: a picture's bytes
    // and the decoder's buffers would then stay behind in the arena of each of the I/O threads
    // that checked one (730 MB over forty wallpapers, where two decoders run at once). Blocks
    // of a megabyte and more are mapped on their own, always, and go back when freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    return [&turns](const std::string& path, vorn::FileResult& result) {
        // The picture is checked on the file the marker check has open; a file it cannot open
        // is unreadable to both.
        result.deep = vorn::DeepCheckResult{};
        vorn::MarkerCheckOptions options;
        options.openError = &result.openError;
        options.onOpenFile = [&](int fd, const struct stat& info) {
            const vorn::Turns::Turn turn(turns);
            result.deep = vorn::DeepCheckOpenFile(fd, static_cast<std::uint64_t>(info.st_size));
        };
        result.verdict = vorn::CheckMarkers(path, options);
    };
}

} // namespace

bool TVornForm::CheckItem(int row) {
    if (row < 0 || row >= m_fileList->Count()) {
        return false;
    }
    vorn::FileResult result;
    vorn::EndMarkerExplanation explanation;
    vorn::MarkerCheckOptions options;
    options.explanation = &explanation;
    options.openError = &result.openError;
    result.verdict = vorn::CheckMarkers(m_fileList->Caption(row), options);
    if (result.verdict == vorn::MarkerVerdict::Eoi) {
        result.detail = vorn::Describe(explanation);
    }
    return ShowVerdict(row, result);
}

bool TVornForm::ShowVerdict(int row, const vorn::FileResult& result) {
    const vorn::DeepCheckResult* const deep = result.deep ? &*result.deep : nullptr;
    const bool normal = vorn::CountsAsSound(result.verdict, deep);
    // The state first, then the error text.
    m_fileList->SetState(row, normal ? isNormal : isError);
    m_fileList->SetErrorText(row, vorn::VerdictShortText(result.verdict, deep));
    // Both markers in place is the common verdict: its sentence is made when it is read.
    const bool plain = !deep && result.verdict == vorn::MarkerVerdict::Normal;
    m_fileList->SetReason(row, plain ? std::string() : vorn::VerdictSentence(result));
    m_fileList->SetResult(row, result);
    return normal;
}

void TVornForm::CheckAll() {
    CheckEveryRow(TCheckKind::ckMarkers);
}

void TVornForm::CheckPictures() {
    CheckEveryRow(TCheckKind::ckPictures);
}

void TVornForm::CheckEveryRow(TCheckKind kind) {
    const int count = m_fileList->Count();
    if (count == 0) {
        return;
    }

    TCheckForm* const dialog = m_checkForm;
    QLabel* const checkedLabel = dialog->CheckedNumLabel();
    QLabel* const normalLabel = dialog->NormalNumLabel();
    QLabel* const errorLabel = dialog->ErrorNumLabel();
    const std::uint64_t run = ++m_checkRuns;
    const std::uint64_t generation = m_fileList->Generation();
    const bool windowWasOpen = isVisible();

    dialog->FilesNumLabel()->setText(QString::number(count));
    // A hidden dialog is shown (it resets its counters, places itself and locks the main
    // window); one still open with the figures of an earlier run is brought to the front.
    if (dialog->isVisible()) {
        dialog->raise();
    } else {
        dialog->show();
    }
    {
        // The next rows' files are checked ahead on I/O threads; each row takes its verdict
        // in turn, so what the user sees is the row-by-row run. Leaving the scope drops the
        // checks still ahead and ends their threads.
        // The picture check is work for the processors, not the file system: the I/O threads
        // take turns at it, as many as there are cores, and memory holds that many pictures (as
        // in vorn-check).
        vorn::Turns turns(vorn::ProcessorCount());
        vorn::CheckAhead ahead(RowCheck(kind, turns));
        int added = 0;
        vorn::PaintThrottle throttle(dialog);
        m_eventPacer.BeginRun();
        const vorn::ScopeExit endRun([this] { m_eventPacer.EndRun(); });
        for (int i = 0; i < count; ++i) {
            if (m_fileList->Generation() != generation || i >= m_fileList->Count() ||
                m_checkRuns != run || (windowWasOpen && !isVisible())) {
                break;
            }
            const int reach = std::min(count, m_fileList->Count());
            while (added < reach && ahead.Pending() < ahead.Window()) {
                ahead.Add(m_fileList->Caption(added++));
            }
            checkedLabel->setText(QString::number(i + 1));
            // The labels' captions are the counters.
            QLabel* const counter = ShowVerdict(i, ahead.Next()) ? normalLabel : errorLabel;
            counter->setText(QString::number(counter->text().toLongLong() + 1));
            m_eventPacer.ProcessEvents(throttle);
        }
    }
    UpdateStatusBar();
}
