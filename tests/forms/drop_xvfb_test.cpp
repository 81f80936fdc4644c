// Files dropped on the list by another process, through the X server's own drag and drop: the
// test starts itself again as a drag source, drives a real pointer with xdotool from the source's
// window to the list, and waits for the rows.

#include <QDrag>
#include <QMimeData>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTableView>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "forms/check/check_form.h"
#include "forms/main/file_list_model.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"
#include "tests/support/temp_tree.h"

namespace {

constexpr char kSourceSwitch[] = "--drag-source";
// The source's window, at the screen's top left corner (there is no window manager to move it).
const QRect kSourceBounds(0, 0, 120, 120);

// The drag source: a window that starts a drag of the given URL list when the button goes down,
// offering a copy only, and reports on its standard output. The drag ends for the source when
// the drop has been sent, before the target has fetched the data: the source stays until its
// standard input is closed.
class DragSource : public QWidget {
public:
    explicit DragSource(QByteArray uriList)
        : m_uriList(std::move(uriList)) {
        setWindowFlags(Qt::FramelessWindowHint);
        setGeometry(kSourceBounds);
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto mime = new QMimeData;
        mime->setData("text/uri-list", m_uriList);
        // The drag lives on the heap: the source's loop may outlive this handler's frame.
        auto drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("dropped %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QByteArray m_uriList;
};

int RunDragSource(const QByteArray& uriList) {
    DragSource source(uriList);
    source.show();
    if (!QTest::qWaitForWindowExposed(&source)) {
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

class DropXvfbTest : public QObject {
    Q_OBJECT

private slots:
    void folderAndFilesDroppedFromAnotherProcess();
};

void DropXvfbTest::folderAndFilesDroppedFromAnotherProcess() {
    if (QGuiApplication::platformName() != "xcb") {
        QSKIP("needs a real X server");
    }
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    if (xdotool.isEmpty()) {
        QSKIP("needs xdotool");
    }

    const TempTree tree;
    const std::string root = tree.Root();
    tree.Write("album/b.jpg");
    tree.Write("album/a.jpg");
    tree.Write("album/notes.txt");
    tree.Write("one.jpeg");
    tree.Write("two \xff.jpg"); // a name that is not UTF-8
    const std::vector<std::string> dropped = {root + "/album", root + "/one.jpeg",
                                              root + "/two \xff.jpg"};
    QByteArray uriList;
    for (const std::string& path : dropped) {
        uriList += "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n";
    }

    auto form = new TVornForm;
    QPointer<TCheckForm> check = new TCheckForm(form);
    QPointer<TProgressForm> progress = new TProgressForm(form);
    form->AttachDialogs(check, progress);
    form->show();
    form->SetBounds({400, 100, 588, 366});
    QVERIFY(QTest::qWaitForWindowExposed(form));

    QProcess source;
    source.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    source.start(QCoreApplication::applicationFilePath(),
                 {kSourceSwitch, QString::fromLatin1(uriList)});
    QVERIFY(source.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(source.canReadLine(), 20000);
    QCOMPARE(source.readLine().trimmed(), QByteArray("ready"));

    // Press in the source's window, move in steps onto the list, let go.
    QWidget* const viewport = form->FileListView()->viewport();
    const QPoint target = viewport->mapToGlobal(viewport->rect().center());
    const QPoint start = kSourceBounds.center();
    QStringList steps = {"mousemove",
                         QString::number(start.x()),
                         QString::number(start.y()),
                         "sleep",
                         "0.3",
                         "mousedown",
                         "1",
                         "sleep",
                         "0.3"};
    for (int i = 1; i <= 6; ++i) {
        const QPoint at = start + (target - start) * i / 6;
        steps << "mousemove" << QString::number(at.x()) << QString::number(at.y()) << "sleep"
              << "0.2";
    }
    steps << "mouseup"
          << "1";
    QProcess pointer;
    pointer.setProcessChannelMode(QProcess::ForwardedChannels);
    pointer.start(xdotool, steps);
    QVERIFY(pointer.waitForStarted());

    QTRY_COMPARE_WITH_TIMEOUT(form->FileList()->Count(), 4, 20000);
    std::vector<std::string> captions;
    for (int row = 0; row < form->FileList()->Count(); ++row) {
        captions.push_back(form->FileList()->Caption(row));
    }
    QCOMPARE(captions, (std::vector<std::string>{root + "/album/a.jpg", root + "/album/b.jpg",
                                                 root + "/one.jpeg", root + "/two \xff.jpg"}));

    QTRY_VERIFY_WITH_TIMEOUT(pointer.state() == QProcess::NotRunning, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(source.canReadLine(), 20000);
    QCOMPARE(source.readLine().trimmed(), QByteArray("dropped 1")); // a copy, never a move
    source.closeWriteChannel();
    QVERIFY(source.waitForFinished(20000));

    delete check.data();
    delete progress.data();
    delete form;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == kSourceSwitch) {
        return RunDragSource(QByteArray(argv[2]));
    }
    DropXvfbTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "drop_xvfb_test.moc"
