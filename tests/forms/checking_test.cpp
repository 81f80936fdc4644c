// Checking: the verdict a row gets, the check dialog's figures, and a run that stays sound when
// the main window acts in its middle.

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "forms/dialog_lock.h"
#include "tests/forms/run_fixture.h"

namespace {

struct Figures {
    QString files, checked, normal, error;
    bool operator==(const Figures&) const = default;
};

Figures Read(const Forms& forms) {
    return {forms.check->FilesNumLabel()->text(), forms.check->CheckedNumLabel()->text(),
            forms.check->NormalNumLabel()->text(), forms.check->ErrorNumLabel()->text()};
}

} // namespace

namespace QTest {
template <>
char* toString(const Figures& figures) {
    return qstrdup(QString("Files %1, Checked %2, Normal %3, Error %4")
                       .arg(figures.files, figures.checked, figures.normal, figures.error)
                       .toUtf8());
}
} // namespace QTest

class CheckingTest : public QObject {
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
    void runFigures();
    void emptyListDoesNothing();
    void interruptions_data();
    void interruptions();
};

void CheckingTest::verdicts_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("how"); // "file", "deleted" after listing, "pipe", "huge"
    QTest::addColumn<QString>("error");

    QTest::newRow("smallest sound file")
        << QByteArray("a.jpg") << QByteArray("\xFF\xD8\xFF\xD9") << "file"
        << "";
    QTest::newRow("sound file") << QByteArray("a.jpg")
                                << QByteArray("\xFF\xD8\x00\x11\x22\xFF\xD9", 7) << "file"
                                << "";
    QTest::newRow("start marker only") << QByteArray("a.jpg") << QByteArray("\xFF\xD8") << "file"
                                       << "EOI";
    QTest::newRow("three bytes") << QByteArray("a.jpg") << QByteArray("\xFF\xD8\xD9") << "file"
                                 << "EOI";
    QTest::newRow("empty") << QByteArray("a.jpg") << QByteArray() << "file"
                           << "SOI";
    QTest::newRow("one byte") << QByteArray("a.jpg") << QByteArray("\xFF") << "file"
                              << "SOI";
    QTest::newRow("starts with the end marker")
        << QByteArray("a.jpg") << QByteArray("\xFF\xD9\xFF\xD9") << "file"
        << "SOI";
    QTest::newRow("swapped start marker")
        << QByteArray("a.jpg") << QByteArray("\xD8\xFF\xFF\xD9") << "file"
        << "SOI";
    QTest::newRow("one byte after the end marker")
        << QByteArray("a.jpg") << QByteArray("\xFF\xD8\xFF\xD9\x00", 5) << "file"
        << "EOI";
    QTest::newRow("ill-formed name")
        << QByteArray("\xFF\xFE.jpg") << QByteArray("\xFF\xD8\xFF\xD9") << "file"
        << "";
    QTest::newRow("deleted after listing")
        << QByteArray("a.jpg") << QByteArray("\xFF\xD8\xFF\xD9") << "deleted"
        << "File open error";
    QTest::newRow("named pipe") << QByteArray("p.jpg") << QByteArray() << "pipe"
                                << "File open error";
    QTest::newRow("larger than 4 GiB") << QByteArray("a.jpg") << QByteArray() << "huge"
                                       << "";
}

void CheckingTest::verdicts() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, how);
    QFETCH(QString, error);
    Forms forms;
    TempTree tree;
    const std::string path = tree.Path(name.toStdString());
    if (how == "pipe") {
        QVERIFY(mkfifo(path.c_str(), 0600) == 0);
    } else if (how == "huge") {
        tree.Write(name.toStdString(), "\xFF\xD8");
        std::filesystem::resize_file(path, (std::uintmax_t(5) << 30) - 2);
        std::ofstream(path, std::ios::binary | std::ios::app).write("\xFF\xD9", 2);
    } else {
        tree.Write(name.toStdString(),
                   std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    // A row that was checked before gets both fields written again.
    forms.form->AddFiles({path});
    QCOMPARE(forms.list().Count(), 1);
    forms.list().SetState(0, error.isEmpty() ? isError : isNormal);
    forms.list().SetErrorText(0, error.isEmpty() ? "SOI" : "");
    if (how == "deleted") {
        QVERIFY(unlink(path.c_str()) == 0);
    }

    QCOMPARE(forms.form->CheckItem(0), error.isEmpty());

    QCOMPARE(forms.list().State(0), error.isEmpty() ? isNormal : isError);
    QCOMPARE(QString::fromStdString(forms.list().ErrorText(0)), error);
    QCOMPARE(forms.list().Caption(0), path);
    QVERIFY(!forms.check->isVisible()); // one row's check shows nothing
}

// A run's figures, rows and panels; a second run starts its figures again, counts the rows of
// its own start and finds a repaired file sound.
void CheckingTest::runFigures() {
    Forms forms;
    TempTree tree;
    const std::string bad = tree.Write("b.jpg", std::string_view("\x00\x00\xFF\xD9", 4));
    forms.form->AddFiles({tree.Write("a.jpg"), bad, tree.Write("c.jpg")});
    QVERIFY(unlink(tree.Path("c.jpg").c_str()) == 0);

    forms.form->CheckAll();

    QCOMPARE(Read(forms), (Figures{"3", "3", "1", "2"}));
    QVERIFY(forms.check->isVisible());
    QVERIFY(IsMainFormLocked(forms.form));
    const std::pair<TItemState, std::string> expected[] = {
        {isNormal, ""}, {isError, "SOI"}, {isError, "File open error"}};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(std::make_pair(forms.list().State(row), forms.list().ErrorText(row)),
                 expected[row]);
    }
    QCOMPARE(forms.form->StatusPanelText(0), QString("3 Files"));
    QCOMPARE(forms.form->StatusPanelText(1), QString("U: 0"));
    QCOMPARE(forms.form->StatusPanelText(2), QString("C: 1"));
    QCOMPARE(forms.form->StatusPanelText(3), QString("E: 2"));

    forms.check->OkButton()->click();
    QVERIFY(!forms.check->isVisible());
    QVERIFY(!IsMainFormLocked(forms.form));
    tree.Write("b.jpg");
    forms.form->AddFiles({tree.Write("d.jpg")});
    std::vector<Figures> seen;
    RunProbe probe([&] {
        seen.push_back(Read(forms));
        return true;
    });
    forms.form->CheckAll();
    probe.Stop();

    const std::vector<Figures> expectedSteps = {
        {"4", "1", "1", "0"}, {"4", "2", "2", "0"}, {"4", "3", "2", "1"}, {"4", "4", "3", "1"}};
    QCOMPARE(seen, expectedSteps);
    QCOMPARE(Read(forms), (Figures{"4", "4", "3", "1"}));
    QCOMPARE(forms.list().State(1), isNormal);
    QCOMPARE(forms.list().ErrorText(1), std::string());
}

void CheckingTest::emptyListDoesNothing() {
    Forms forms;
    TempTree tree;
    forms.form->AddFiles({tree.Write("a.jpg"), tree.Write("b.jpg")});
    forms.form->MenuDeleteAllClick();
    QCOMPARE(forms.list().Count(), 0);

    forms.form->CheckAll();

    QVERIFY(!forms.check->isVisible());
    QVERIFY(!IsMainFormLocked(forms.form));
    QCOMPARE(forms.form->StatusPanelText(0), QString("2 Files"));
    QCOMPARE(forms.form->StatusPanelText(1), QString("U: 2"));
}

// The user closes the dialog after the second of five rows and then acts in the main window.
void CheckingTest::interruptions_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("checkedRows"); // rows 0 to checkedRows - 1 have a verdict
    QTest::addColumn<QString>("checkedFigure");
    QTest::addColumn<bool>("dialogOpen");
    QTest::addColumn<int>("rows");

    QTest::newRow("only closing the dialog") << "" << 5 << "5" << false << 5;
    QTest::newRow("delete all ends the run") << "delete" << 0 << "2" << false << 0;
    QTest::newRow("a second run takes over") << "check" << 5 << "5" << true << 5;
    QTest::newRow("a drop adds rows the run leaves") << "drop" << 5 << "5" << false << 6;
    QTest::newRow("exit ends the run") << "exit" << 2 << "2" << false << 5;
}

void CheckingTest::interruptions() {
    QFETCH(QString, action);
    QFETCH(int, checkedRows);
    QFETCH(QString, checkedFigure);
    QFETCH(bool, dialogOpen);
    QFETCH(int, rows);
    Forms forms;
    TempTree tree;
    std::vector<std::string> paths;
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"}) {
        paths.push_back(tree.Write(name, "\xFF\xD8"));
    }
    forms.form->AddFiles(paths);
    const std::string dropped = tree.Write("6.jpg");
    bool tookInput = false;
    RunProbe probe([&] {
        if (forms.check->CheckedNumLabel()->text() != "2") {
            return true;
        }
        forms.check->OkButton()->click();
        tookInput = !IsMainFormLocked(forms.form);
        if (action == "delete") {
            forms.form->MenuDeleteAllClick();
        } else if (action == "check") {
            forms.form->MenuCheckAllClick();
        } else if (action == "drop") {
            forms.form->DropDstFileDrop(nullptr, {dropped}, 0, 0);
        } else if (action == "exit") {
            forms.form->close();
        }
        return false;
    });

    forms.form->CheckAll();

    QCOMPARE(probe.Ticks(), 2);
    QVERIFY(tookInput); // the closed dialog gave the main window back at once
    QCOMPARE(forms.list().Count(), rows);
    for (int row = 0; row < rows; ++row) {
        QCOMPARE(forms.list().State(row), row < checkedRows ? isError : isUnchecked);
    }
    const Figures figures = Read(forms);
    QCOMPARE(figures.checked, checkedFigure);
    QCOMPARE(figures.files, QString("5"));
    // The figures always add up: every checked row counted once, by the run that shows them.
    QCOMPARE(figures.error.toInt() + figures.normal.toInt(), figures.checked.toInt());
    QCOMPARE(forms.check->isVisible(), dialogOpen);
    QCOMPARE(IsMainFormLocked(forms.form), dialogOpen);
    QCOMPARE(forms.form->StatusPanelText(0), QString("%1 Files").arg(rows));
}

QTEST_MAIN(CheckingTest)
#include "checking_test.moc"
