// The command line at start-up: the window comes up first, the parameters are listed in path
// order, and the switch -a or /a, anywhere, checks them.

#include <QDir>
#include <QLabel>
#include <QTest>

#include "core/base/scope_exit.h"
#include "forms/dialog_lock.h"
#include "tests/forms/run_fixture.h"

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void parameters_data();
    void parameters();
    void windowComesUpFirst();
    void exitWhileListingLeavesTheListUnchecked();
};

void CommandLineTest::parameters_data() {
    // Parameters starting with "T/" name entries of the temporary folder, which holds the sound
    // files x.jpg, y.jpg, A.jpg, b.jpg, c.jpg and the folders "-a" (with in.jpg) and sub (with
    // s.jpg); the run's working folder is the temporary folder.
    QTest::addColumn<QByteArrayList>("parameters");
    QTest::addColumn<QByteArrayList>("rows");
    QTest::addColumn<bool>("checked");

    QTest::newRow("none") << QByteArrayList{} << QByteArrayList{} << false;
    QTest::newRow("sorted ignoring case")
        << QByteArrayList{"T/b.jpg", "T/A.jpg", "T/c.jpg"}
        << QByteArrayList{"T/A.jpg", "T/b.jpg", "T/c.jpg"} << false;
    QTest::newRow("switch in the middle") << QByteArrayList{"T/y.jpg", "/a", "T/x.jpg"}
                                          << QByteArrayList{"T/x.jpg", "T/y.jpg"} << true;
    QTest::newRow("switch first") << QByteArrayList{"-a", "T/x.jpg", "T/y.jpg"}
                                  << QByteArrayList{"T/x.jpg", "T/y.jpg", "-a/in.jpg"} << true;
    QTest::newRow("upper-case switch is a path")
        << QByteArrayList{"-A", "T/x.jpg"} << QByteArrayList{"T/x.jpg"} << false;
    QTest::newRow("other switches are paths")
        << QByteArrayList{"--a", "-ab", "a", "/help", "T/x.jpg"} << QByteArrayList{"T/x.jpg"}
        << false;
    QTest::newRow("duplicates listed once")
        << QByteArrayList{"T/x.jpg", "T/x.jpg", "T/y.jpg", "T/x.jpg"}
        << QByteArrayList{"T/x.jpg", "T/y.jpg"} << false;
    // The switch alone is a path too: here "-a" names a folder in the working folder.
    QTest::newRow("switch names a folder")
        << QByteArrayList{"-a"} << QByteArrayList{"-a/in.jpg"} << true;
    QTest::newRow("relative paths stay relative")
        << QByteArrayList{"sub/s.jpg", "-a", "sub"} << QByteArrayList{"-a/in.jpg", "sub/s.jpg"}
        << true;
}

void CommandLineTest::parameters() {
    QFETCH(QByteArrayList, parameters);
    QFETCH(QByteArrayList, rows);
    QFETCH(bool, checked);
    if (QDir("/a").exists()) {
        QSKIP("a folder /a exists on this machine");
    }
    TempTree tree;
    for (const char* name :
         {"x.jpg", "y.jpg", "A.jpg", "b.jpg", "c.jpg", "-a/in.jpg", "sub/s.jpg"}) {
        tree.Write(name);
    }
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QString::fromStdString(tree.Root())));
    const vorn::ScopeExit restore([&previous] { QDir::setCurrent(previous); });
    std::vector<std::string> list;
    for (const QByteArray& parameter : parameters) {
        list.push_back(parameter.startsWith("T/") ? tree.Path(parameter.mid(2).toStdString())
                                                  : parameter.toStdString());
    }
    Forms forms;
    forms.form->hide();

    forms.form->ProcessCommandLine(list);

    QVERIFY(forms.form->isVisible());
    QCOMPARE(forms.list().Count(), int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        QCOMPARE(QByteArray::fromStdString(tree.Short(forms.list().Caption(row))), rows[row]);
        // A relative caption is checked against the working folder.
        QCOMPARE(forms.list().State(row), checked ? isNormal : isUnchecked);
    }
    // A switch with nothing listed runs a check of the empty list: no dialog.
    QCOMPARE(forms.check->isVisible(), checked && !rows.isEmpty());
    if (forms.check->isVisible()) {
        QCOMPARE(forms.check->FilesNumLabel()->text(), QString::number(rows.size()));
    }
    QVERIFY(!forms.progress->isVisible());
    QCOMPARE(forms.form->StatusPanelText(0), QString("%1 Files").arg(rows.size()));
}

// The window is on screen, and the progress dialog over it, before the first path is handled.
void CommandLineTest::windowComesUpFirst() {
    TempTree tree;
    Forms forms;
    forms.form->hide();
    bool shownFirst = false;
    RunProbe probe([&] {
        shownFirst =
            forms.form->isVisible() && forms.progress->isVisible() && IsMainFormLocked(forms.form);
        return false;
    });
    forms.form->ProcessCommandLine({tree.Write("x.jpg")});
    QVERIFY(shownFirst);
    QCOMPARE(probe.Ticks(), 1);
}

// The window is closed while the command-line paths are still being listed (a folder's walk has
// ended and the window takes input): the program is ending, so the switch starts no check and
// no dialog comes up over a closed window.
void CommandLineTest::exitWhileListingLeavesTheListUnchecked() {
    TempTree tree;
    for (const char* name : {"F/A/a1.jpg", "F/A/a2.jpg", "F/b.jpg", "F/c.jpg"}) {
        tree.Write(name);
    }
    Forms forms;
    forms.form->hide();
    bool closed = false;
    bool checkDialogShown = false;
    RunProbe probe([&] {
        checkDialogShown = checkDialogShown || forms.check->isVisible();
        if (!closed && forms.progress->FileNameLabel()->text() == "A" &&
            !IsMainFormLocked(forms.form)) {
            forms.form->close();
            closed = true;
        }
        return true;
    });

    forms.form->ProcessCommandLine({tree.Path("F"), "-a"});
    probe.Stop();

    QVERIFY(closed);
    QVERIFY(!forms.form->isVisible());
    QVERIFY(!checkDialogShown);
    QVERIFY(!forms.check->isVisible());
    QVERIFY(forms.list().Count() > 0);
    for (int row = 0; row < forms.list().Count(); ++row) {
        QCOMPARE(forms.list().State(row), isUnchecked);
    }
}

QTEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
