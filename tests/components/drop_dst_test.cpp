// The file drop target on a real table view: drop acceptance, real drag and drop events sent to
// the viewport, the paths' bytes, and handlers that throw or take a second drop.

#include <QMimeData>
#include <QTableView>
#include <QWindow>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "components/drop_dst.h"
#include "report_closer.h"
#include "tests/support/temp_tree.h"

namespace {

struct ReceivedDrop {
    QObject* sender;
    std::vector<std::string> files;
    std::int32_t x;
    std::int32_t y;
};

// Records the drag and drop events that get past the drop target to the view.
class ViewSpy : public QObject {
public:
    std::vector<QEvent::Type> seen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
            event->type() == QEvent::Drop) {
            seen.push_back(event->type());
        }
        return QObject::eventFilter(watched, event);
    }
};

QByteArray FileUrl(const std::string& path) {
    return "file://" +
           QByteArray(path.data(), static_cast<qsizetype>(path.size())).toPercentEncoding("/");
}

QByteArray UriList(const std::vector<std::string>& paths) {
    QByteArray list;
    for (const std::string& path : paths) {
        list += FileUrl(path) + "\r\n";
    }
    return list;
}

struct DragOutcome {
    bool enterAccepted = false;
    bool moveAccepted = false;
    bool dropAccepted = false;
    Qt::DropAction dropAction = Qt::IgnoreAction;
};

// Enter, move and drop, in that order, at `point` in the target's coordinates.
DragOutcome DragAndDrop(QWidget* target, const QMimeData* mime, QPoint point,
                        Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
    DragOutcome outcome;
    QDragEnterEvent enter(point, actions, mime, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QCoreApplication::sendEvent(target, &enter);
    outcome.enterAccepted = enter.isAccepted();
    QDragMoveEvent move(point, actions, mime, Qt::LeftButton, Qt::NoModifier);
    move.ignore();
    QCoreApplication::sendEvent(target, &move);
    outcome.moveAccepted = move.isAccepted();
    QDropEvent drop(QPointF(point), actions, mime, Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QCoreApplication::sendEvent(target, &drop);
    outcome.dropAccepted = drop.isAccepted();
    outcome.dropAction = drop.dropAction();
    return outcome;
}

std::unique_ptr<QMimeData> UriMime(const QByteArray& uriList) {
    auto mime = std::make_unique<QMimeData>();
    mime->setData("text/uri-list", uriList);
    return mime;
}

// A form with a table view whose viewport is watched by a spy standing for the view's own
// handling, and a drop target on the table, loaded as the form's layout would load it.
struct Fixture {
    Fixture()
        : list(new QTableView(&form))
        , dropDst(new TDropDst(&form)) {
        form.resize(400, 300);
        list->setGeometry(0, 0, 400, 300);
        list->viewport()->installEventFilter(&spy);
        dropDst->OnFileDrop = [this](QObject* sender, const std::vector<std::string>& files,
                                     std::int32_t x, std::int32_t y) {
            drops.push_back({sender, files, x, y});
        };
        dropDst->SetControl(list);
        dropDst->SetTarget(htControl);
        dropDst->Loaded();
        form.show();
    }

    QWidget form;
    QTableView* list;
    TDropDst* dropDst;
    ViewSpy spy;
    std::vector<ReceivedDrop> drops;
};

} // namespace

class DropDstTest : public QObject {
    Q_OBJECT

private slots:
    void acceptanceFollowsAcceptDrop();
    void acceptanceAppliedToANewWindow();
    void dropOfFilesAndAFolder();
    void pathBytesSurvive();
    void uriListParsing_data();
    void uriListParsing();
    void dropsTheTargetDoesNotTake_data();
    void dropsTheTargetDoesNotTake();
    void dropWithoutHandler();
    void handlerThatThrows();
    void secondDropInsideTheHandler();
};

void DropDstTest::acceptanceFollowsAcceptDrop() {
    QWidget form;
    auto list = new QTableView(&form);
    TDropDst dropDst(&form);
    QVERIFY(dropDst.AcceptDrop());
    dropDst.SetControl(list);
    QVERIFY(!list->viewport()->acceptDrops()); // a write of Control applies nothing
    dropDst.Loaded();
    QVERIFY(list->viewport()->acceptDrops());

    dropDst.SetAcceptDrop(false);
    QVERIFY(!list->viewport()->acceptDrops());
    dropDst.SetAcceptDrop(true);
    QVERIFY(list->viewport()->acceptDrops());
    QVERIFY(!list->acceptDrops()); // the view itself is left alone

    // Writing the value it already has applies nothing.
    list->viewport()->setAcceptDrops(false);
    dropDst.SetAcceptDrop(true);
    QVERIFY(!list->viewport()->acceptDrops());
}

void DropDstTest::acceptanceAppliedToANewWindow() {
    QWidget form;
    form.resize(200, 200);
    auto control = new QWidget(&form);
    control->setAttribute(Qt::WA_NativeWindow);
    TDropDst dropDst(&form);
    dropDst.SetControl(control);
    dropDst.Loaded();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(control->acceptDrops());

    // Someone else withdrew acceptance; a new native window of the control gets it back.
    control->setAcceptDrops(false);
    control->hide();
    control->windowHandle()->destroy();
    control->show();
    QVERIFY(control->internalWinId() != 0);
    QVERIFY(control->acceptDrops());
}

void DropDstTest::dropOfFilesAndAFolder() {
    const TempTree tree;
    const std::vector<std::string> paths = {tree.Write("b.jpg"), tree.Folder("folder"),
                                            tree.Write("a.jpg")};

    Fixture fixture;
    const auto mime = UriMime(UriList(paths));
    const DragOutcome outcome = DragAndDrop(fixture.list->viewport(), mime.get(), {37, 55});

    QVERIFY(outcome.enterAccepted);
    QVERIFY(outcome.moveAccepted);
    QVERIFY(outcome.dropAccepted);
    QCOMPARE(outcome.dropAction, Qt::CopyAction); // never a move: the source keeps its files
    QCOMPARE(fixture.drops.size(), std::size_t(1));
    QCOMPARE(fixture.drops[0].sender, fixture.dropDst);
    QCOMPARE(fixture.drops[0].files, paths); // the source's order, folders as they are
    QCOMPARE(fixture.drops[0].x, 37);
    QCOMPARE(fixture.drops[0].y, 55);
    QVERIFY(fixture.spy.seen.empty());
}

void DropDstTest::pathBytesSurvive() {
    const TempTree tree;
    const std::vector<std::string> paths = {
        tree.Write("\xff\xfe latin1 \xe9t\xe9.jpg"), // not valid UTF-8
        tree.Write("100% #1? a+b\nnewline.jpg"),     // characters that mean something in a URL
        tree.Path(std::string(4000, 'x') + ".jpg"),  // far beyond any fixed buffer (never made)
    };

    Fixture fixture;
    const auto mime = UriMime(UriList(paths));
    DragAndDrop(fixture.list->viewport(), mime.get(), {1, 1});
    QCOMPARE(fixture.drops.size(), std::size_t(1));
    QCOMPARE(fixture.drops[0].files, paths);
}

void DropDstTest::uriListParsing_data() {
    QTest::addColumn<QByteArray>("uriList");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::newRow("empty") << QByteArray() << QByteArrayList{};
    QTest::newRow("LF, CRLF, no final line end")
        << QByteArray("file:///a\nfile:///b\r\nfile:///c") << QByteArrayList{"/a", "/b", "/c"};
    QTest::newRow("comments and blank lines")
        << QByteArray("# from a file manager\r\n\r\nfile:///a\r\n  \r\n#file:///b\r\n")
        << QByteArrayList{"/a"};
    QTest::newRow("localhost and no authority")
        << QByteArray("file://localhost/a\r\nFILE://LocalHost/b\r\nfile:/c\r\n")
        << QByteArrayList{"/a", "/b", "/c"};
    QTest::newRow("other hosts and schemes left out")
        << QByteArray("file://server/a\r\nhttp://example.com/b.jpg\r\nsmb://s/c\r\nfile:///d\r\n")
        << QByteArrayList{"/d"};
    QTest::newRow("query and fragment are not the path")
        << QByteArray("file:///a.jpg?x=1\r\nfile:///b.jpg#top\r\nfile:///c%3F%23.jpg\r\n")
        << QByteArrayList{"/a.jpg", "/b.jpg", "/c?#.jpg"};
    QTest::newRow("percent-decoded to bytes")
        << QByteArray("file:///%E3%81%82/%FF%20x.jpg\r\nfile:///raw\xe9.jpg\r\n")
        << QByteArrayList{"/\xe3\x81\x82/\xff x.jpg", "/raw\xe9.jpg"};
    QTest::newRow("a NUL names no file")
        << QByteArray("file:///a%00b.jpg\r\nfile:///c\r\n") << QByteArrayList{"/c"};
    QTest::newRow("relative or empty paths left out")
        << QByteArray("file:a.jpg\r\nfile://\r\nfile:\r\nfile://localhost\r\n") << QByteArrayList{};
}

void DropDstTest::uriListParsing() {
    QFETCH(QByteArray, uriList);
    QFETCH(QByteArrayList, expected);
    std::vector<std::string> expectedPaths;
    for (const QByteArray& path : expected) {
        expectedPaths.push_back(path.toStdString());
    }
    QCOMPARE(vorn::FilePathsOfUriList(uriList), expectedPaths);
}

void DropDstTest::dropsTheTargetDoesNotTake_data() {
    QTest::addColumn<bool>("acceptDrop");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("actions");
    const int copyMove = Qt::CopyAction | Qt::MoveAction;
    QTest::newRow("acceptance off") << false << "text/uri-list" << copyMove;
    QTest::newRow("no URL list") << true << "text/plain" << copyMove;
    QTest::newRow("move only") << true << "text/uri-list" << int(Qt::MoveAction);
}

void DropDstTest::dropsTheTargetDoesNotTake() {
    QFETCH(bool, acceptDrop);
    QFETCH(QString, format);
    QFETCH(int, actions);

    Fixture fixture;
    fixture.dropDst->SetAcceptDrop(acceptDrop);
    QMimeData mime;
    mime.setData(format, "file:///a.jpg\r\n");
    const DragOutcome outcome =
        DragAndDrop(fixture.list->viewport(), &mime, {5, 5}, static_cast<Qt::DropActions>(actions));
    QVERIFY(!outcome.enterAccepted);
    QVERIFY(!outcome.moveAccepted);
    QVERIFY(fixture.drops.empty());
}

void DropDstTest::dropWithoutHandler() {
    Fixture fixture;
    fixture.dropDst->OnFileDrop = nullptr;
    const auto mime = UriMime("file:///a.jpg\r\n");
    const DragOutcome outcome = DragAndDrop(fixture.list->viewport(), mime.get(), {5, 5});
    QVERIFY(outcome.dropAccepted);
    QVERIFY(fixture.spy.seen.empty());

    // An empty list still reaches a handler: it is a drop like any other.
    fixture.dropDst->OnFileDrop = [&fixture](QObject* sender, const std::vector<std::string>& files,
                                             std::int32_t x, std::int32_t y) {
        fixture.drops.push_back({sender, files, x, y});
    };
    const auto empty = UriMime("# nothing\r\n");
    DragAndDrop(fixture.list->viewport(), empty.get(), {5, 5});
    QCOMPARE(fixture.drops.size(), std::size_t(1));
    QVERIFY(fixture.drops[0].files.empty());
}

void DropDstTest::handlerThatThrows() {
    Fixture fixture;
    int calls = 0;
    std::vector<std::string> received;
    fixture.dropDst->OnFileDrop = [&](QObject*, const std::vector<std::string>& files, std::int32_t,
                                      std::int32_t) {
        if (++calls == 1) {
            throw std::runtime_error("Boom");
        }
        received = files;
    };

    ReportCloser closer;
    const auto first = UriMime("file:///first.jpg\r\n");
    const DragOutcome outcome = DragAndDrop(fixture.list->viewport(), first.get(), {5, 5});
    QVERIFY(outcome.dropAccepted);
    QCOMPARE(closer.reports.size(), std::size_t(1));
    QCOMPARE(closer.reports[0].text, QString("Boom."));
    QCOMPARE(closer.reports[0].icon, QMessageBox::Critical);

    const auto second = UriMime("file:///second.jpg\r\n");
    DragAndDrop(fixture.list->viewport(), second.get(), {5, 5});
    QCOMPARE(calls, 2);
    QCOMPARE(received, std::vector<std::string>{"/second.jpg"});
    QCOMPARE(closer.reports.size(), std::size_t(1));
    QVERIFY(fixture.spy.seen.empty());
}

void DropDstTest::secondDropInsideTheHandler() {
    // A handler that processes events can see the next drop arrive before it returns, and may
    // even replace the handler; neither may disturb the drop it is handling.
    Fixture fixture;
    std::vector<std::string> log;
    const auto inner = UriMime("file:///inner.jpg\r\n");
    std::vector<std::string> outerFilesAfterInner;
    fixture.dropDst->OnFileDrop = [&](QObject*, const std::vector<std::string>& files, std::int32_t,
                                      std::int32_t) {
        log.push_back("outer " + files.at(0));
        fixture.dropDst->OnFileDrop = [&](QObject*, const std::vector<std::string>& innerFiles,
                                          std::int32_t, std::int32_t) {
            log.push_back("inner " + innerFiles.at(0));
        };
        const DragOutcome nested = DragAndDrop(fixture.list->viewport(), inner.get(), {9, 9});
        log.push_back(nested.dropAccepted ? "inner accepted" : "inner refused");
        outerFilesAfterInner = files;
    };
    const auto outer = UriMime("file:///outer.jpg\r\n");
    DragAndDrop(fixture.list->viewport(), outer.get(), {5, 5});
    QCOMPARE(log,
             (std::vector<std::string>{"outer /outer.jpg", "inner /inner.jpg", "inner accepted"}));
    QCOMPARE(outerFilesAfterInner, std::vector<std::string>{"/outer.jpg"});
}

QTEST_MAIN(DropDstTest)
#include "drop_dst_test.moc"
