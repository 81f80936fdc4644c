// The application object and the exception report: an exception that escapes an event handler
// is shown once, in a critical message box with OK, and the program goes on.

#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

#include <stdexcept>

#include "components/application.h"
#include "components/exception_report.h"
#include "core/base/exceptions.h"
#include "report_closer.h"

namespace {

class ThrowingButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void mousePressEvent(QMouseEvent*) override { throw vorn::Exception("Mouse failed"); }
};

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT

private slots:
    void reportShowsTitleAndText_data();
    void reportShowsTitleAndText();
    void nothingToReport();
    void exceptionFromATimerSlot();
    void exceptionFromAnEventHandler();
    void exceptionFromASignalHandler();
};

void ApplicationTest::reportShowsTitleAndText_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("std::exception, full stop added") << 0 << "Disk is full.";
    QTest::newRow("ends in a full stop already") << 1 << "Done.";
    QTest::newRow("not a std::exception") << 2 << "不明な例外が発生しました。";
    // A message that names a file may hold what looks like markup; it is shown as it is.
    QTest::newRow("looks like markup") << 3 << "Cannot read <b>a&amp;b</b>.jpg.";
}

void ApplicationTest::reportShowsTitleAndText() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    ReportCloser closer;
    try {
        switch (kind) {
        case 0:
            throw std::runtime_error("Disk is full");
        case 1:
            throw vorn::Exception("Done.");
        case 3:
            throw std::runtime_error("Cannot read <b>a&amp;b</b>.jpg");
        default:
            throw 42;
        }
    } catch (...) {
        ReportException(this);
    }
    QCOMPARE(closer.reports.size(), std::size_t(1));
    // The title is the executable's name up to its first dot.
    QCOMPARE(closer.reports[0].title, QString("components_application_test"));
    QCOMPARE(closer.reports[0].text, text);
    QCOMPARE(closer.reports[0].icon, QMessageBox::Critical);
    QCOMPARE(closer.reports[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(closer.reports[0].format, Qt::PlainText);
}

void ApplicationTest::nothingToReport() {
    ReportCloser closer;
    ReportException(this, nullptr);
    QVERIFY(closer.reports.empty());
}

void ApplicationTest::exceptionFromATimerSlot() {
    ReportCloser closer;
    bool after = false;
    QTimer::singleShot(0, this, [] { throw std::runtime_error("From a timer"); });
    QTimer::singleShot(0, this, [&after] { after = true; });
    QTRY_VERIFY(after);
    QCOMPARE(closer.reports.size(), std::size_t(1));
    QCOMPARE(closer.reports[0].text, QString("From a timer."));
}

void ApplicationTest::exceptionFromAnEventHandler() {
    ReportCloser closer;
    ThrowingButton button("Press");
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(closer.reports.size(), std::size_t(1));
    QCOMPARE(closer.reports[0].text, QString("Mouse failed."));

    // The program goes on: the same window still takes events.
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(closer.reports.size(), std::size_t(2));
}

void ApplicationTest::exceptionFromASignalHandler() {
    ReportCloser closer;
    QPushButton button("Press");
    int clicks = 0;
    connect(&button, &QPushButton::clicked, this, [&clicks] {
        if (++clicks == 1) {
            throw std::runtime_error("Handler failed");
        }
    });
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(clicks, 2);
    QCOMPARE(closer.reports.size(), std::size_t(1));
    QCOMPARE(closer.reports[0].text, QString("Handler failed."));
}

// An exception that crosses Qt's own frames skips their clean-up (Qt is built without it), so
// each escaped exception strands a few bytes of the event being delivered. That is the price of
// letting the program go on; a sanitizer build is told so for these tests only.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6Core.so\nleak:libQt6Gui.so\n";
}

int main(int argc, char** argv) {
    // One application object per process: the tests share it.
    TApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "application_test.moc"
