// The main sequence run in this process: start-up with and without a settings file, the loop
// that ends when the main window closes, the rewrite at exit, and the unhandled-error box that
// ends the program when the settings cannot be written or read.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "app/main_sequence.h"
#include "forms/check/check_form.h"
#include "forms/main/vorn_form.h"

namespace {

TVornForm* VisibleMainForm() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<TVornForm*>(widget); form != nullptr && form->isVisible()) {
            return form;
        }
    }
    return nullptr;
}

// Polls the running program until `step` says it is done. Polling goes on inside every event
// loop the program runs (its main loop, a message box's loop).
class Driver : public QObject {
public:
    explicit Driver(std::function<bool()> step)
        : m_step(std::move(step)) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_step()) {
                m_timer.stop();
            }
        });
        m_timer.start(10);
    }

private:
    std::function<bool()> m_step;
    QTimer m_timer;
};

// What the unhandled-error box showed.
struct ErrorBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool hasParent = false;
};

// Closes the main window once it is on screen, then answers an unhandled-error box if one
// comes up. `whileShown` sees the main window first.
struct Run {
    int exitCode = -1;
    bool mainFormSeen = false;
    ErrorBox box;
};

Run RunProgram(const std::string& settingsPath,
               const std::function<void(TVornForm&)>& whileShown = {}) {
    Run run;
    Driver driver([&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            run.box = {true, box->windowTitle(), box->text(), box->icon(),
                       box->parentWidget() != nullptr};
            box->button(QMessageBox::Ok)->click();
            return true;
        }
        if (TVornForm* form = VisibleMainForm(); form != nullptr && !run.mainFormSeen) {
            run.mainFormSeen = true;
            if (whileShown) {
                whileShown(*form);
            }
            form->close();
        }
        return false;
    });
    run.exitCode = RunMainSequence({}, settingsPath);
    return run;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

const QByteArray kDefaultSettings =
    "[VornForm]\r\nLeft=0\r\nTop=0\r\nWidth=588\r\nHeight=366\r\n\r\n"
    "[FileListView]\r\nFileName=400\r\nError=160\r\n\r\n";

} // namespace

class MainSequenceTest : public QObject {
    Q_OBJECT

private slots:
    void noSettingsFileOpensAtTheOriginAndWritesThe95ByteFile();
    void theNextStartOpensWhereTheWindowWasLeft();
    void oddSettingsFormsAreApplied();
    void theLoopEndsWhenTheMainWindowClosesWhileADialogIsOpen();
    void settingsThatCannotBeWrittenEndWithTheUnhandledErrorBox_data();
    void settingsThatCannotBeWrittenEndWithTheUnhandledErrorBox();
    void settingsThatCannotBeReadEndBeforeTheWindowShows();
};

void MainSequenceTest::noSettingsFileOpensAtTheOriginAndWritesThe95ByteFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vorn.ini");
    vorn::WindowBounds bounds;
    int columns[2] = {};
    const Run run = RunProgram(path.toStdString(), [&](TVornForm& form) {
        bounds = form.Bounds();
        columns[0] = form.ColumnWidth(0);
        columns[1] = form.ColumnWidth(1);
    });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!run.box.shown);
    QCOMPARE(bounds, (vorn::WindowBounds{0, 0, 588, 366}));
    QCOMPARE(columns[0], 400);
    QCOMPARE(columns[1], 160);
    QCOMPARE(ReadFile(path), kDefaultSettings);
    QCOMPARE(ReadFile(path).size(), 95);
}

void MainSequenceTest::theNextStartOpensWhereTheWindowWasLeft() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("vorn.ini").toStdString();
    QCOMPARE(RunProgram(path,
                        [](TVornForm& form) {
                            form.SetBounds({120, 90, 640, 400});
                            form.SetColumnWidth(1, 75);
                        })
                 .exitCode,
             0);
    vorn::WindowBounds bounds;
    int errorColumn = 0;
    QCOMPARE(RunProgram(path,
                        [&](TVornForm& form) {
                            bounds = form.Bounds();
                            errorColumn = form.ColumnWidth(1);
                        })
                 .exitCode,
             0);
    QCOMPARE(bounds, (vorn::WindowBounds{120, 90, 640, 400}));
    QCOMPARE(errorColumn, 75);
}

void MainSequenceTest::oddSettingsFormsAreApplied() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vorn.ini");
    WriteFile(path, "; written by hand\n[ vornform ]\n  wIdTh = 700 \nLeft=$1F\nTop=0x20\n"
                    "[FileListView]\nFileName=0\nError=-1\n");
    vorn::WindowBounds bounds;
    const Run run =
        RunProgram(path.toStdString(), [&](TVornForm& form) { bounds = form.Bounds(); });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(bounds, (vorn::WindowBounds{31, 32, 700, 366}));
    // Rewritten whole from the window; the odd widths go back as they were read.
    QCOMPARE(ReadFile(path),
             QByteArray("[VornForm]\r\nLeft=31\r\nTop=32\r\nWidth=700\r\nHeight=366\r\n\r\n"
                        "[FileListView]\r\nFileName=0\r\nError=-1\r\n\r\n"));
}

void MainSequenceTest::theLoopEndsWhenTheMainWindowClosesWhileADialogIsOpen() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vorn.ini");
    bool dialogWasOpen = false;
    const Run run = RunProgram(path.toStdString(), [&](TVornForm& form) {
        form.CheckDialog()->show();
        dialogWasOpen = form.CheckDialog()->isVisible();
    });
    QVERIFY(dialogWasOpen);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(ReadFile(path), kDefaultSettings);
}

void MainSequenceTest::settingsThatCannotBeWrittenEndWithTheUnhandledErrorBox_data() {
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("read-only file") << "read-only";
    QTest::newRow("folder in the way") << "folder";
}

void MainSequenceTest::settingsThatCannotBeWrittenEndWithTheUnhandledErrorBox() {
    QFETCH(QString, obstacle);
    QTemporaryDir dir;
    const QString path = dir.filePath("vorn.ini");
    const QByteArray original = "[VornForm]\nLeft=44\n";
    if (obstacle == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else {
        WriteFile(path, original);
        QCOMPARE(chmod(path.toLocal8Bit().constData(), 0444), 0);
    }
    int left = -1;
    const Run run =
        RunProgram(path.toStdString(), [&](TVornForm& form) { left = form.Bounds().left; });
    QVERIFY(run.mainFormSeen);
    QCOMPARE(left, obstacle == "folder" ? 0 : 44);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.box.shown);
    QCOMPARE(run.box.title, QString::fromUtf8("アプリケーション エラー"));
    QVERIFY2(run.box.text.startsWith("EFCreateError"), qPrintable(run.box.text));
    QVERIFY2(run.box.text.contains(path), qPrintable(run.box.text));
    QCOMPARE(run.box.icon, QMessageBox::Critical);
    QVERIFY(!run.box.hasParent);
    if (obstacle != "folder") {
        QCOMPARE(ReadFile(path), original);
    }
}

void MainSequenceTest::settingsThatCannotBeReadEndBeforeTheWindowShows() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vorn.ini");
    WriteFile(path, "[VornForm]\nLeft=44\n");
    QCOMPARE(chmod(path.toLocal8Bit().constData(), 0), 0);
    // Root reads any file: the program runs as an ordinary user, with the way to the file open.
    const bool asRoot = geteuid() == 0;
    QCOMPARE(chmod(dir.path().toLocal8Bit().constData(), 0755), 0);
    if (asRoot && seteuid(65534) != 0) {
        QSKIP("cannot act as another user");
    }
    const Run run = RunProgram(path.toStdString());
    if (asRoot) {
        QCOMPARE(seteuid(0), 0);
    }
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.mainFormSeen);
    QVERIFY(run.box.text.startsWith("EFOpenError"));
    QCOMPARE(chmod(path.toLocal8Bit().constData(), 0644), 0);
    QCOMPARE(ReadFile(path), QByteArray("[VornForm]\nLeft=44\n"));
}

QTEST_MAIN(MainSequenceTest)
#include "main_sequence_test.moc"
