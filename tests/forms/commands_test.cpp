// The main window's commands on the real window and its dialogs: walking the errors, opening
// the selected file, emptying the list, leaving, and files dropped on the list.

#include <QDesktopServices>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QUrl>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "components/drop_dst.h"
#include "forms/check/check_form.h"
#include "forms/dialog_lock.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"
#include "tests/forms/run_fixture.h"

namespace {

// The main window with its dialogs, as the program's entry makes them, and what the tests of
// its commands ask of it.
struct Windows : Forms {
    QTableView* View() const { return form->FileListView(); }

    // Rows from a pattern: U Unchecked, N Normal, E Error.
    void Rows(const std::string& states) const {
        for (char state : states) {
            const int row = list().AppendRow("/photos/" + std::to_string(list().Count()) + ".jpg");
            list().SetState(row, state == 'E' ? isError : state == 'N' ? isNormal : isUnchecked);
        }
    }
    void Select(int row) const {
        const QModelIndex index = list().index(row, 0);
        View()->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        View()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (const QModelIndex& index : View()->selectionModel()->selectedRows()) {
            rows.push_back(index.row());
        }
        return rows;
    }
    QStringList Panels() const {
        QStringList texts;
        for (int panel = 0; panel < 5; ++panel) {
            texts << form->StatusPanelText(panel);
        }
        return texts;
    }
};

// Catches what the window hands to the desktop's default program.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }

    // The real bytes of each opened file's path.
    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const QUrl& url : urls) {
            const QByteArray path =
                QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
            paths.push_back(path.toStdString());
        }
        return paths;
    }

    std::vector<QUrl> urls;

public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

std::string WorkingFolder() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

private slots:
    void findErrorWalks_data();
    void findErrorWalks();
    void foundRowIsSelectedAndFocusedAndOpens();
    void findErrorScrollsOnlyARowOutOfView();
    void emptyListCommandsDoNothing();
    void deleteAllLeavesTheStatusBar();
    void openHandsOverTheRealBytes_data();
    void openHandsOverTheRealBytes();
    void doubleClickOpens();
    void exitClosesTheWindow();
    void droppedFilesAreAdded();
};

void CommandsTest::findErrorWalks_data() {
    // Rows by state, the row selected first (-1: none), the commands (n Next, p Prev) and the
    // selected row after each (-1: none).
    QTest::addColumn<QString>("states");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QList<int>>("after");
    QTest::newRow("errors both ways, no wrap")
        << "NENE" << 0 << "nnnpp" << QList<int>{1, 3, 3, 1, 1};
    QTest::newRow("the only error selected") << "NEN" << 1 << "np" << QList<int>{1, 1};
    QTest::newRow("unchecked and normal passed over") << "UNUEUN" << 0 << "np" << QList<int>{3, 3};
    QTest::newRow("neighbours that are errors") << "EEE" << 1 << "pnn" << QList<int>{0, 1, 2};
    QTest::newRow("no selection: next from the first row") << "EN" << -1 << "n" << QList<int>{0};
    QTest::newRow("no selection: prev finds nothing") << "NE" << -1 << "p" << QList<int>{-1};
    QTest::newRow("no error at all") << "UNNU" << 2 << "np" << QList<int>{2, 2};
}

void CommandsTest::findErrorWalks() {
    QFETCH(QString, states);
    QFETCH(int, selected);
    QFETCH(QString, commands);
    QFETCH(QList<int>, after);

    Windows windows;
    windows.Rows(states.toStdString());
    if (selected >= 0) {
        windows.Select(selected);
    }
    for (qsizetype i = 0; i < commands.size(); ++i) {
        if (commands[i] == 'n') {
            windows.form->MenuNextErrorClick();
        } else {
            windows.form->MenuPrevErrorClick();
        }
        const std::vector<int> expected =
            after[i] < 0 ? std::vector<int>{} : std::vector<int>{after[i]};
        QCOMPARE(windows.SelectedRows(), expected);
    }
}

void CommandsTest::foundRowIsSelectedAndFocusedAndOpens() {
    Windows windows;
    UrlCatcher catcher;
    windows.Rows("NENE");
    windows.Select(0);
    windows.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(windows.form));

    // The keyboard focus stays where it is: on another widget of the window...
    auto edit = new QLineEdit(windows.form);
    windows.form->statusBar()->addWidget(edit);
    edit->setFocus();
    windows.form->MenuNextErrorClick();
    QCOMPARE(windows.SelectedRows(), std::vector<int>{1});
    QCOMPARE(windows.View()->currentIndex().row(), 1);
    QCOMPARE(QApplication::focusWidget(), edit);

    // ...and on the list, where Enter then opens the found row's file.
    windows.View()->setFocus();
    windows.form->MenuNextErrorClick();
    QCOMPARE(windows.SelectedRows(), std::vector<int>{3});
    QCOMPARE(windows.View()->currentIndex().row(), 3);
    QCOMPARE(QApplication::focusWidget(), windows.View());
    QTest::keyClick(windows.View(), Qt::Key_Return);
    QCOMPARE(catcher.Paths(), std::vector<std::string>{windows.list().Caption(3)});
}

void CommandsTest::findErrorScrollsOnlyARowOutOfView() {
    Windows windows;
    windows.Rows(std::string(300, 'N'));
    QTableView* const view = windows.View();
    // A window whose last visible row is cut by the bottom edge.
    const int rowHeight = view->rowHeight(0);
    windows.form->resize(windows.form->width(), windows.form->height() + rowHeight / 2 + 1);
    QCoreApplication::processEvents();
    int cut = -1;
    for (int row = 0; row < 300 && cut < 0; ++row) {
        const int top = view->rowViewportPosition(row);
        if (top < view->viewport()->height() && top + rowHeight > view->viewport()->height()) {
            cut = row;
        }
    }
    QVERIFY2(cut > 0, "no row cut by the bottom edge");
    // Columns wider than the view, scrolled to the right: rows scroll, columns do not.
    view->horizontalHeader()->resizeSection(0, 3000);
    QCoreApplication::processEvents();
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    const int columns = view->horizontalScrollBar()->value();
    QVERIFY(columns > 0);

    windows.list().SetState(cut, isError);
    windows.list().SetState(200, isError);
    windows.Select(0);

    struct Step {
        const char* what;
        void (TVornForm::*command)();
        int found;
        bool scrolls;
    };
    const Step steps[] = {
        {"half visible at the bottom", &TVornForm::MenuNextErrorClick, cut, false},
        {"out of view below", &TVornForm::MenuNextErrorClick, 200, true},
        {"out of view above", &TVornForm::MenuPrevErrorClick, cut, true},
    };
    for (const Step& step : steps) {
        const int rows = view->verticalScrollBar()->value();
        (windows.form->*step.command)();
        QCOMPARE(windows.SelectedRows(), std::vector<int>{step.found});
        QVERIFY2((view->verticalScrollBar()->value() != rows) == step.scrolls, step.what);
        QVERIFY2(view->rowViewportPosition(step.found) + rowHeight > 0, step.what);
        QVERIFY2(view->rowViewportPosition(step.found) < view->viewport()->height(), step.what);
        QCOMPARE(view->horizontalScrollBar()->value(), columns);
    }
}

void CommandsTest::emptyListCommandsDoNothing() {
    Windows windows;
    UrlCatcher catcher;
    const QStringList panels = windows.Panels();
    windows.form->MenuPrevErrorClick();
    windows.form->MenuNextErrorClick();
    windows.form->MenuOpenItemClick();
    windows.form->FileListViewDblClick();
    windows.form->MenuDeleteAllClick();
    windows.form->MenuCheckAllClick();
    QCOMPARE(windows.list().Count(), 0);
    QVERIFY(windows.SelectedRows().empty());
    QVERIFY(catcher.urls.empty());
    QCOMPARE(windows.Panels(), panels);
    QVERIFY(windows.form->isVisible());
    QVERIFY(!IsMainFormLocked(windows.form.get()));
}

void CommandsTest::deleteAllLeavesTheStatusBar() {
    Windows windows;
    windows.Rows("UNEEN");
    windows.Select(2);
    windows.form->UpdateStatusBar();
    const QStringList panels = windows.Panels();
    QCOMPARE(panels[0], QString("5 Files"));
    const std::string listed = windows.list().Caption(0);

    windows.form->MenuDeleteAllClick();
    QCOMPARE(windows.list().Count(), 0);
    QCOMPARE(windows.View()->model()->rowCount(), 0);
    QVERIFY(!windows.list().IsListed(listed));
    QVERIFY(windows.SelectedRows().empty());
    QCOMPARE(windows.Panels(), panels);
    // A check of the emptied list stops at once and refreshes nothing either.
    windows.form->MenuCheckAllClick();
    QCOMPARE(windows.Panels(), panels);
    QVERIFY(!windows.check->isVisible());
}

void CommandsTest::openHandsOverTheRealBytes_data() {
    QTest::addColumn<QByteArray>("caption");
    QTest::addColumn<QByteArray>("opened"); // "./" stands for the working folder
    QTest::newRow("plain") << QByteArray("/photos/a.jpg") << QByteArray("/photos/a.jpg");
    QTest::newRow("not UTF-8") << QByteArray("/photos/\xff\xfe caf\xe9.jpg")
                               << QByteArray("/photos/\xff\xfe caf\xe9.jpg");
    QTest::newRow("characters with a meaning in URLs")
        << QByteArray("/p/100% #1?x=y&z+w;.jpg") << QByteArray("/p/100% #1?x=y&z+w;.jpg");
    QTest::newRow("relative, against the working folder")
        << QByteArray("sub/\xe9.jpg") << QByteArray("./sub/\xe9.jpg");
}

void CommandsTest::openHandsOverTheRealBytes() {
    QFETCH(QByteArray, caption);
    QFETCH(QByteArray, opened);
    std::string expected = opened.toStdString();
    if (expected.rfind("./", 0) == 0) {
        expected = WorkingFolder() + expected.substr(1);
    }

    Windows windows;
    UrlCatcher catcher;
    windows.list().AppendRow("/photos/other.jpg");
    windows.list().AppendRow(caption.toStdString());
    windows.form->MenuOpenItemClick(); // nothing selected
    QVERIFY(catcher.urls.empty());

    windows.Select(1);
    windows.form->MenuOpenItemClick();
    QCOMPARE(catcher.urls.size(), std::size_t(1));
    QCOMPARE(catcher.urls[0].scheme(), QString("file"));
    QVERIFY(catcher.urls[0].host().isEmpty());
    QCOMPARE(catcher.Paths(), std::vector<std::string>{expected});
}

void CommandsTest::doubleClickOpens() {
    Windows windows;
    UrlCatcher catcher;
    windows.Rows("NNN");
    QVERIFY(QTest::qWaitForWindowExposed(windows.form));
    // The click selects row 1; the double click then opens the selected row.
    const QRect cell = windows.View()->visualRect(windows.list().index(1, 0));
    QTest::mouseClick(windows.View()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(windows.View()->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(windows.SelectedRows(), std::vector<int>{1});
    QCOMPARE(catcher.Paths(), std::vector<std::string>{windows.list().Caption(1)});
}

void CommandsTest::exitClosesTheWindow() {
    Windows windows;
    windows.form->MenuExitClick();
    QVERIFY(!windows.form->isVisible());
}

void CommandsTest::droppedFilesAreAdded() {
    const TempTree tree;
    const std::string root = tree.Root();
    tree.Write("folder/b.jpg");
    tree.Write("folder/a.JPEG");
    tree.Write("folder/notes.txt");
    tree.Write("z.jpg");
    tree.Write("\xff.jpg");

    Windows windows;
    windows.Rows("NE");
    windows.form->MenuDeleteAllClick(); // the panels still count the two rows

    QByteArray uriList;
    for (const std::string& path : {root + "/z.jpg", root + "/folder", root + "/\xff.jpg"}) {
        uriList += "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n";
    }
    QMimeData mime;
    mime.setData("text/uri-list", uriList);
    QWidget* const viewport = windows.View()->viewport();
    const QPoint point(20, 20);
    QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QVERIFY(move.isAccepted());
    QDropEvent drop(QPointF(point), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());

    std::vector<std::string> captions;
    for (int row = 0; row < windows.list().Count(); ++row) {
        captions.push_back(windows.list().Caption(row));
    }
    // In the drop's order; a folder's files in path order, other files left out.
    QCOMPARE(captions, (std::vector<std::string>{root + "/z.jpg", root + "/folder/a.JPEG",
                                                 root + "/folder/b.jpg", root + "/\xff.jpg"}));
    QCOMPARE(windows.Panels().mid(0, 4), (QStringList{"4 Files", "U: 4", "C: 0", "E: 0"}));
}

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
