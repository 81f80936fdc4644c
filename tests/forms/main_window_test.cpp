// The main window: what the user sees of its layout, where its keys go, its bounds and column
// widths, the settings file it reads and writes, and the status bar summary.

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "components/drop_dst.h"
#include "core/base/exceptions.h"
#include "forms/check/check_form.h"
#include "forms/dialog_lock.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"

Q_DECLARE_METATYPE(vorn::WindowBounds)

namespace {

// A main window with its two dialogs, its settings file in a temporary folder.
struct Window {
    Window() {
        form = std::make_unique<TVornForm>();
        check = std::make_unique<TCheckForm>(form.get());
        progress = std::make_unique<TProgressForm>(form.get());
        form->AttachDialogs(check.get(), progress.get());
        form->SetSettingsPath(SettingsPath());
    }
    ~Window() {
        check.reset();
        progress.reset();
        form.reset();
    }
    std::string SettingsPath() const { return dir.filePath("vorn.ini").toStdString(); }
    void WriteSettings(const QByteArray& text) const {
        QFile file(QString::fromStdString(SettingsPath()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray ReadSettings() const {
        QFile file(QString::fromStdString(SettingsPath()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QAction* Action(const char* name) const { return form->findChild<QAction*>(name); }

    QTemporaryDir dir;
    std::unique_ptr<TVornForm> form;
    std::unique_ptr<TCheckForm> check;
    std::unique_ptr<TProgressForm> progress;
};

const char* const kCommandNames[] = {"MenuExit",      "MenuCheckAll",  "MenuDeleteAll",
                                     "MenuPrevError", "MenuNextError", "MenuOpenItem"};

// Cuts the commands off from their handlers, so that a key's route can be watched without the
// command running.
void DisconnectHandlers(const Window& window) {
    for (const char* name : kCommandNames) {
        QObject::disconnect(window.Action(name), &QAction::triggered, window.form.get(), nullptr);
    }
}

const QByteArray kDefaultSettings =
    "[VornForm]\r\nLeft=0\r\nTop=0\r\nWidth=588\r\nHeight=366\r\n\r\n"
    "[FileListView]\r\nFileName=400\r\nError=160\r\n\r\n";

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void captionNamesAndFont();
    void menuCaptionsAndShortcuts();
    void listLayout();
    void statusBarPanels();
    void resizingKeepsTheStatusBar();
    void dropTargetSitsOnTheList();

    void keysInTheListReachTheCommands_data();
    void keysInTheListReachTheCommands();
    void noCommandFiresWhileTheWindowIsLocked();

    void statusBarSummary_data();
    void statusBarSummary();

    void columnWidthsRecordTheValueSet_data();
    void columnWidthsRecordTheValueSet();
    void columnWidthsRecordTheUsersResizing();
    void boundsAreTheOuterFrame();
    void storedBoundsOffEveryScreenComeOntoThePrimary();
    void minimizedAndMaximizedBounds();
    void extremeBoundsStayWithinTheWindowSystemsLimits_data();
    void extremeBoundsStayWithinTheWindowSystemsLimits();

    void noSettingsFileGivesTheDesignAndThe95ByteFile();
    void settingsFileFormsAreApplied_data();
    void settingsFileFormsAreApplied();
    void oddWidthsAreWrittenBackAsRead();
    void settingsFailures();
};

void MainWindowTest::captionNamesAndFont() {
    Window window;
    TVornForm& form = *window.form;
    QCOMPARE(form.windowTitle(), QString("Vorn 0.02"));
    QCOMPARE(form.objectName(), QString("VornForm"));
    QCOMPARE(form.FileListView()->objectName(), QString("FileListView"));
    QCOMPARE(form.statusBar()->objectName(), QString("StatusBar"));
    QCOMPARE(form.menuBar()->objectName(), QString("MainMenu"));
    QCOMPARE(form.font().family(), QString::fromUtf8("ＭＳ Ｐゴシック"));
    QCOMPARE(form.font().pixelSize(), 12);
    // Hidden until the command line shows it, at its designed outer size.
    QVERIFY(!form.isVisible());
    QCOMPARE(form.Bounds(), (vorn::WindowBounds{380, 105, 588, 366}));
}

void MainWindowTest::menuCaptionsAndShortcuts() {
    Window window;
    const QList<QAction*> menus = window.form->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), QString("&File"));
    QCOMPARE(menus[0]->menu()->objectName(), QString("MenuFile"));
    QCOMPARE(menus[1]->text(), QString("&Item"));
    QCOMPARE(menus[1]->menu()->objectName(), QString("MenuItem"));

    struct Item {
        const char* name;
        const char* text;
        const char* shortcut; // as the menu shows it; "" for a separator
    };
    const Item file[] = {{"MenuExit", "E&xit", "Esc"},
                         {"MenuSaveReport", "&Save Report...", "Ctrl+S"}};
    const Item item[] = {{"MenuCheckAll", "&Check All", "Space"},
                         {"MenuCheckPictures", "Check &Pictures", "Shift+Space"},
                         {"N1", "", ""},
                         {"MenuDeleteAll", "&Delete All", "Ctrl+Del"},
                         {"N2", "", ""},
                         {"MenuPrevError", "&Prev Error", "Ctrl+Up"},
                         {"MenuNextError", "&Next Error", "Ctrl+Down"},
                         {"N3", "", ""},
                         {"MenuOpenItem", "&Open", "Enter"},
                         {"MenuShowPicture", "&Show Picture", "Ctrl+I"}};
    const auto compareMenu = [](QMenu* menu, const Item* items, qsizetype count) {
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), count);
        for (qsizetype i = 0; i < count; ++i) {
            QCOMPARE(actions[i]->objectName(), QString(items[i].name));
            QCOMPARE(actions[i]->isSeparator(), QString(items[i].text).isEmpty());
            QCOMPARE(actions[i]->text(), QString(items[i].text));
            QCOMPARE(actions[i]->shortcut().toString(QKeySequence::PortableText),
                     QString(items[i].shortcut));
        }
    };
    compareMenu(menus[0]->menu(), file, std::size(file));
    compareMenu(menus[1]->menu(), item, std::size(item));
    // Enter is the keypad's Enter and the main keyboard's Return.
    const QList<QKeySequence> open = window.Action("MenuOpenItem")->shortcuts();
    QVERIFY(open.contains(QKeySequence(Qt::Key_Enter)));
    QVERIFY(open.contains(QKeySequence(Qt::Key_Return)));
}

void MainWindowTest::listLayout() {
    Window window;
    QTableView* const list = window.form->FileListView();
    QCOMPARE(window.form->centralWidget(), list);
    QHeaderView* const header = list->horizontalHeader();
    QCOMPARE(list->model()->columnCount(), 2);
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QString("File Name"));
    QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QString("Error"));
    QCOMPARE(header->sectionSize(0), 400);
    QCOMPARE(header->sectionSize(1), 160);
    QCOMPARE(window.form->ColumnWidth(0), 400);
    QCOMPARE(window.form->ColumnWidth(1), 160);
    QVERIFY(list->showGrid());
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(!list->verticalHeader()->isVisible());
    QCOMPARE(list->iconSize(), QSize(12, 12));

    // A click on a column header changes neither the order nor the selection.
    window.form->FileList()->AppendRow("b.jpg");
    window.form->FileList()->AppendRow("a.jpg");
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 50, header->height() / 2));
    QCOMPARE(list->model()->index(0, 0).data().toString(), QString("b.jpg"));
    QVERIFY(!list->selectionModel()->hasSelection());
}

void MainWindowTest::statusBarPanels() {
    Window window;
    QStatusBar* const bar = window.form->statusBar();
    const QList<QLabel*> panels = bar->findChildren<QLabel*>();
    QCOMPARE(panels.size(), 5);
    const int widths[] = {60, 50, 50, 50, 50};
    const char* const texts[] = {"0 Files", "U: 0", "C: 0", "E: 0", ""};
    for (int panel = 0; panel < 5; ++panel) {
        QCOMPARE(window.form->StatusPanelText(panel), QString(texts[panel]));
        QCOMPARE(panels[panel]->text(), QString(texts[panel]));
        QCOMPARE(panels[panel]->width(), widths[panel]);
    }
    QCOMPARE(window.form->StatusPanelText(5), QString());
    QCOMPARE(window.form->StatusPanelText(-1), QString());
}

void MainWindowTest::resizingKeepsTheStatusBar() {
    Window window;
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
    const QList<QLabel*> panels = window.form->statusBar()->findChildren<QLabel*>();
    for (const QSize size : {QSize(588, 366), QSize(900, 700), QSize(300, 200)}) {
        window.form->resize(size);
        QTRY_COMPARE(window.form->size(), size);
        QCOMPARE(window.form->statusBar()->height(), 19);
        QCOMPARE(panels[0]->width(), 60);
        QCOMPARE(panels[4]->width(), 50);
        // The list fills the client area between the menu and the status bar.
        QTableView* const list = window.form->FileListView();
        QCOMPARE(list->width(), window.form->width());
        QCOMPARE(list->geometry().bottom() + 1, window.form->statusBar()->geometry().top());
    }
}

void MainWindowTest::dropTargetSitsOnTheList() {
    Window window;
    TDropDst* const drop = window.form->DropDst();
    QVERIFY(drop != nullptr);
    QCOMPARE(drop->Control(), static_cast<QWidget*>(window.form->FileListView()));
    QCOMPARE(drop->Target(), htControl);
    QVERIFY(drop->AcceptDrop());
    QVERIFY(window.form->FileListView()->viewport()->acceptDrops());
}

void MainWindowTest::keysInTheListReachTheCommands_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("command");
    QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier) << "MenuExit";
    QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier) << "MenuCheckAll";
    QTest::newRow("Ctrl+Del") << int(Qt::Key_Delete) << int(Qt::ControlModifier) << "MenuDeleteAll";
    QTest::newRow("Ctrl+Up") << int(Qt::Key_Up) << int(Qt::ControlModifier) << "MenuPrevError";
    QTest::newRow("Ctrl+Down") << int(Qt::Key_Down) << int(Qt::ControlModifier) << "MenuNextError";
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << "MenuOpenItem";
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier)
                                  << "MenuOpenItem";
}

void MainWindowTest::keysInTheListReachTheCommands() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, command);
    Window window;
    DisconnectHandlers(window);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        window.form->FileList()->AppendRow(name);
    }
    window.form->show();
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    QTableView* const list = window.form->FileListView();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(1, 0));
    std::map<QString, std::unique_ptr<QSignalSpy>> spies;
    for (const char* name : kCommandNames) {
        spies[name] = std::make_unique<QSignalSpy>(window.Action(name), &QAction::triggered);
    }

    QTest::keyClick(list, static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers));

    for (const auto& [name, spy] : spies) {
        QCOMPARE(spy->count(), name == command ? 1 : 0);
    }
    // The list never saw the key: its current row and selection stay.
    QCOMPARE(list->currentIndex().row(), 1);
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), 1);
}

void MainWindowTest::noCommandFiresWhileTheWindowIsLocked() {
    Window window;
    DisconnectHandlers(window);
    window.form->FileList()->AppendRow("a.jpg");
    window.form->show();
    QVERIFY(QTest::qWaitForWindowActive(window.form.get()));
    window.form->FileListView()->setFocus();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const char* name : kCommandNames) {
        spies.push_back(std::make_unique<QSignalSpy>(window.Action(name), &QAction::triggered));
    }
    LockMainForm(window.form.get());
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Escape, Qt::NoModifier},      {Qt::Key_Space, Qt::NoModifier},
        {Qt::Key_Delete, Qt::ControlModifier}, {Qt::Key_Up, Qt::ControlModifier},
        {Qt::Key_Down, Qt::ControlModifier},   {Qt::Key_Return, Qt::NoModifier},
        {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const auto& [key, modifiers] : keys) {
        QTest::keyClick(window.form.get(), key, modifiers);
    }
    for (const auto& spy : spies) {
        QCOMPARE(spy->count(), 0);
    }
    // Unlocked again, the same keys act.
    UnlockMainForm(window.form.get());
    window.form->FileListView()->setFocus();
    QTest::keyClick(window.form->FileListView(), Qt::Key_Space);
    QCOMPARE(spies[1]->count(), 1);
}

void MainWindowTest::statusBarSummary_data() {
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QStringList>("panels");
    QTest::newRow("empty") << QList<int>{} << QStringList{"0 Files", "U: 0", "C: 0", "E: 0", ""};
    QTest::newRow("one unchecked")
        << QList<int>{0} << QStringList{"1 Files", "U: 1", "C: 0", "E: 0", ""};
    QTest::newRow("2 error, 1 normal, 2 unchecked")
        << QList<int>{2, 0, 1, 2, 0} << QStringList{"5 Files", "U: 2", "C: 1", "E: 2", ""};
}

void MainWindowTest::statusBarSummary() {
    QFETCH(QList<int>, states);
    QFETCH(QStringList, panels);
    Window window;
    TFileListModel* const list = window.form->FileList();
    // Start from other figures, so that every panel must be rewritten.
    for (int row = 0; row < 7; ++row) {
        list->AppendRow("old" + std::to_string(row));
    }
    window.form->UpdateStatusBar();
    QCOMPARE(window.form->StatusPanelText(0), QString("7 Files"));
    list->Clear();
    for (int row = 0; row < states.size(); ++row) {
        list->AppendRow(std::to_string(row) + ".jpg");
        list->SetState(row, static_cast<TItemState>(states[row]));
    }
    window.form->UpdateStatusBar();
    for (int panel = 0; panel < 5; ++panel) {
        QCOMPARE(window.form->StatusPanelText(panel), panels[panel]);
    }
}

void MainWindowTest::columnWidthsRecordTheValueSet_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("shown"); // -1: fitted to the contents; -2: the widest the header allows
    QTest::newRow("designed") << 400 << 400;
    QTest::newRow("narrow") << 37 << 37;
    QTest::newRow("zero hides") << 0 << 0;
    QTest::newRow("-1 fits") << -1 << -1;
    QTest::newRow("-2 fits") << -2 << -1;
    QTest::newRow("other negative") << -7 << 0;
    QTest::newRow("lowest") << INT32_MIN << 0;
    QTest::newRow("largest") << INT32_MAX << -2;
}

void MainWindowTest::columnWidthsRecordTheValueSet() {
    QFETCH(int, width);
    QFETCH(int, shown);
    Window window;
    window.form->FileList()->AppendRow(std::string(120, 'w') + ".jpg");
    QTableView* const list = window.form->FileListView();
    list->resizeColumnToContents(0);
    const int fitted = list->horizontalHeader()->sectionSize(0);
    list->horizontalHeader()->resizeSection(0, 123);

    if (shown == -2) {
        shown = list->horizontalHeader()->maximumSectionSize();
    }
    window.form->SetColumnWidth(0, width);
    QCOMPARE(window.form->ColumnWidth(0), width);
    QCOMPARE(list->horizontalHeader()->sectionSize(0), shown == -1 ? fitted : shown);
    // The other column is untouched.
    QCOMPARE(window.form->ColumnWidth(1), 160);
    // Emptying the list keeps the columns.
    window.form->FileList()->Clear();
    QCOMPARE(window.form->ColumnWidth(0), width);
    QCOMPARE(list->horizontalHeader()->sectionSize(0), shown == -1 ? fitted : shown);
}

void MainWindowTest::columnWidthsRecordTheUsersResizing() {
    Window window;
    window.form->FileList()->AppendRow(std::string(120, 'w') + ".jpg");
    window.form->SetColumnWidth(0, -1);
    window.form->SetColumnWidth(1, 100);
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
    QHeaderView* const header = window.form->FileListView()->horizontalHeader();
    QWidget* const area = header->viewport();
    const int y = header->height() / 2;
    // The divider at the right edge of column 1.
    const auto divider = [&] {
        return header->sectionViewportPosition(1) + header->sectionSize(1) - 1;
    };

    // A drag of the divider records the new width.
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(divider(), y));
    QTest::mouseMove(area, QPoint(divider() + 30, y));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(divider() + 30, y));
    QCOMPARE(header->sectionSize(1), 130);
    QCOMPARE(window.form->ColumnWidth(1), 130);

    // A drag past the column's left edge records 0.
    const int start = divider();
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(start, y));
    QTest::mouseMove(area, QPoint(start - 200, y));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(start - 200, y));
    QCOMPARE(window.form->ColumnWidth(1), 0);

    // A double click on column 0's divider fits it; the fitted width is recorded instead of -1.
    window.form->SetColumnWidth(0, 50);
    const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
    QTest::mouseDClick(area, Qt::LeftButton, {}, QPoint(edge, y));
    QVERIFY(header->sectionSize(0) > 50);
    QCOMPARE(window.form->ColumnWidth(0), header->sectionSize(0));
}

void MainWindowTest::boundsAreTheOuterFrame() {
    Window window;
    TVornForm& form = *window.form;
    // Before the first show the bounds asked for are kept and reported.
    form.SetBounds({10, 20, 500, 300});
    QCOMPARE(form.Bounds(), (vorn::WindowBounds{10, 20, 500, 300}));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.frameGeometry(), QRect(10, 20, 500, 300));
    QCOMPARE(form.Bounds(), (vorn::WindowBounds{10, 20, 500, 300}));
    // Shown, the bounds apply at once; no range check keeps a window on the screen.
    form.SetBounds({-101, -7, 610, 420});
    QTRY_COMPARE(form.frameGeometry(), QRect(-101, -7, 610, 420));
    QCOMPARE(form.Bounds(), (vorn::WindowBounds{-101, -7, 610, 420}));
}

void MainWindowTest::storedBoundsOffEveryScreenComeOntoThePrimary() {
    Window window;
    window.WriteSettings("[VornForm]\nLeft=100000\nTop=105\nWidth=500\nHeight=300\n");
    window.form->LoadSettings();
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
    const QRect frame = window.form->frameGeometry();
    QCOMPARE(frame.size(), QSize(500, 300));
    QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(frame.topLeft()));
    // And that is where it is stored again.
    window.form->close();
    window.form->SaveSettings();
    QVERIFY(
        window.ReadSettings().startsWith("[VornForm]\r\nLeft=" + QByteArray::number(frame.x())));
}

void MainWindowTest::minimizedAndMaximizedBounds() {
    Window window;
    TVornForm& form = *window.form;
    form.SetBounds({40, 50, 500, 300});
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    // Minimized: the restored bounds.
    QCOMPARE(form.Bounds(), (vorn::WindowBounds{40, 50, 500, 300}));
    form.showMaximized();
    QTRY_VERIFY(form.isMaximized());
    QTRY_VERIFY(form.frameGeometry() != QRect(40, 50, 500, 300));
    // Maximized: the frame as it stands.
    const QRect frame = form.frameGeometry();
    QCOMPARE(form.Bounds(),
             (vorn::WindowBounds{frame.x(), frame.y(), frame.width(), frame.height()}));
}

void MainWindowTest::extremeBoundsStayWithinTheWindowSystemsLimits_data() {
    QTest::addColumn<vorn::WindowBounds>("bounds");
    QTest::newRow("largest") << vorn::WindowBounds{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    QTest::newRow("smallest") << vorn::WindowBounds{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    QTest::newRow("nothing") << vorn::WindowBounds{0, 0, 0, 0};
}

void MainWindowTest::extremeBoundsStayWithinTheWindowSystemsLimits() {
    QFETCH(vorn::WindowBounds, bounds);
    Window window;
    TVornForm& form = *window.form;
    form.SetBounds(bounds);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // No larger than the desktop with a frame around it, and never empty.
    const QSize frame = form.frameGeometry().size();
    const QSize margins = frame - form.size();
    const QSize desktop = form.screen()->virtualSize();
    QVERIFY(frame.width() <= desktop.width() + margins.width());
    QVERIFY(frame.height() <= desktop.height() + margins.height());
    QVERIFY(form.width() > 0 && form.height() > 0);
    // What is stored at exit is the frame as it stands.
    const vorn::WindowBounds stored = form.Bounds();
    QCOMPARE(stored.width, frame.width());
    QCOMPARE(stored.height, frame.height());
    form.close();
    form.SaveSettings();
    QVERIFY(window.ReadSettings().startsWith("[VornForm]\r\nLeft="));
}

void MainWindowTest::noSettingsFileGivesTheDesignAndThe95ByteFile() {
    Window window;
    window.form->LoadSettings();
    QCOMPARE(window.form->Bounds(), (vorn::WindowBounds{0, 0, 588, 366}));
    QCOMPARE(window.form->ColumnWidth(0), 400);
    QCOMPARE(window.form->ColumnWidth(1), 160);
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
    QCOMPARE(window.form->frameGeometry(), QRect(0, 0, 588, 366));
    window.form->close();
    window.form->SaveSettings();
    QCOMPARE(window.ReadSettings(), kDefaultSettings);
    QCOMPARE(window.ReadSettings().size(), 95);
}

void MainWindowTest::settingsFileFormsAreApplied_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<vorn::WindowBounds>("bounds");
    QTest::addColumn<int>("fileName");
    QTest::addColumn<int>("error");
    QTest::newRow("names ignore case") << QByteArray("[vornform]\nwIdTh=700\n")
                                       << vorn::WindowBounds{0, 0, 700, 366} << 400 << 160;
    QTest::newRow("blanks around names and values")
        << QByteArray("[ VornForm ]\r\n  Width  =  700  \r\n\tTop\t=\t9\r\n")
        << vorn::WindowBounds{0, 9, 700, 366} << 400 << 160;
    QTest::newRow("hexadecimal forms")
        << QByteArray("[VornForm]\nLeft=$1F\nTop=0x1F\nWidth=0X2f0\nHeight=x12C\n")
        << vorn::WindowBounds{31, 31, 752, 300} << 400 << 160;
    QTest::newRow("malformed values give the defaults")
        << QByteArray("[VornForm]\nLeft=12px\nTop=1 2\nWidth = 700 ; wide\nHeight=\n"
                      "[FileListView]\nFileName=2147483648\nError=0x\n")
        << vorn::WindowBounds{0, 0, 588, 366} << 400 << 160;
    QTest::newRow("all four and both columns")
        << QByteArray("[VornForm]\r\nLeft=380\r\nTop=105\r\nWidth=640\r\nHeight=480\r\n\r\n"
                      "[FileListView]\r\nFileName=300\r\nError=90\r\n")
        << vorn::WindowBounds{380, 105, 640, 480} << 300 << 90;
    QTest::newRow("only the last of two sections counts")
        << QByteArray("[VornForm]\nLeft=9\nWidth=600\n[VornForm]\nTop=8\nWidth=601\nWidth=602\n")
        << vorn::WindowBounds{0, 8, 602, 366} << 400 << 160;
    QTest::newRow("byte-order mark hides the first header")
        << QByteArray("\xEF\xBB\xBF[VornForm]\nLeft=50\n[FileListView]\nError=77\n")
        << vorn::WindowBounds{0, 0, 588, 366} << 400 << 77;
    QTest::newRow("negative and extreme values as read")
        << QByteArray("[VornForm]\nLeft=-101\nTop=-2147483648\n[FileListView]\nFileName=0\nError=$"
                      "FFFFFFFF\n")
        << vorn::WindowBounds{-101, INT32_MIN, 588, 366} << 0 << -1;
}

void MainWindowTest::settingsFileFormsAreApplied() {
    QFETCH(QByteArray, text);
    QFETCH(vorn::WindowBounds, bounds);
    QFETCH(int, fileName);
    QFETCH(int, error);
    Window window;
    window.WriteSettings(text);
    window.form->LoadSettings();
    QCOMPARE(window.form->Bounds(), bounds);
    QCOMPARE(window.form->ColumnWidth(0), fileName);
    QCOMPARE(window.form->ColumnWidth(1), error);
    // The file is left as it was until the exit.
    QCOMPARE(window.ReadSettings(), text);
}

void MainWindowTest::oddWidthsAreWrittenBackAsRead() {
    Window window;
    window.WriteSettings("; comment\n[VornForm]\nLeft=7\nTop=8\nWidth=500\nHeight=300\nExtra=1\n"
                         "[Other]\nKey=2\n[FileListView]\nFileName=0\nError=-1\n");
    window.form->LoadSettings();
    window.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
    window.form->close();
    window.form->SaveSettings();
    // The rewrite is built from the window: other sections, keys and comments are gone.
    QCOMPARE(window.ReadSettings(),
             QByteArray("[VornForm]\r\nLeft=7\r\nTop=8\r\nWidth=500\r\nHeight=300\r\n\r\n"
                        "[FileListView]\r\nFileName=0\r\nError=-1\r\n\r\n"));
}

void MainWindowTest::settingsFailures() {
    {
        // A folder where the file should be: not present at start-up, not creatable at exit.
        Window window;
        QVERIFY(QDir().mkpath(QString::fromStdString(window.SettingsPath())));
        window.form->LoadSettings();
        QCOMPARE(window.form->Bounds(), (vorn::WindowBounds{0, 0, 588, 366}));
        QVERIFY_THROWS_EXCEPTION(vorn::EFCreateError, window.form->SaveSettings());
    }
    {
        // A read-only file is read at start-up and cannot be rewritten at exit.
        Window window;
        window.WriteSettings("[VornForm]\nLeft=5\n");
        QCOMPARE(chmod(window.SettingsPath().c_str(), 0444), 0);
        window.form->LoadSettings();
        QCOMPARE(window.form->Bounds().left, 5);
        QVERIFY_THROWS_EXCEPTION(vorn::EFCreateError, window.form->SaveSettings());
        QCOMPARE(window.ReadSettings(), QByteArray("[VornForm]\nLeft=5\n"));
    }
    {
        // A file that cannot be read fails at start-up and at exit alike. Root reads any file:
        // the window asks as an ordinary user, with the way to the file open.
        Window window;
        window.WriteSettings("[VornForm]\nLeft=5\n");
        QCOMPARE(chmod(window.SettingsPath().c_str(), 0), 0);
        QCOMPARE(chmod(window.dir.path().toLocal8Bit().constData(), 0755), 0);
        const bool asRoot = geteuid() == 0;
        if (asRoot && seteuid(65534) != 0) {
            QSKIP("cannot act as another user");
        }
        const auto failure = [](const std::function<void()>& step) -> std::string {
            try {
                step();
                return "none";
            } catch (const vorn::EFOpenError&) {
                return "EFOpenError";
            } catch (const std::exception& error) {
                return error.what();
            }
        };
        const std::string atStart = failure([&] { window.form->LoadSettings(); });
        const std::string atExit = failure([&] { window.form->SaveSettings(); });
        if (asRoot) {
            QCOMPARE(seteuid(0), 0);
        }
        QCOMPARE(atStart, std::string("EFOpenError"));
        QCOMPARE(atExit, std::string("EFOpenError"));
    }
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
