// Adding files and folders: which rows a run makes and in which order, what the progress dialog
// and the main window show along the way, and that a run stays sound whatever happens inside it.

#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "forms/dialog_lock.h"
#include "tests/forms/run_fixture.h"
#include "tests/support/event_arrivals.h"

namespace {

std::vector<std::string> Rows(const Forms& forms, const TempTree& tree) {
    std::vector<std::string> rows;
    for (int row = 0; row < forms.list().Count(); ++row) {
        rows.push_back(tree.Short(forms.list().Caption(row)));
    }
    return rows;
}

// One line per entry, so that a failed comparison shows both lists whole.
QString Lines(const std::vector<std::string>& lines) {
    QString text;
    for (const std::string& line : lines) {
        text += QString::fromStdString(line) + "\n";
    }
    return text;
}

QList<int> SelectedRows(const Forms& forms) {
    QList<int> rows;
    for (const QModelIndex& index : forms.form->FileListView()->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    return rows;
}

// Makes the entries a case names: "name" a sound file, "dir/" a folder, "name|" a named pipe,
// "name->target" a symbolic link, "name@" a file last written in 1970.
void MakeEntries(const TempTree& tree, const QByteArrayList& entries) {
    for (const QByteArray& entry : entries) {
        const std::string text = entry.toStdString();
        if (const std::size_t arrow = text.find("->"); arrow != std::string::npos) {
            QVERIFY(symlink(text.substr(arrow + 2).c_str(),
                            tree.Path(text.substr(0, arrow)).c_str()) == 0);
        } else if (text.back() == '/') {
            tree.Folder(text);
        } else if (text.back() == '|') {
            QVERIFY(mkfifo(tree.Path(text.substr(0, text.size() - 1)).c_str(), 0600) == 0);
        } else if (text.back() == '@') {
            const std::string path = tree.Write(text.substr(0, text.size() - 1));
            const utimbuf times{86400, 86400};
            QVERIFY(utime(path.c_str(), &times) == 0);
        } else {
            tree.Write(text);
        }
    }
}

// Everything a user sees of a run at one moment.
std::string Snapshot(const Forms& forms, const TempTree& tree) {
    const QProgressBar* bar = forms.progress->ProgressBar();
    const QList<int> selected = SelectedRows(forms);
    return std::to_string(bar->value()) + "/" + std::to_string(bar->maximum()) + " [" +
           tree.Short(forms.progress->windowTitle().toStdString()) + "|" +
           forms.progress->FileNameLabel()->text().toStdString() + "] " +
           (forms.progress->isVisible() ? "shown" : "hidden") + " " +
           (IsMainFormLocked(forms.form) ? "locked" : "unlocked") + " sel" +
           (selected.isEmpty() ? std::string("-") : std::to_string(selected.front())) + " " +
           forms.form->StatusPanelText(0).toStdString() + "," +
           forms.form->StatusPanelText(1).toStdString() + " " +
           (forms.form->FileListView()->updatesEnabled() ? "live" : "frozen");
}

// Records the main window's lock and unlock as they happen.
class LockRecorder : public QObject {
public:
    LockRecorder(QWidget* window, std::vector<std::string>& log)
        : m_log(log) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == MainFormLockChange()) {
            m_log.push_back(IsMainFormLocked(static_cast<QWidget*>(watched)) ? "lock" : "unlock");
        }
        return false;
    }

private:
    std::vector<std::string>& m_log;
};

} // namespace

class AddingTest : public QObject {
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void walkthrough();
    void dialogReportsEachPath();
    void emptyListShowsAndClosesTheDialog();
    void aWalkHandsTheActivationBackOnce();
    void selection();
    void longPaths();
    void unreadableFolderIsAnErrorRow();
    void listLaidOutWhenRunEnds();
    void interruptions_data();
    void interruptions();
    void failureLeavesTheWindowUsable();
};

void AddingTest::rows_data() {
    QTest::addColumn<QByteArrayList>("entries");
    QTest::addColumn<QByteArrayList>("paths"); // "T" stands for the temporary folder
    QTest::addColumn<QByteArrayList>("expected");

    // The walk's own rules are the engine's (its test); here, that its files become rows in
    // its order, unchecked, and what only the list decides: a path listed already.
    QTest::newRow("dropped folder")
        << QByteArrayList{"b.jpg",    "A/z.jpg",   "c.JPG",      "img10.jpg",
                          "img2.jpg", "notes.txt", ".Hidden.jpg"}
        << QByteArrayList{"T"} << QByteArrayList{"T/.Hidden.jpg", "T/A/z.jpg",   "T/b.jpg",
                                                 "T/c.JPG",       "T/img10.jpg", "T/img2.jpg"};
    QTest::newRow("same file twice")
        << QByteArrayList{"x.jpg"} << QByteArrayList{"T/x.jpg", "T/x.jpg"}
        << QByteArrayList{"T/x.jpg"};
    QTest::newRow("file, then its folder")
        << QByteArrayList{"x.jpg"} << QByteArrayList{"T/x.jpg", "T"} << QByteArrayList{"T/x.jpg"};
    QTest::newRow("another text for the same file")
        << QByteArrayList{"x.jpg"} << QByteArrayList{"T/./x.jpg", "T"}
        << QByteArrayList{"T/./x.jpg", "T/x.jpg"};
}

void AddingTest::rows() {
    QFETCH(QByteArrayList, entries);
    QFETCH(QByteArrayList, paths);
    QFETCH(QByteArrayList, expected);
    Forms forms;
    TempTree tree;
    MakeEntries(tree, entries);
    std::vector<std::string> list;
    for (const QByteArray& path : paths) {
        list.push_back(path.startsWith('T') ? tree.Root() + path.mid(1).toStdString()
                                            : path.toStdString());
    }

    forms.form->AddFiles(list);

    std::vector<std::string> want;
    for (const QByteArray& row : expected) {
        want.push_back(row.toStdString());
    }
    QCOMPARE(Lines(Rows(forms, tree)), Lines(want));
    for (int row = 0; row < forms.list().Count(); ++row) {
        QCOMPARE(forms.list().State(row), isUnchecked);
        QCOMPARE(forms.list().ErrorText(row), std::string());
    }
}

// A dropped folder F holding a.jpg, S (s1.jpg, s2.jpg) and z.jpg, seen after every path and at
// every lock and unlock of the main window.
void AddingTest::walkthrough() {
    Forms forms;
    TempTree tree;
    tree.Write("F/a.jpg");
    tree.Write("F/S/s1.jpg");
    tree.Write("F/S/s2.jpg");
    tree.Write("F/z.jpg");
    std::vector<std::string> log;
    LockRecorder locks(forms.form, log);
    RunProbe probe([&] {
        log.push_back(Snapshot(forms, tree));
        return true;
    });

    forms.form->DropDstFileDrop(nullptr, {tree.Path("F")}, 10, 10);
    probe.Stop();
    log.push_back(Snapshot(forms, tree));

    const std::vector<std::string> expected = {
        "lock",
        "1/3 [T/F/|a.jpg] shown locked sel- 0 Files,U: 0 frozen",
        "1/2 [T/F/S/|s1.jpg] shown locked sel- 0 Files,U: 0 frozen",
        "2/2 [T/F/S/|s2.jpg] shown locked sel- 0 Files,U: 0 frozen",
        "unlock",
        "2/3 [T/F/|S] hidden unlocked sel0 3 Files,U: 3 frozen",
        "3/3 [T/F/|z.jpg] hidden unlocked sel0 3 Files,U: 3 frozen",
        "1/1 [T/|F] hidden unlocked sel0 4 Files,U: 4 frozen",
        "0/1 [T/|] hidden unlocked sel0 4 Files,U: 4 live",
    };
    QCOMPARE(Lines(log), Lines(expected));
    QCOMPARE(Lines(Rows(forms, tree)),
             Lines({"T/F/a.jpg", "T/F/S/s1.jpg", "T/F/S/s2.jpg", "T/F/z.jpg"}));
    QCOMPARE(forms.form->focusWidget(), static_cast<QWidget*>(forms.form->FileListView()));
}

// Caption and label after each path: the folder part and the name part of the path as handed
// in, whatever became of it; the bytes shown as UTF-8, "&" left to the label.
void AddingTest::dialogReportsEachPath() {
    Forms forms;
    TempTree tree;
    tree.Folder("pics");
    tree.Write("a&b.jpg");
    std::vector<std::string> log;
    RunProbe probe([&] {
        log.push_back(Snapshot(forms, tree));
        return true;
    });
    forms.form->AddFiles({"", tree.Path("pics/"), tree.Path("pics"), tree.Path("a&b.jpg"),
                          tree.Path("\xFF.txt"), "plain.jpg"});
    probe.Stop();
    const std::vector<std::string> expected = {
        "1/6 [|] shown locked sel- 0 Files,U: 0 frozen",
        "2/6 [T/pics/|] shown locked sel- 0 Files,U: 0 frozen",
        "3/6 [T/|pics] shown locked sel- 0 Files,U: 0 frozen",
        "4/6 [T/|a&b.jpg] shown locked sel- 0 Files,U: 0 frozen",
        "5/6 [T/|\xEF\xBF\xBD.txt] shown locked sel- 0 Files,U: 0 frozen",
        "6/6 [|plain.jpg] shown locked sel- 0 Files,U: 0 frozen",
    };
    QCOMPARE(Lines(log), Lines(expected));
    // The row keeps the name as it is; the label hides the single "&" when drawn.
    QCOMPARE(forms.list().Caption(0), tree.Path("a&b.jpg"));
    QCOMPARE(forms.progress->FileNameLabel()->text(), QString());
}

void AddingTest::emptyListShowsAndClosesTheDialog() {
    Forms forms;
    TempTree tree;
    forms.form->AddFiles({tree.Write("a.jpg"), tree.Write("b.jpg")});
    // Emptying the list leaves the panels alone; the next run refreshes them, adding nothing.
    forms.list().Clear();
    QCOMPARE(forms.form->StatusPanelText(0), QString("2 Files"));
    std::vector<std::string> log;
    LockRecorder locks(forms.form, log);

    forms.form->AddFiles({});

    QCOMPARE(log, (std::vector<std::string>{"lock", "unlock"}));
    QVERIFY(!forms.progress->isVisible());
    QCOMPARE(forms.list().Count(), 0);
    QCOMPARE(forms.form->StatusPanelText(0), QString("0 Files"));
    QCOMPARE(forms.form->StatusPanelText(1), QString("U: 0"));
    QCOMPARE(forms.form->focusWidget(), static_cast<QWidget*>(forms.form->FileListView()));
}

// However many folders a walk shows the dialog for, the main window's activation changes at
// most once away and once back, and the window is active when the run ends. (Where showing the
// dialog activates it, handing the activation back at every folder made every widget of both
// windows follow it twice per folder.)
void AddingTest::aWalkHandsTheActivationBackOnce() {
    std::vector<int> changes;
    for (const int folders : {1, 6}) {
        Forms forms;
        QVERIFY(QTest::qWaitForWindowActive(forms.form));
        TempTree tree;
        for (int folder = 0; folder < folders; ++folder) {
            tree.Write("f" + std::to_string(folder) + "/a.jpg");
        }
        const Arrivals changed({forms.form.data()},
                               {QEvent::WindowActivate, QEvent::WindowDeactivate});
        forms.form->AddFiles({tree.Root()});
        QTRY_COMPARE(QApplication::activeWindow(), forms.form.data());
        QCOMPARE(forms.list().Count(), folders);
        changes.push_back(changed.count);
    }
    QVERIFY2(changes[1] <= 2, std::to_string(changes[1]).c_str());
    QCOMPARE(changes[1], changes[0]);
}

void AddingTest::selection() {
    struct Case {
        const char* name;
        std::vector<std::vector<const char*>> runs; // files added, one run each
        int selectBefore;                           // row selected before the last run, or -1
        QList<int> expected;
    };
    const Case cases[] = {
        {"two files", {{"a.jpg", "b.jpg"}}, -1, {0}},
        {"one file", {{"a.jpg"}}, -1, {}},
        {"one, then another", {{"a.jpg"}, {"b.jpg"}}, -1, {0}},
        {"a selection stays", {{"a.jpg", "b.jpg", "c.jpg"}, {"d.jpg"}}, 2, {2}},
    };
    for (const Case& c : cases) {
        Forms forms;
        TempTree tree;
        for (std::size_t run = 0; run < c.runs.size(); ++run) {
            if (run + 1 == c.runs.size() && c.selectBefore >= 0) {
                forms.form->FileListView()->selectionModel()->select(
                    forms.list().index(c.selectBefore, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            }
            std::vector<std::string> paths;
            for (const char* name : c.runs[run]) {
                paths.push_back(tree.Write(name));
            }
            forms.form->AddFiles(paths);
        }
        QVERIFY2(SelectedRows(forms) == c.expected, c.name);
    }
}

// A path of about 4,000 bytes is listed; one past the system's limit is skipped quietly.
void AddingTest::longPaths() {
    Forms forms;
    TempTree tree;
    std::string relative;
    while (tree.Path(relative).size() < 3800) {
        relative += std::string(99, 'd') + "/";
    }
    const std::size_t nameSize = 4000 - tree.Path(relative).size() - 4;
    const std::string longFile = tree.Write(relative + std::string(nameSize, 'n') + ".jpg");
    QCOMPARE(longFile.size(), std::size_t(4000));
    const std::string tooLong = longFile + "/" + std::string(2000, 'x') + ".jpg";

    forms.form->AddFiles({tree.Root(), tooLong});

    QCOMPARE(forms.list().Count(), 1);
    QCOMPARE(forms.list().Caption(0), longFile);
    QVERIFY(forms.form->CheckItem(0));
}

// A folder that cannot be read is a row with its error at once, counted in the status bar.
void AddingTest::unreadableFolderIsAnErrorRow() {
    Forms forms;
    TempTree tree;
    tree.Write("a.jpg");
    tree.Write("locked/x.jpg");
    QCOMPARE(chmod(tree.Root().c_str(), 0755), 0);
    QCOMPARE(chmod(tree.Path("locked").c_str(), 0000), 0); // its owner cannot read it either
    // root reads every folder: add as an ordinary user for a moment.
    if (geteuid() == 0 && seteuid(65534) != 0) {
        QSKIP("cannot act as another user");
    }
    forms.form->AddFiles({tree.Root()});
    if (getuid() == 0) {
        QCOMPARE(seteuid(0), 0);
    }

    QCOMPARE(Lines(Rows(forms, tree)), Lines({"T/a.jpg", "T/locked"}));
    QCOMPARE(forms.list().State(1), isError);
    QCOMPARE(forms.list().ErrorText(1), std::string("File open error"));
    QCOMPARE(forms.form->StatusPanelText(3), QString("E: 1"));
}

// The list's layout waits while its redraw is suspended; the run's end lays it out at once.
void AddingTest::listLaidOutWhenRunEnds() {
    Forms forms;
    TempTree tree;
    std::vector<std::string> paths;
    for (int file = 0; file < 200; ++file) {
        // Appended, not "f" + …: GCC 12 warns falsely on that form in the optimised build.
        paths.push_back(tree.Write(std::string("f").append(std::to_string(file)).append(".jpg")));
    }
    forms.form->AddFiles(paths);
    QTableView* const list = forms.form->FileListView();
    QVERIFY(list->verticalScrollBar()->maximum() > 0);
    QCOMPARE(list->rowAt(0), 0);
    // The view's own timed work goes on after the run: emptying the list lays it out again.
    forms.list().Clear();
    QTRY_COMPARE(list->verticalScrollBar()->maximum(), 0);
}

// What the main window may do while a walk goes on: the first folder's walk has ended (the
// dialog is closed, the window takes input) and the enclosing call still has paths to go.
void AddingTest::interruptions_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::newRow("delete all") << "delete" << QByteArrayList{"T/F/b.jpg", "T/F/c.jpg"};
    QTest::newRow("drop runs nested")
        << "drop" << QByteArrayList{"T/F/A/a1.jpg", "T/F/A/a2.jpg", "T/G/g.jpg",
                                    "T/G/H/h.jpg",  "T/F/b.jpg",    "T/F/c.jpg"};
    QTest::newRow("drop of the folder being walked")
        << "drop walked"
        << QByteArrayList{"T/F/A/a1.jpg", "T/F/A/a2.jpg", "T/F/b.jpg", "T/F/c.jpg"};
    QTest::newRow("check all") << "check"
                               << QByteArrayList{"T/F/A/a1.jpg", "T/F/A/a2.jpg", "T/F/b.jpg",
                                                 "T/F/c.jpg"};
    QTest::newRow("exit stops the run") << "exit" << QByteArrayList{"T/F/A/a1.jpg", "T/F/A/a2.jpg"};
}

void AddingTest::interruptions() {
    QFETCH(QString, action);
    QFETCH(QByteArrayList, expected);
    Forms forms;
    TempTree tree;
    for (const char* name :
         {"F/A/a1.jpg", "F/A/a2.jpg", "F/b.jpg", "F/c.jpg", "G/g.jpg", "G/H/h.jpg"}) {
        tree.Write(name);
    }
    bool acted = false;
    bool tookInput = false;
    RunProbe probe([&] {
        if (forms.progress->FileNameLabel()->text() != "A") {
            return true;
        }
        tookInput = !IsMainFormLocked(forms.form) && !forms.progress->isVisible();
        acted = true;
        if (action == "delete") {
            forms.form->MenuDeleteAllClick();
        } else if (action == "drop") {
            forms.form->DropDstFileDrop(nullptr, {tree.Path("G")}, 0, 0);
        } else if (action == "drop walked") {
            forms.form->DropDstFileDrop(nullptr, {tree.Path("F")}, 0, 0);
        } else if (action == "check") {
            forms.form->MenuCheckAllClick();
        } else if (action == "exit") {
            forms.form->close();
        }
        return false;
    });

    forms.form->AddFiles({tree.Path("F")});

    QVERIFY(acted);
    QVERIFY(tookInput);
    std::vector<std::string> want;
    for (const QByteArray& row : expected) {
        want.push_back(row.toStdString());
    }
    QCOMPARE(Lines(Rows(forms, tree)), Lines(want));
    QVERIFY(!forms.progress->isVisible());
    QVERIFY(forms.form->FileListView()->updatesEnabled());
    // The lock is a flag, not a count: the progress dialog's last close unlocks the window even
    // when a check run has left its dialog open meanwhile.
    QVERIFY(!IsMainFormLocked(forms.form));
    if (action == "check") {
        // The check covered the rows of that moment and left its dialog open.
        QCOMPARE(forms.list().State(1), isNormal);
        QCOMPARE(forms.list().State(2), isUnchecked);
        QVERIFY(forms.check->isVisible());
    }
}

// A failure escaping a run (here from the list's own signal, where a failed allocation could
// come from) still resumes the list's redrawing, closes the dialog and unlocks the window; the
// next run walks the same folders again.
void AddingTest::failureLeavesTheWindowUsable() {
    Forms forms;
    TempTree tree;
    tree.Write("F/A/a.jpg");
    tree.Write("F/A/b.jpg");
    tree.Write("F/c.jpg");
    const QMetaObject::Connection failing =
        connect(&forms.list(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (forms.list().Count() == 2) {
                throw std::runtime_error("out of memory");
            }
        });

    QVERIFY_THROWS_EXCEPTION(std::runtime_error, forms.form->AddFiles({tree.Path("F")}));

    QVERIFY(forms.form->FileListView()->updatesEnabled());
    QVERIFY(!forms.progress->isVisible());
    QVERIFY(!IsMainFormLocked(forms.form));
    // The folders the failed run was inside are not taken for a loop by the next one.
    disconnect(failing);
    forms.form->AddFiles({tree.Path("F")});
    QVERIFY(forms.list().IsListed(tree.Path("F/c.jpg")));
    QVERIFY(forms.form->FileListView()->updatesEnabled());
}

QTEST_MAIN(AddingTest)
#include "adding_test.moc"
