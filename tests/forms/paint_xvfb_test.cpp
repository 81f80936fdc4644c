// What reaches the screen: the pixels the X server holds for each window, read back from the root
// window, against what the widget draws of itself. A window that was never painted shows there
// what lay behind it (the desktop, the main window's list), however right its widgets are.

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <string>
#include <vector>

#include <unistd.h>

#include "forms/dialog_lock.h"
#include "tests/forms/run_fixture.h"

namespace {

constexpr int kFiles = 400;
// How long a window is on screen before its pixels are read: many times the interval at which a
// run lets its window paint.
constexpr qint64 kSettleMs = 200;

// The part of the pixels the X server shows for the window that are what the window draws of
// itself, from 0 to 1.
double ShownShare(QWidget* window) {
    const QRect area = window->geometry();
    const QImage shown = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    // A run holds the window's updates off between its paints, and a widget whose updates are off
    // draws nothing of itself.
    const bool updatesEnabled = window->updatesEnabled();
    window->setUpdatesEnabled(true);
    const QImage drawn = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    window->setUpdatesEnabled(updatesEnabled);
    if (shown.size() != drawn.size() || shown.isNull()) {
        return 0;
    }
    qint64 same = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            same += a[x] == b[x] ? 1 : 0;
        }
    }
    return double(same) / double(qint64(shown.width()) * shown.height());
}

bool Exposed(QWidget* window) {
    return window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed();
}

// Reads the window's pixels during a run, once it has been on screen for a while; every step of
// the run is slowed down so that the run outlasts that while. -1 when the run ended first.
class ShareDuringRun {
public:
    explicit ShareDuringRun(QWidget* window)
        : m_probe([this, window] {
            ::usleep(1000);
            if (!Exposed(window)) {
                return true;
            }
            if (!m_sinceExposed.isValid()) {
                m_sinceExposed.start();
            }
            if (m_sinceExposed.elapsed() < kSettleMs) {
                return true;
            }
            m_share = ShownShare(window);
            return false;
        }) {}
    double Share() const { return m_share; }

private:
    QElapsedTimer m_sinceExposed;
    double m_share = -1;
    RunProbe m_probe;
};

// Lets the window settle after a run and reads its pixels.
double ShareAfterRun(QWidget* window) {
    if (!QTest::qWaitFor([window] { return Exposed(window); })) {
        return 0;
    }
    QTest::qWait(kSettleMs);
    return ShownShare(window);
}

} // namespace

class PaintXvfbTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void windowsShowWhatTheyDraw_data();
    void windowsShowWhatTheyDraw();
};

void PaintXvfbTest::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        QSKIP("needs a real X server");
    }
}

void PaintXvfbTest::windowsShowWhatTheyDraw_data() {
    QTest::addColumn<QString>("window"); // "progress", "check", "main"
    QTest::addColumn<bool>("duringRun");
    // A read during a run may find figures that changed since the last paint, a few digits of the
    // window; after the run the window shows its last state whole.
    QTest::addColumn<double>("least");
    QTest::newRow("progress dialog while files are added") << "progress" << true << 0.8;
    QTest::newRow("check dialog while the files are checked") << "check" << true << 0.8;
    QTest::newRow("check dialog after the run") << "check" << false << 0.999;
    QTest::newRow("main window after the run, dialog closed") << "main" << false << 0.999;
}

void PaintXvfbTest::windowsShowWhatTheyDraw() {
    QFETCH(QString, window);
    QFETCH(bool, duringRun);
    QFETCH(double, least);

    TempTree tree;
    std::vector<std::string> paths;
    for (int i = 0; i < kFiles; ++i) {
        paths.push_back(tree.Write("f" + std::to_string(1000 + i) + ".jpg"));
    }
    paths.push_back(tree.Write("damaged.jpg", "\xFF\xD8"));
    Forms forms;
    QVERIFY(QTest::qWaitForWindowExposed(forms.form));

    double share = -1;
    if (window == "progress") {
        const ShareDuringRun during(forms.progress);
        forms.form->AddFiles(paths);
        share = during.Share();
    } else {
        forms.form->AddFiles(paths);
        if (duringRun) {
            const ShareDuringRun during(forms.check);
            forms.form->CheckAll();
            share = during.Share();
        } else {
            forms.form->CheckAll();
            share = ShareAfterRun(forms.check);
            if (window == "main") {
                forms.check->close();
                QTRY_VERIFY(!IsMainFormLocked(forms.form));
                share = ShareAfterRun(forms.form);
            }
        }
    }
    QVERIFY2(share >= 0, "the run ended before its window had been on screen for a while");
    QVERIFY2(share >= least, qPrintable(QString("%1% of the window's pixels on screen are what it "
                                                "draws")
                                            .arg(share * 100, 0, 'f', 1)));
}

QTEST_MAIN(PaintXvfbTest)
#include "paint_xvfb_test.moc"
