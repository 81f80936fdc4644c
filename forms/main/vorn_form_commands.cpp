// The menu commands and the list's double click: walking the errors, opening a file, emptying
// the list, leaving.

#include "forms/main/vorn_form.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTableView>
#include <QUrl>

#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "components/display_text.h"
#include "core/os/file_replacement.h"
#include "core/report/report_format.h"
#include "forms/main/file_list_model.h"
#include "forms/picture/picture_form.h"

namespace {

// The selected row of the single-selection list, or -1.
int SelectedRow(const QTableView* list) {
    const QItemSelectionModel* const selection = list->selectionModel();
    if (!selection) {
        return -1;
    }
    const QModelIndexList rows = selection->selectedRows();
    if (!rows.isEmpty()) {
        return rows.first().row();
    }
    const QModelIndexList cells = selection->selectedIndexes();
    return cells.isEmpty() ? -1 : cells.first().row();
}

// The working folder as bytes (a folder whose name is not UTF-8 included), or "" when the
// system cannot tell.
std::string WorkingFolder() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// A file URL that carries every byte of the path, whatever encoding its names have.
QUrl FileUrl(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute.front() != '/') {
        absolute = WorkingFolder() + "/" + absolute;
    }
    const QByteArray bytes(absolute.data(), static_cast<qsizetype>(absolute.size()));
    return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

} // namespace

void TVornForm::FindError(TSearchDirection direction) {
    QTableView* const list = FileListView();
    const int count = m_fileList->Count();
    const int step = direction == sdDown ? 1 : -1;
    // The walk begins with the selected row's neighbour; with none selected, down begins at the
    // first row and up finds nothing. It never wraps.
    int found = -1;
    for (int row = SelectedRow(list) + step; row >= 0 && row < count; row += step) {
        if (m_fileList->State(row) == isError) {
            found = row;
            break;
        }
    }
    if (found < 0) {
        return;
    }

    const QModelIndex index = m_fileList->index(found, TFileListModel::FileNameColumn);
    // A new current row would scroll itself fully into view; a row already partly visible
    // must not move.
    const bool autoScroll = list->hasAutoScroll();
    list->setAutoScroll(false);
    list->selectionModel()->select(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    list->setAutoScroll(autoScroll);

    const int top = list->rowViewportPosition(found);
    const int bottom = top + list->rowHeight(found);
    if (bottom <= 0 || top >= list->viewport()->height()) {
        // Only the rows scroll; the columns stay where the user put them.
        QScrollBar* const columns = list->horizontalScrollBar();
        const int columnPosition = columns->value();
        list->scrollTo(index, QAbstractItemView::EnsureVisible);
        columns->setValue(columnPosition);
    }
}

void TVornForm::MenuExitClick() {
    close();
}

void TVornForm::MenuCheckAllClick() {
    CheckAll();
}

void TVornForm::MenuCheckPicturesClick() {
    CheckPictures();
}

void TVornForm::SaveReport(const std::string& path) {
    const bool json = path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
    std::string text;
    for (int row = 0; row < m_fileList->Count(); ++row) {
        const std::string& caption = m_fileList->Caption(row);
        const TItemState state = m_fileList->State(row);
        if (state == isUnchecked) {
            text += vorn::UncheckedReportLine(caption, json);
            continue;
        }
        const vorn::FileResult* const result = m_fileList->Result(row);
        if (!result) {
            text += vorn::ReportLine(vorn::MarkerVerdict::Normal, caption, {}, json);
            continue;
        }
        text += vorn::ReportLine(result->verdict, caption, result->detail, json,
                                 result->deep ? &*result->deep : nullptr);
    }
    vorn::ReplaceFileContents(path, text);
}

void TVornForm::MenuSaveReportClick() {
    const QString name = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save Report"), QString(),
        QStringLiteral("Report (*.tsv *.txt);;JSON lines (*.json);;All files (*)"));
    if (name.isEmpty()) {
        return;
    }
    const QByteArray bytes = QFile::encodeName(name);
    SaveReport(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void TVornForm::MenuDeleteAllClick() {
    // One step, which also empties the index of listed paths. The status bar keeps its counts
    // until the next addition refreshes them.
    m_fileList->Clear();
}

void TVornForm::MenuPrevErrorClick() {
    FindError(sdUp);
}

void TVornForm::MenuNextErrorClick() {
    FindError(sdDown);
}

void TVornForm::MenuOpenItemClick() {
    const int row = SelectedRow(FileListView());
    if (row < 0) {
        return;
    }
    // Handed to the desktop's default program; whether that succeeds is not reported.
    QDesktopServices::openUrl(FileUrl(m_fileList->Caption(row)));
}

void TVornForm::MenuShowPictureClick() {
    const int row = SelectedRow(FileListView());
    if (row < 0) {
        return;
    }
    if (!m_pictureForm) {
        m_pictureForm = std::make_unique<TPictureForm>();
    }
    m_pictureForm->show();
    m_pictureForm->raise();
    m_pictureForm->activateWindow();
    m_pictureForm->ShowFile(m_fileList->Caption(row));
}

void TVornForm::ShowSelectedPicture() {
    if (!m_pictureForm || !m_pictureForm->isVisible()) {
        return;
    }
    const int row = SelectedRow(FileListView());
    const std::string path = row < 0 ? std::string() : m_fileList->Caption(row);
    if (path != m_pictureForm->FilePath()) {
        m_pictureForm->ShowFile(path);
    }
}

void TVornForm::FileListViewContextPopup(const QPoint& position) {
    QTableView* const list = FileListView();
    const QModelIndex index = list->indexAt(position);
    if (!index.isValid()) {
        return;
    }
    list->selectionModel()->select(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    QMenu menu(this);
    menu.addAction(QStringLiteral("&Open"), this, &TVornForm::MenuOpenItemClick);
    menu.addAction(QStringLiteral("&Show Picture"), this, &TVornForm::MenuShowPictureClick);
    menu.addAction(QStringLiteral("Open Containing &Folder"), this,
                   &TVornForm::OpenContainingFolderClick);
    menu.addAction(QStringLiteral("&Copy Path"), this, &TVornForm::CopyPathClick);
    menu.exec(list->viewport()->mapToGlobal(position));
}

void TVornForm::OpenContainingFolderClick() {
    const int row = SelectedRow(FileListView());
    if (row < 0) {
        return;
    }
    const QUrl file = FileUrl(m_fileList->Caption(row));
    // The desktop's file manager, with the file selected; where none answers on the session
    // bus, the folder is opened with the desktop's default program for folders.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(file.toEncoded())} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        QDesktopServices::openUrl(file.adjusted(QUrl::RemoveFilename));
    }
}

void TVornForm::CopyPathClick() {
    const int row = SelectedRow(FileListView());
    if (row < 0) {
        return;
    }
    const std::string& path = m_fileList->Caption(row);
    auto* const mime = new QMimeData;
    mime->setText(DisplayText(path));
    // The URI list carries the real bytes, so the file manager pastes the very file.
    mime->setData(QStringLiteral("text/uri-list"), FileUrl(path).toEncoded() + "\r\n");
    QGuiApplication::clipboard()->setMimeData(mime);
}

void TVornForm::FileListViewDblClick() {
    MenuOpenItemClick();
}
