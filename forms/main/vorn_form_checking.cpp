// Checking the rows of the list: one row by CheckItem, the whole list by CheckAll with the check
// dialog counting and the files of the rows that come next checked ahead on I/O threads.
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

#include "core/base/scope_exit.h"
#include "core/check/marker_check.h"
#include "core/walk/check_ahead.h"
#include "forms/check/check_form.h"
#include "forms/main/file_list_model.h"
#include "forms/paint_throttle.h"

bool TVornForm::CheckItem(int row) {
    if (row < 0 || row >= m_fileList->Count()) {
        return false;
    }
    return ShowVerdict(row, vorn::CheckMarkers(m_fileList->Caption(row)));
}

bool TVornForm::ShowVerdict(int row, vorn::MarkerVerdict verdict) {
    const bool normal = verdict == vorn::MarkerVerdict::Normal;
    // The state first, then the error text.
    m_fileList->SetState(row, normal ? isNormal : isError);
    m_fileList->SetErrorText(row, std::string(vorn::VerdictErrorText(verdict)));
    return normal;
}

void TVornForm::CheckAll() {
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
    // A hidden dialog is shown (it resets its counters, places itself and disables the main
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
        vorn::CheckAhead ahead([](const std::string& path, vorn::FileResult& result) {
            result.verdict = vorn::CheckMarkers(path);
        });
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
            QLabel* const counter = ShowVerdict(i, ahead.Next().verdict) ? normalLabel : errorLabel;
            counter->setText(QString::number(counter->text().toLongLong() + 1));
            m_eventPacer.ProcessEvents(throttle);
        }
    }
    UpdateStatusBar();
}
