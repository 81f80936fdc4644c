// The file list's rows: captions as bytes, state images, the per-state counts, the index of
// listed paths and the one-step clear.

#include <QAbstractItemModelTester>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

#include "forms/main/file_list_model.h"

class FileListModelTest : public QObject {
    Q_OBJECT

private slots:
    void rowsKeepTheirOrderAndShowCaptionAndErrorText();
    void captionsAreBytesShownAsUtf8();
    void headerAndFlags();
    void stateImagesDifferByState();
    void countsFollowEveryStateChange_data();
    void countsFollowEveryStateChange();
    void clearEmptiesRowsIndexAndCountsInOneReset();
    void listedPathsAreExactOnThisSystem();
    void rowAccessOutsideTheListThrows();
    void holdsAHundredThousandRows();
};

void FileListModelTest::rowsKeepTheirOrderAndShowCaptionAndErrorText() {
    TFileListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    QCOMPARE(model.AppendRow("b/2.jpg"), 0);
    QCOMPARE(model.AppendRow("a/1.jpg"), 1);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.index(0, TFileListModel::FileNameColumn).data().toString(), QString("b/2.jpg"));
    QCOMPARE(model.index(1, TFileListModel::FileNameColumn).data().toString(), QString("a/1.jpg"));
    // A new row is Unchecked with an empty error text.
    QCOMPARE(model.State(1), isUnchecked);
    QCOMPARE(model.index(1, TFileListModel::ErrorColumn).data().toString(), QString());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetState(1, isError);
    model.SetErrorText(1, "SOI");
    QCOMPARE(changed.count(), 2);
    QCOMPARE(model.index(1, TFileListModel::ErrorColumn).data().toString(), QString("SOI"));
    QCOMPARE(model.ErrorText(1), std::string("SOI"));
    QCOMPARE(model.State(1), isError);
    // The other row is untouched.
    QCOMPARE(model.State(0), isUnchecked);
}

void FileListModelTest::captionsAreBytesShownAsUtf8() {
    TFileListModel model;
    const std::string utf8 = "/photos/\xe5\x86\x99\xe7\x9c\x9f & co.jpg";
    const std::string latin1 = "/photos/caf\xe9.jpg"; // not UTF-8
    model.AppendRow(utf8);
    model.AppendRow(latin1);
    // The caption keeps every byte, whatever the display makes of them.
    QCOMPARE(model.Caption(0), utf8);
    QCOMPARE(model.Caption(1), latin1);
    QCOMPARE(model.index(0, 0).data().toString(), QString::fromUtf8(utf8.c_str()));
    QCOMPARE(model.index(1, 0).data().toString(), QString::fromUtf8("/photos/caf\xef\xbf\xbd.jpg"));
    // "&" is shown as it stands in the list.
    QVERIFY(model.index(0, 0).data().toString().contains(" & co"));
}

void FileListModelTest::headerAndFlags() {
    TFileListModel model;
    model.AppendRow("x.jpg");
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("File Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("Error"));
    for (int column = 0; column < 2; ++column) {
        const Qt::ItemFlags flags = model.flags(model.index(0, column));
        QVERIFY(flags.testFlag(Qt::ItemIsSelectable));
        QVERIFY(flags.testFlag(Qt::ItemIsEnabled));
        QVERIFY(!flags.testFlag(Qt::ItemIsEditable));
    }
}

void FileListModelTest::stateImagesDifferByState() {
    TFileListModel model;
    model.AppendRow("0.jpg");
    model.AppendRow("1.jpg");
    model.AppendRow("2.jpg");
    model.SetState(1, isNormal);
    model.SetState(2, isError);
    QList<QImage> images;
    for (int row = 0; row < 3; ++row) {
        const QPixmap image = model.index(row, 0).data(Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(image.size(), QSize(12, 12));
        images.append(image.toImage());
        // Only the caption column carries the image.
        QVERIFY(!model.index(row, 1).data(Qt::DecorationRole).isValid());
    }
    QVERIFY(images[0] != images[1]);
    QVERIFY(images[1] != images[2]);
    QVERIFY(images[0] != images[2]);
    // The corners are transparent: the images are drawn on nothing.
    for (const QImage& image : images) {
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    }
}

void FileListModelTest::countsFollowEveryStateChange_data() {
    QTest::addColumn<QList<int>>("states"); // the state each row ends in
    QTest::addColumn<int>("unchecked");
    QTest::addColumn<int>("normal");
    QTest::addColumn<int>("error");
    QTest::newRow("empty") << QList<int>{} << 0 << 0 << 0;
    QTest::newRow("one unchecked") << QList<int>{0} << 1 << 0 << 0;
    QTest::newRow("2 error, 1 normal, 2 unchecked") << QList<int>{2, 0, 1, 2, 0} << 2 << 1 << 2;
    QTest::newRow("all normal") << QList<int>{1, 1, 1} << 0 << 3 << 0;
}

void FileListModelTest::countsFollowEveryStateChange() {
    QFETCH(QList<int>, states);
    QFETCH(int, unchecked);
    QFETCH(int, normal);
    QFETCH(int, error);
    TFileListModel model;
    for (int row = 0; row < states.size(); ++row) {
        model.AppendRow(std::to_string(row) + ".jpg");
    }
    // Every row passes through both checked states before it ends in its own, as repeated
    // check runs move rows between Normal and Error.
    for (int row = 0; row < states.size(); ++row) {
        if (states[row] != isUnchecked) {
            model.SetState(row, isError);
            model.SetState(row, isNormal);
            model.SetState(row, static_cast<TItemState>(states[row]));
            model.SetState(row, static_cast<TItemState>(states[row])); // no change
        }
    }
    const vorn::StateCounts counts = model.Counts();
    QCOMPARE(static_cast<int>(counts.unchecked), unchecked);
    QCOMPARE(static_cast<int>(counts.normal), normal);
    QCOMPARE(static_cast<int>(counts.error), error);
    QCOMPARE(model.Count(), static_cast<int>(states.size()));
}

void FileListModelTest::clearEmptiesRowsIndexAndCountsInOneReset() {
    TFileListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.AppendRow("a.jpg");
    model.AppendRow("b.jpg");
    model.SetState(1, isError);
    const std::uint64_t generation = model.Generation();
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    model.Clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.IsListed("a.jpg"));
    QCOMPARE(model.Counts().unchecked, std::size_t{0});
    QCOMPARE(model.Counts().error, std::size_t{0});
    QVERIFY(model.Generation() != generation);

    // The emptied list takes the same paths again.
    QCOMPARE(model.AppendRow("a.jpg"), 0);
    QVERIFY(model.IsListed("a.jpg"));
    QCOMPARE(model.Counts().unchecked, std::size_t{1});
}

void FileListModelTest::listedPathsAreExactOnThisSystem() {
    TFileListModel model;
    model.AppendRow("dir/Photo.JPG");
    QVERIFY(model.IsListed("dir/Photo.JPG"));
    // Two names that differ in case are two files here; a prefix or another spelling of the
    // same folder is another path.
    QVERIFY(!model.IsListed("dir/photo.jpg"));
    QVERIFY(!model.IsListed("dir/Photo"));
    QVERIFY(!model.IsListed("./dir/Photo.JPG"));
    QVERIFY(!model.IsListed(""));
}

void FileListModelTest::rowAccessOutsideTheListThrows() {
    TFileListModel model;
    model.AppendRow("a.jpg");
    // A row that is gone (the list was emptied meanwhile) is a failure, never a stray read.
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, model.Caption(1));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, model.State(-1));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, model.SetState(5, isNormal));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, model.SetErrorText(1, "EOI"));
    QVERIFY(!model.index(3, 0).data().isValid());
}

void FileListModelTest::holdsAHundredThousandRows() {
    TFileListModel model;
    constexpr int kRows = 100000;
    for (int row = 0; row < kRows; ++row) {
        model.AppendRow("/big/" + std::to_string(row) + ".jpg");
    }
    QCOMPARE(model.rowCount(), kRows);
    QVERIFY(model.IsListed("/big/99999.jpg"));
    QCOMPARE(model.index(kRows - 1, 0).data().toString(), QString("/big/99999.jpg"));
    QCOMPARE(model.Counts().unchecked, std::size_t{kRows});
}

QTEST_MAIN(FileListModelTest)
#include "file_list_model_test.moc"
