// Check Pictures: the rows take the picture rule's states and reasons, the run is the check
// dialog's, and Check All afterwards gives the marker texts back.

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/check/marker_check.h"
#include "core/check/memory_budget.h"
#include "core/jpeg/picture_decode.h"
#include "forms/picture/picture_form.h"
#include "tests/forms/run_fixture.h"

namespace {

std::string Suite(const char* name) {
    return std::string(VORN_DAMAGE_SUITE) + "/" + name;
}

} // namespace

class PicturesTest : public QObject {
    Q_OBJECT

private slots:
    void checkPictures();
    void anotherRunTakesOver();
    void saveReport_data();
    void saveReport();
    void copyPath();
    void showPicture_data();
    void showPicture();
    void showPictureFollowsTheSelection();
    void showPictureDecodesAgainWhenTheWindowGrows_data();
    void showPictureDecodesAgainWhenTheWindowGrows();
    void showPictureWaitsForMemory_data();
    void showPictureWaitsForMemory();
};

void PicturesTest::checkPictures() {
    struct Row {
        std::string path;
        TItemState state;
        QString reasonStart;
    };
    const std::vector<Row> rows = {
        {Suite("baseline-zeroed-tail.jpg"), isError, "zeros from byte "},
        {Suite("baseline-huffman-counts.jpg"), isError, "bad Huffman table at byte "},
        {Suite("baseline-trailer-video.jpg"), isNormal, "followed by "},
        {Suite("baseline-trailer-padding.jpg"), isNormal, "followed by "},
        {Suite("hostile-huge-declared.jpg"), isError, "too large to verify: "},
        {std::string(VORN_INTACT_JPEGS) + "/baseline.jpg", isNormal, ""},
        {Suite("no-such-file.jpg"), isError, "File open error"},
    };
    Forms forms;
    TempTree tree;
    std::vector<std::string> paths;
    for (const Row& row : rows) {
        // The missing file is listed and then removed, as a file deleted after listing.
        paths.push_back(row.path == Suite("no-such-file.jpg") ? tree.Write("gone.jpg") : row.path);
    }
    forms.form->AddFiles(paths);
    QCOMPARE(forms.list().Count(), int(rows.size()));
    QVERIFY(std::remove(tree.Path("gone.jpg").c_str()) == 0);

    forms.form->MenuCheckPicturesClick();

    QVERIFY(forms.check->isVisible());
    QCOMPARE(forms.check->CheckedNumLabel()->text(), QString::number(rows.size()));
    QCOMPARE(forms.check->NormalNumLabel()->text(), QString("3"));
    QCOMPARE(forms.check->ErrorNumLabel()->text(), QString("4"));
    QCOMPARE(forms.form->StatusPanelText(2), QString("C: 3"));
    QCOMPARE(forms.form->StatusPanelText(3), QString("E: 4"));
    for (int i = 0; i < int(rows.size()); ++i) {
        QCOMPARE(forms.list().State(i), rows[std::size_t(i)].state);
        const QString text = QString::fromStdString(forms.list().ErrorText(i));
        QVERIFY2(text.startsWith(rows[std::size_t(i)].reasonStart) &&
                     (rows[std::size_t(i)].reasonStart.isEmpty() == text.isEmpty()),
                 qPrintable(text));
    }

    // Each row's reason is its tooltip and what a screen reader reads.
    const auto reason = [&](int row, Qt::ItemDataRole role) {
        return forms.list().data(forms.list().index(row, 1), role).toString();
    };
    QVERIFY(reason(0, Qt::ToolTipRole).startsWith("The picture is damaged: zeros from byte "));
    QCOMPARE(reason(0, Qt::AccessibleDescriptionRole), reason(0, Qt::ToolTipRole));
    QVERIFY(reason(6, Qt::ToolTipRole).endsWith("it no longer exists."));

    forms.check->OkButton()->click();
    forms.form->MenuCheckAllClick();
    QVERIFY2(
        reason(0, Qt::ToolTipRole).startsWith("The file does not end with the end marker FF D9: "),
        qPrintable(reason(0, Qt::ToolTipRole)));
    for (int i = 0; i < int(rows.size()); ++i) {
        const vorn::MarkerVerdict verdict = vorn::CheckMarkers(forms.list().Caption(i));
        QCOMPARE(forms.list().ErrorText(i), std::string(vorn::VerdictErrorText(verdict)));
        QCOMPARE(forms.list().State(i),
                 verdict == vorn::MarkerVerdict::Normal ? isNormal : isError);
    }
}

// The user closes the dialog in the middle of a Check Pictures run and starts Check All: the
// later run owns the rows and the figures, and the first one stops.
void PicturesTest::anotherRunTakesOver() {
    Forms forms;
    std::vector<std::string> paths;
    for (const char* name : {"baseline-zeroed-tail.jpg", "grey-zeroed-tail.jpg",
                             "cmyk-zeroed-tail.jpg", "restart-zeroed-tail.jpg"}) {
        paths.push_back(Suite(name));
    }
    forms.form->AddFiles(paths);
    RunProbe probe([&] {
        if (forms.check->CheckedNumLabel()->text() != "2") {
            return true;
        }
        forms.check->OkButton()->click();
        forms.form->MenuCheckAllClick();
        return false;
    });

    forms.form->MenuCheckPicturesClick();

    QCOMPARE(forms.check->CheckedNumLabel()->text(), QString("4"));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(forms.list().ErrorText(i), std::string("EOI"));
    }
}

// Save Report writes what vorn-check prints for the same list and check: the damage suite's
// folder, walked by both.
void PicturesTest::saveReport_data() {
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("check all, tab-separated") << false << "report.txt" << QStringList{"--explain"};
    QTest::newRow("check pictures, tab-separated") << true << "report.txt" << QStringList{"--deep"};
    QTest::newRow("check pictures, JSON lines")
        << true << "report.json" << QStringList{"--deep", "--json"};
}

void PicturesTest::saveReport() {
    QFETCH(bool, pictures);
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    Forms forms;
    TempTree tree;
    forms.form->AddFiles({VORN_DAMAGE_SUITE});
    QVERIFY(forms.list().Count() > 50);
    if (pictures) {
        forms.form->CheckPictures();
    } else {
        forms.form->CheckAll();
    }
    const std::string report = tree.Path(name.toStdString());
    tree.Write(name.toStdString(), "an older report\n");

    forms.form->SaveReport(report);

    QProcess check;
    check.start(VORN_CHECK_PROGRAM, options << VORN_DAMAGE_SUITE);
    QVERIFY(check.waitForFinished(60000));
    const QByteArray expected = check.readAllStandardOutput();
    std::ifstream file(report, std::ios::binary);
    std::stringstream written;
    written << file.rdbuf();
    QCOMPARE(QByteArray::fromStdString(written.str()), expected);
}

// Copy Path: the name as text, and as a file URI that keeps bytes that are not UTF-8.
void PicturesTest::copyPath() {
    Forms forms;
    TempTree tree;
    const std::string path = tree.Write("caf\xE9 photo.jpg");
    forms.form->AddFiles({path});
    forms.form->FileListView()->selectRow(0);

    forms.form->CopyPathClick();

    const QMimeData* const data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data != nullptr);
    const QByteArray encoded = QByteArray::fromStdString(path).toPercentEncoding("/");
    QCOMPARE(data->data("text/uri-list"), "file://" + encoded + "\r\n");
    QVERIFY(data->text().endsWith(" photo.jpg"));
}

namespace {

// Waits for the picture window to show the decode of the file it was given.
bool WaitForPicture(TPictureForm* picture) {
    return QTest::qWaitFor([picture] { return !picture->Decoding(); }, 10000);
}

} // namespace

void PicturesTest::showPicture_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("picture");
    QTest::addColumn<bool>("marked");
    QTest::addColumn<QString>("reasonStart");
    QTest::newRow("intact") << QString(VORN_INTACT_JPEGS "/baseline.jpg") << true << false
                            << "no fault found";
    QTest::newRow("zeroed") << QString(VORN_DAMAGE_SUITE "/baseline-zeroed-tail.jpg") << true
                            << true << "zeros from byte ";
    QTest::newRow("cut short") << QString(VORN_DAMAGE_SUITE "/progressive-truncated.jpg") << true
                               << true << "cut short at byte ";
    QTest::newRow("hostile") << QString(VORN_DAMAGE_SUITE "/hostile-huge-declared.jpg") << false
                             << false << "too large to verify: 64250 × 64250 declared";
}

// Show Picture from the menu: the picture, the mark over its damaged rows (and none
// over the rows above them), the name, size and reason in the label; Esc closes the window.
void PicturesTest::showPicture() {
    QFETCH(QString, file);
    QFETCH(bool, picture);
    QFETCH(bool, marked);
    QFETCH(QString, reasonStart);
    Forms forms;
    forms.form->AddFiles({file.toStdString()});
    forms.form->FileListView()->selectRow(0);
    forms.form->findChild<QAction*>("MenuShowPicture")->trigger();

    TPictureForm* const window = forms.form->PictureForm();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QVERIFY(WaitForPicture(window));
    QCOMPARE(!window->Picture().isNull(), picture);
    QCOMPARE(window->FirstDamagedRow().has_value(), marked);
    const QStringList lines = window->InfoLabel()->text().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(file.section('/', -1)), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith(reasonStart), qPrintable(lines[1]));
    if (marked) {
        const QImage& image = window->Picture();
        const int row = *window->FirstDamagedRow();
        QVERIFY(row > 0 && row < image.height());
        // The mark is red over what is below it; the first row is as decoded.
        const QColor below = image.pixelColor(image.width() / 2, image.height() - 1);
        QVERIFY2(below.red() > below.green() + 40, qPrintable(below.name()));
    }

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
    QVERIFY(!window->isVisible());
}

// While open, the window shows the selected row's picture; a decode that is overtaken by
// another selection never shows.
void PicturesTest::showPictureFollowsTheSelection() {
    Forms forms;
    forms.form->AddFiles(
        {VORN_DAMAGE_SUITE "/baseline-zeroed-tail.jpg", VORN_INTACT_JPEGS "/grey.jpg"});
    forms.form->FileListView()->selectRow(0);
    forms.form->MenuShowPictureClick();
    TPictureForm* const window = forms.form->PictureForm();
    QSignalSpy shown(window, &TPictureForm::PictureShown);
    forms.form->FileListView()->selectRow(1);
    QCOMPARE(window->FilePath(), std::string(VORN_INTACT_JPEGS "/grey.jpg"));
    QVERIFY(WaitForPicture(window));
    QTest::qWait(50);
    QCOMPARE(shown.count(), 1);
    QVERIFY(window->InfoLabel()->text().startsWith("grey.jpg"));
    QVERIFY(!window->FirstDamagedRow());
}

void PicturesTest::showPictureDecodesAgainWhenTheWindowGrows_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("to");
    QTest::addColumn<bool>("again");
    const QString intact(VORN_INTACT_JPEGS "/baseline.jpg");
    QTest::newRow("maximised") << intact << QSize(1200, 900) << true;
    QTest::newRow("a little larger, the same scale") << intact << QSize(206, 180) << false;
    QTest::newRow("smaller") << intact << QSize(120, 100) << false;
    QTest::newRow("damaged, larger")
        << QString(VORN_DAMAGE_SUITE "/baseline-zeroed-tail.jpg") << QSize(700, 600) << true;
}

// A window that grows past what its picture's scale serves decodes it again at a larger one,
// once, a moment after the last resize, showing the smaller picture meanwhile; a window that
// shrinks, or grows within the scale, keeps the picture it has.
void PicturesTest::showPictureDecodesAgainWhenTheWindowGrows() {
    QFETCH(QString, file);
    QFETCH(QSize, to);
    QFETCH(bool, again);
    TPictureForm window;
    window.resize(200, 180);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.ShowFile(file.toStdString());
    QVERIFY(WaitForPicture(&window));
    const QImage first = window.Picture();
    QVERIFY(first.width() > 0 && first.width() < 640);
    const std::optional<int> firstMark = window.FirstDamagedRow();
    QSignalSpy shown(&window, &TPictureForm::PictureShown);

    // Resized in steps, as a user drags: one decode after the last of them.
    for (int step = 1; step <= 4; ++step) {
        window.resize(QSize(200, 180) + (to - QSize(200, 180)) * step / 4);
        QCoreApplication::processEvents();
        QCOMPARE(window.Picture().width(), first.width());
    }
    if (!again) {
        QTest::qWait(TPictureForm::kRedecodeDelayMs * 3);
        QCOMPARE(shown.count(), 0);
        QVERIFY(!window.Decoding());
        QCOMPARE(window.Picture().width(), first.width());
        return;
    }
    QVERIFY(QTest::qWaitFor([&] { return shown.count() > 0; }, 10000));
    QTest::qWait(TPictureForm::kRedecodeDelayMs * 2);
    QCOMPARE(shown.count(), 1);
    const QImage& better = window.Picture();
    QVERIFY2(better.width() > first.width(), qPrintable(QString::number(better.width())));
    QCOMPARE(firstMark.has_value(), window.FirstDamagedRow().has_value());
    if (firstMark) {
        // The mark is where it was, in the larger picture's rows.
        QVERIFY(std::abs(*window.FirstDamagedRow() * first.height() -
                         *firstMark * better.height()) <= 16 * better.height());
    }
    QVERIFY(window.InfoLabel()->text().startsWith(file.section('/', -1) + "   640 × 400\n"));
}

void PicturesTest::showPictureWaitsForMemory_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("memory given back") << "given back";
    QTest::newRow("another file meanwhile") << "another file";
    QTest::newRow("closed meanwhile") << "closed";
}

// The window's decode holds its memory from the budget the picture checks share: it waits for
// memory other checks hold, and is not left waiting when the user moves on.
void PicturesTest::showPictureWaitsForMemory() {
    QFETCH(QString, how);
    vorn::MemoryBudget budget(64u << 20);
    vorn::MemoryBudget::Hold others = budget.Acquire(budget.Total() - 1000);
    auto window = std::make_unique<TPictureForm>(budget);
    window->show();
    window->ShowFile(VORN_INTACT_JPEGS "/baseline.jpg");
    QVERIFY(QTest::qWaitFor(
        [&] { return window->InfoLabel()->text() == "baseline.jpg\nwaiting for memory..."; },
        10000));
    QVERIFY(window->Decoding());
    if (how == "closed") {
        window.reset();
        QCOMPARE(others.Bytes(), budget.Total() - 1000);
        return;
    }
    if (how == "another file") {
        window->ShowFile(VORN_INTACT_JPEGS "/grey.jpg");
        QVERIFY(QTest::qWaitFor(
            [&] { return window->InfoLabel()->text() == "grey.jpg\nwaiting for memory..."; },
            10000));
    }
    others.Release();
    QVERIFY(WaitForPicture(window.get()));
    QVERIFY(!window->Picture().isNull());
    QVERIFY(window->InfoLabel()->text().endsWith("\nno fault found"));
    QVERIFY(window->InfoLabel()->text().startsWith(how == "another file" ? "grey.jpg"
                                                                         : "baseline.jpg"));
    QVERIFY(budget.Peak() <= budget.Total());
}

QTEST_MAIN(PicturesTest)
#include "pictures_test.moc"
