// The built program on a real X server without a window manager (frames have no margins there):
// a copy of the executable in a temporary folder, its settings file beside it, the window found
// and driven with xdotool and measured with xwininfo.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray kDefaultSettings =
    "[VornForm]\r\nLeft=0\r\nTop=0\r\nWidth=588\r\nHeight=366\r\n\r\n"
    "[FileListView]\r\nFileName=400\r\nError=160\r\n\r\n";

// Runs an X tool and returns its standard output; empty when it fails.
QString Tool(const QString& program, const QStringList& arguments, int timeoutMs = 15000) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// A copy of the program in its own folder.
class Program {
public:
    Program() {
        m_path = m_dir.filePath("vorn");
        QFile::copy(QStringLiteral(VORN_EXECUTABLE), m_path);
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~Program() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString SettingsPath() const { return m_dir.filePath("vorn.ini"); }
    QByteArray Settings() const {
        QFile file(SettingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Starts the program and waits for its main window; returns the window's id.
    QString Start() {
        m_process.setWorkingDirectory(m_dir.path());
        m_process.start(m_path, {});
        if (!m_process.waitForStarted()) {
            return {};
        }
        const QString found =
            Tool("xdotool", {"search", "--sync", "--onlyvisible", "--pid",
                             QString::number(m_process.processId()), "--name", "^Vorn 0\\.02$"});
        return found.split('\n', Qt::SkipEmptyParts).value(0);
    }
    // The window's outer bounds as the X server reports them.
    QRect Geometry(const QString& window) const {
        const QString info = Tool("xwininfo", {"-id", window});
        const auto field = [&](const char* name) {
            const QRegularExpression pattern(QString("%1:\\s*(-?\\d+)").arg(name));
            return pattern.match(info).captured(1).toInt();
        };
        return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                     field("Height"));
    }
    // Presses Esc in the window and waits for the program to end; returns its exit code.
    int PressEscAndWait(const QString& window) {
        Tool("xdotool", {"windowfocus", "--sync", window});
        Tool("xdotool", {"key", "--clearmodifiers", "Escape"});
        if (!m_process.waitForFinished(15000)) {
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QProcess m_process;
};

} // namespace

class ProgramXvfbTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void firstStartEscAndTheNextStartWhereTheWindowWasLeft();
};

void ProgramXvfbTest::initTestCase() {
    for (const char* tool : {"xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            QSKIP("xdotool and xwininfo are needed to drive the program");
        }
    }
}

void ProgramXvfbTest::firstStartEscAndTheNextStartWhereTheWindowWasLeft() {
    Program program;
    {
        // No settings file: the origin, the designed size; Esc ends the program, which leaves
        // the 95-byte file beside itself.
        const QString window = program.Start();
        QVERIFY(!window.isEmpty());
        QCOMPARE(program.Geometry(window), QRect(0, 0, 588, 366));
        QCOMPARE(program.PressEscAndWait(window), 0);
        QCOMPARE(program.Settings(), kDefaultSettings);
    }
    {
        // Moved and resized by the window system, then left with Esc.
        Program* const same = &program;
        const QString window = same->Start();
        QVERIFY(!window.isEmpty());
        Tool("xdotool", {"windowmove", "--sync", window, "210", "150"});
        Tool("xdotool", {"windowsize", "--sync", window, "640", "400"});
        QTRY_COMPARE(same->Geometry(window), QRect(210, 150, 640, 400));
        QCOMPARE(same->PressEscAndWait(window), 0);
        QCOMPARE(same->Settings(),
                 QByteArray("[VornForm]\r\nLeft=210\r\nTop=150\r\nWidth=640\r\nHeight=400\r\n\r\n"
                            "[FileListView]\r\nFileName=400\r\nError=160\r\n\r\n"));
    }
    {
        // The next start opens where the window was left.
        const QString window = program.Start();
        QVERIFY(!window.isEmpty());
        QCOMPARE(program.Geometry(window), QRect(210, 150, 640, 400));
        QCOMPARE(program.PressEscAndWait(window), 0);
    }
}

QTEST_MAIN(ProgramXvfbTest)
#include "program_xvfb_test.moc"
