// Adding files and folders to the list, the command line and the drop handler.
//
// Every path enters through AddFiles, which hands each one to AddPath; AddPath sends folders to
// AddFolder, which sorts the folder's entries and calls AddFiles again, so the walk is depth
// first and a subfolder's rows land at its sorted place among its siblings.
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
// enables the main window) on its way out: both are scope guards.

#include "forms/main/vorn_form.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QTableView>

#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>

#include "core/command_line.h"
#include "core/file_system.h"
#include "core/path_order.h"
#include "core/path_rules.h"
#include "forms/main/file_list_model.h"
#include "forms/paint_throttle.h"
#include "forms/progress/progress_form.h"

namespace {

// Runs its function when the scope ends, normally or by an exception.
template <typename Function>
class ScopeExit {
public:
    explicit ScopeExit(Function function)
        : m_function(std::move(function)) {}
    ~ScopeExit() { m_function(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Function m_function;
};

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

// Paths are bytes; the dialog shows them as UTF-8, with ill-formed bytes as U+FFFD.
QString DisplayText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void TVornForm::AddFiles(const std::vector<std::string>& paths) {
    TProgressForm* const dialog = m_progressForm;
    QLabel* const nameLabel = dialog->FileNameLabel();
    QProgressBar* const bar = dialog->ProgressBar();
    // A run stops taking paths once the main window has been closed meanwhile; a run on a
    // window that was never shown goes to its end.
    const bool windowWasOpen = isVisible();

    {
        SuspendListRedraw();
        const ScopeExit resumeRedraw([this] { ResumeListRedraw(); });

        const int maximum = static_cast<int>(std::min<std::size_t>(paths.size(), INT_MAX));
        bar->setValue(0);
        bar->setMaximum(maximum);
        // A hidden dialog is shown (it places itself and disables the main window); a visible
        // one, shown by an enclosing call, is only brought to the front.
        if (dialog->isVisible())
            dialog->raise();
        else
            dialog->show();
        {
            // Closing runs on every way out; it enables the main window also when the dialog
            // is already hidden.
            const ScopeExit closeDialog([dialog] { dialog->close(); });
            vorn::PaintThrottle throttle(dialog);
            const std::size_t count = paths.size();
            for (std::size_t i = 0; i < count; ++i) {
                if (windowWasOpen && !isVisible())
                    break;
                const std::string& path = paths[i];
                AddPath(path);
                dialog->setWindowTitle(DisplayText(vorn::FolderPart(path)));
                nameLabel->setText(DisplayText(vorn::NamePart(path)));
                // The bar shows this call's own progress, also after a nested call (a folder's
                // walk) has reset it for its entries.
                if (bar->maximum() != maximum)
                    bar->setMaximum(maximum);
                bar->setValue(static_cast<int>(std::min<std::size_t>(i + 1, INT_MAX)));
                throttle.ProcessEvents();
            }
        }
        bar->setValue(0);
        nameLabel->clear();

        // Two or more rows and none selected: select the first (the selection only, the
        // current row stays as it is). One row is left unselected.
        QItemSelectionModel* const selection = FileListView()->selectionModel();
        if (m_fileList->Count() >= 2 && selection && !selection->hasSelection())
            selection->select(m_fileList->index(0, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    UpdateStatusBar();
    if (isVisible())
        FileListView()->setFocus();
}

void TVornForm::AddPath(const std::string& path) {
    if (path.empty() || m_fileList->IsListed(path))
        return;
    // The folder test comes first: a folder named album.jpg is walked, not listed. One look at
    // the file system answers both the folder and the file test.
    const vorn::PathFacts facts = vorn::ExaminePath(path);
    if (const std::optional<vorn::FolderIdentity>& folder = facts.folder) {
        // A folder already being walked (reached again through a link to one of its own
        // ancestors, or a bind mount) is not entered again, so such a loop ends here.
        if (std::find(m_foldersBeingWalked.begin(), m_foldersBeingWalked.end(), *folder) !=
            m_foldersBeingWalked.end())
            return;
        m_foldersBeingWalked.push_back(*folder);
        const ScopeExit leave([this] { m_foldersBeingWalked.pop_back(); });
        AddFolder(path);
        return;
    }
    if (!facts.exists || !vorn::HasJpegExtension(path))
        return;
    m_fileList->AppendRow(path);
}

void TVornForm::AddFolder(const std::string& path) {
    const std::string folder = vorn::WithTrailingDelimiter(path);
    const std::vector<std::string> names = vorn::ListFolder(folder);
    if (names.empty())
        return;
    std::vector<std::string> entries;
    entries.reserve(names.size());
    for (const std::string& name : names)
        entries.push_back(folder + name);
    vorn::SortPaths(entries);
    AddFiles(entries);
}

void TVornForm::SuspendListRedraw() {
    if (m_redrawSuspension++ == 0) {
        QTableView* const list = FileListView();
        list->setUpdatesEnabled(false);
        new ItemLayoutHold(list);
    }
}

void TVornForm::ResumeListRedraw() {
    if (--m_redrawSuspension == 0) {
        QTableView* const list = FileListView();
        delete list->findChild<QObject*>(QString::fromLatin1(ItemLayoutHold::kName),
                                         Qt::FindDirectChildrenOnly);
        list->setUpdatesEnabled(true);
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
    if (vorn::HasCheckSwitch(parameters) && isVisible())
        CheckAll();
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
