// Adding files and folders to the list, the command line and the drop handler.
//
// Every path enters through AddFiles, which runs the walk engine over it: the engine walks
// folders depth first and hands over each list in order (the caller's, then each folder's
// sorted entries, as a call nested in the enclosing one), so a subfolder's rows land at its
// sorted place among its siblings. AddFilesStart, AddFilesStep and AddFilesEnd show a call's
// start, each of its paths and its end; AddFolder starts the call for a folder's entries;
// AddPath makes a row for each file taken. Folders
// listed ahead on the engine's threads change nothing the user sees.
//
// Soundness while a run goes on. The progress dialog closes at the end of every nested call,
// and pending events are processed after every path, so the main window takes input in the
// middle of a walk. Everything stays allowed then, and each case leaves the run sound:
// - Delete All empties the list; the walk goes on adding rows to the emptied list. It reads
//   nothing back from the rows but the listed-paths index, which is emptied with them.
// - A drop, or the walk of a folder, runs as a call nested in the current one, on the same
//   dialog and list, with its own path list; the enclosing call goes on after it returns.
// - A check run started meanwhile checks the rows listed at its start.
// - Closing the main window (Exit) makes every run stop taking new paths, so the program ends
//   promptly instead of walking on with no window.
// A failure that escapes a run still resumes the list's redrawing and closes the dialog (which
// unlocks the main window) on its way out: both are scope guards.

#include "forms/main/vorn_form.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QTableView>

#include <algorithm>
#include <climits>
#include <exception>
#include <string_view>
#include <utility>

#include "components/display_text.h"
#include "core/base/scope_exit.h"
#include "core/paths/path_order.h"
#include "core/paths/path_rules.h"
#include "core/program/window_command_line.h"
#include "core/walk/walk_engine.h"
#include "forms/dialog_lock.h"
#include "forms/main/file_list_model.h"
#include "forms/paint_throttle.h"
#include "forms/progress/progress_form.h"

namespace {

// Holds a view's item layout while the view's redraw is suspended. Qt lays an item view out
// again at the next event processing after every inserted row, and each layout passes over
// every row: with events processed after every path, adding n rows cost time in n squared
// (minutes for 100,000 files). The layout runs from the view's timer events, which wait while
// the hold stands; the view is laid out once when the hold ends.
class ItemLayoutHold : public QObject {
public:
    static constexpr const char* kName = "ItemLayoutHold";

    explicit ItemLayoutHold(QAbstractItemView* view)
        : QObject(view)
        , m_view(view) {
        setObjectName(QString::fromLatin1(kName));
        view->installEventFilter(this);
    }
    ~ItemLayoutHold() override {
        m_view->removeEventFilter(this);
        m_view->doItemsLayout();
    }
    ItemLayoutHold(const ItemLayoutHold&) = delete;
    ItemLayoutHold& operator=(const ItemLayoutHold&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        return watched == m_view && event->type() == QEvent::Timer;
    }

private:
    QAbstractItemView* m_view;
};

} // namespace

// The window's side of a walk: the engine hands over each list (the caller's, then each
// folder's sorted entries, as nested calls) and each path in order, and this shows them.
class TVornForm::AddingRun : public vorn::WalkEngine::Visitor {
public:
    explicit AddingRun(TVornForm& form)
        : m_form(form) {}

    bool IsListed(const std::string& path) override { return m_form.m_fileList->IsListed(path); }
    void Take(const std::string& path, vorn::FileResult&&) override { m_form.AddPath(path, false); }
    void Refused(const std::string& path) override { m_form.AddPath(path, true); }
    void ListStarted(std::size_t count) override { m_calls.push_back(m_form.AddFilesStart(count)); }
    void FolderListStarted(const std::string& folder, std::size_t count) override {
        m_calls.push_back(m_form.AddFolder(folder, count));
    }
    void PathHandled(const std::string& path) override {
        m_form.AddFilesStep(m_calls.back(), path);
    }
    bool Stopped() override {
        // A call stops taking paths once the main window has been closed meanwhile; a call on
        // a window that was never shown goes to its end.
        return m_calls.back().windowWasOpen && !m_form.isVisible();
    }
    void ListEnded() override {
        AddingCall call = std::move(m_calls.back());
        m_calls.pop_back();
        m_form.AddFilesEnd(call);
    }

private:
    TVornForm& m_form;
    std::vector<AddingCall> m_calls;
};

void TVornForm::AddFiles(const std::vector<std::string>& paths) {
    AddingRun run(*this);
    vorn::WalkEngine::Options options;
    // A walk started inside another (a drop while a folder is walked) does not enter the
    // folders the enclosing walk is inside.
    options.foldersBeingWalked = &m_foldersBeingWalked;
    vorn::WalkEngine(std::move(options)).Walk(paths, run);
}

TVornForm::AddingCall TVornForm::AddFolder(const std::string& path, std::size_t count) {
    // The engine has listed the folder's entries and sorted them in path order; they are added
    // as a call nested in the one that met the folder, so its rows land at its sorted place.
    (void)path;
    return AddFilesStart(count);
}

TVornForm::AddingCall TVornForm::AddFilesStart(std::size_t count) {
    TProgressForm* const dialog = m_progressForm;
    QProgressBar* const bar = dialog->ProgressBar();
    AddingCall call;
    call.windowWasOpen = isVisible();
    SuspendListRedraw();
    call.maximum = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
    bar->setValue(0);
    bar->setMaximum(call.maximum);
    // A hidden dialog is shown (it places itself and locks the main window); a visible
    // one, shown by an enclosing call, is only brought to the front.
    if (dialog->isVisible()) {
        dialog->raise();
    } else {
        dialog->show();
    }
    call.throttle = m_addingThrottle.lock();
    if (!call.throttle) {
        call.throttle = std::make_shared<vorn::PaintThrottle>(dialog);
        m_addingThrottle = call.throttle;
    }
    return call;
}

void TVornForm::AddFilesStep(AddingCall& call, const std::string& path) {
    TProgressForm* const dialog = m_progressForm;
    QProgressBar* const bar = dialog->ProgressBar();
    dialog->setWindowTitle(DisplayText(vorn::FolderPart(path)));
    dialog->FileNameLabel()->setText(DisplayText(vorn::NamePart(path)));
    // The bar shows this call's own progress, also after a nested call (a folder's walk) has
    // reset it for its entries.
    if (bar->maximum() != call.maximum) {
        bar->setMaximum(call.maximum);
    }
    ++call.handled;
    bar->setValue(static_cast<int>(std::min<std::size_t>(call.handled, INT_MAX)));
    m_eventPacer.ProcessEvents(*call.throttle);
}

void TVornForm::AddFilesEnd(AddingCall& call) {
    TProgressForm* const dialog = m_progressForm;
    // On a failure's way out only the redraw is resumed and the dialog closed (which unlocks
    // the main window): the rest is the finish of a run that went through.
    const bool failing = std::uncaught_exceptions() > 0;
    {
        const vorn::ScopeExit resumeRedraw([this] { ResumeListRedraw(); });
        {
            // Closing runs on every way out; it unlocks the main window also when the dialog
            // is already hidden.
            const vorn::ScopeExit closeDialog([dialog] { dialog->CloseNow(); });
            // The outermost call's end ends the throttle.
            call.throttle.reset();
        }
        if (failing) {
            return;
        }
        dialog->ProgressBar()->setValue(0);
        dialog->FileNameLabel()->clear();

        // Two or more rows and none selected: select the first (the selection only, the
        // current row stays as it is). One row is left unselected.
        QItemSelectionModel* const selection = FileListView()->selectionModel();
        if (m_fileList->Count() >= 2 && selection && !selection->hasSelection()) {
            selection->select(m_fileList->index(0, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    UpdateStatusBar();
    if (isVisible()) {
        FileListView()->setFocus();
    }
}

void TVornForm::AddPath(const std::string& path, bool refused) {
    const int row = m_fileList->AppendRow(path);
    // What cannot be read or entered is an error at once, so the status bar and the error
    // search count it before any check.
    if (refused) {
        // Asked again, for the row's reason.
        vorn::FileResult result;
        vorn::MarkerCheckOptions options;
        options.openError = &result.openError;
        vorn::CheckMarkers(path, options);
        ShowVerdict(row, result);
    }
}

void TVornForm::SuspendListRedraw() {
    if (m_redrawSuspension++ == 0) {
        QTableView* const list = FileListView();
        list->setUpdatesEnabled(false);
        new ItemLayoutHold(list);
        m_eventPacer.BeginRun();
        HoldMainFormActivation(this);
    }
}

void TVornForm::ResumeListRedraw() {
    if (--m_redrawSuspension == 0) {
        QTableView* const list = FileListView();
        delete list->findChild<QObject*>(QString::fromLatin1(ItemLayoutHold::kName),
                                         Qt::FindDirectChildrenOnly);
        list->setUpdatesEnabled(true);
        ReleaseMainFormActivation(this);
        // Paints the whole window, the list with it.
        m_eventPacer.EndRun();
        list->repaint();
    }
}

void TVornForm::ProcessCommandLine(const std::vector<std::string>& parameters) {
    show();
    raise();
    activateWindow();
    // The switch stays in the list as a path, sorted in with the others.
    std::vector<std::string> paths = parameters;
    vorn::SortPaths(paths);
    AddFiles(paths);
    // A window closed while the paths were listed has ended the program: the switch then starts
    // no check (and no dialog comes up over the closed window).
    if (vorn::HasCheckSwitch(parameters) && isVisible()) {
        CheckAll();
    }
}

void TVornForm::DropDstFileDrop(QObject* sender, const std::vector<std::string>& files,
                                std::int32_t x, std::int32_t y) {
    (void)sender;
    (void)x;
    (void)y;
    raise();
    activateWindow();
    AddFiles(files);
}
