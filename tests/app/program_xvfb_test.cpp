// The built program on a real X server without a window manager (frames have no margins there):
// a copy of the executable in a temporary folder, its settings file beside it, the window found
// and driven with xdotool and measured with xwininfo.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
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

    QString FilePath(const char* name) const { return m_dir.filePath(name); }
    bool Running() const { return m_process.state() != QProcess::NotRunning; }

    // Starts the program and waits for its main window; returns the window's id.
    QString Start(const QStringList& arguments = {}) {
        m_process.setWorkingDirectory(m_dir.path());
        // Its messages go to the test's output (and an unread pipe could hold it up).
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(m_path, arguments);
        if (!m_process.waitForStarted()) {
            return {};
        }
        const QString found =
            Tool("xdotool", {"search", "--sync", "--all", "--onlyvisible", "--pid",
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
    // Presses Esc in the window until the program ends (a key sent before the window has
    // taken the focus is lost); returns its exit code. Under a window manager the window is
    // activated through it first.
    int PressEscAndWait(const QString& window, bool windowManager = false) {
        for (int attempt = 0; attempt < 40 && m_process.state() != QProcess::NotRunning;
             ++attempt) {
            if (windowManager) {
                Tool("xdotool", {"windowactivate", "--sync", window});
            }
            Tool("xdotool", {"windowfocus", "--sync", window});
            Tool("xdotool", {"key", "--clearmodifiers", "Escape"});
            m_process.waitForFinished(500);
        }
        if (m_process.state() != QProcess::NotRunning) {
            return -1;
        }
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }
    // Presses Esc wherever the keyboard is, without activating any window, until the check
    // dialog is gone; true when it went while the program went on.
    bool EscClosesTheCheckDialog() {
        const QStringList search = {"search",
                                    "--all",
                                    "--onlyvisible",
                                    "--pid",
                                    QString::number(m_process.processId()),
                                    "--name",
                                    "^Vorn check dialog$"};
        QStringList waitForIt = search;
        waitForIt.insert(1, "--sync");
        if (Tool("xdotool", waitForIt).isEmpty()) {
            return false;
        }
        for (int attempt = 0; attempt < 40 && Running(); ++attempt) {
            Tool("xdotool", {"key", "--clearmodifiers", "Escape"});
            m_process.waitForFinished(250);
            if (Tool("xdotool", search).isEmpty()) {
                return Running();
            }
        }
        return false;
    }
    void WriteSettings(const QByteArray& text) const {
        QFile file(SettingsPath());
        if (file.open(QIODevice::WriteOnly)) {
            file.write(text);
        }
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
    void checkDialogTakesTheKeyboard();
    void parametersNamedLikeToolkitOptionsArePaths();
    // Last: it runs a window manager on the display.
    void boundsHoldUnderAWindowManager();
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

// With the switch a the check runs at start-up and its dialog stays open with the main window
// disabled: the first Esc closes the dialog, the next one the program.
void CheckDialogTakesTheKeyboard(bool windowManager) {
    Program program;
    QFile file(program.FilePath("sound.jpg"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromHex("FFD8FFD9"));
    file.close();
    const QString window = program.Start({"-a", file.fileName()});
    QVERIFY(!window.isEmpty());
    QVERIFY(program.EscClosesTheCheckDialog());
    QCOMPARE(program.PressEscAndWait(window, windowManager), 0);
}

void ProgramXvfbTest::checkDialogTakesTheKeyboard() {
    CheckDialogTakesTheKeyboard(false);
}

// Every parameter is a path: one that is spelt like an option of the toolkit (here the one that
// would retitle the first window) changes nothing in the program.
void ProgramXvfbTest::parametersNamedLikeToolkitOptionsArePaths() {
    Program program;
    const QString window = program.Start({"-qwindowtitle", "x.jpg"});
    QVERIFY(!window.isEmpty());
    QCOMPARE(program.PressEscAndWait(window), 0);
}

void ProgramXvfbTest::boundsHoldUnderAWindowManager() {
    if (QStandardPaths::findExecutable("openbox").isEmpty() ||
        QStandardPaths::findExecutable("xprop").isEmpty()) {
        QSKIP("openbox and xprop are needed for a window manager's frame");
    }
    QProcess manager;
    manager.setStandardOutputFile(QProcess::nullDevice());
    manager.setStandardErrorFile(QProcess::nullDevice());
    manager.start("openbox", {});
    QVERIFY(manager.waitForStarted());
    const auto stopManager = qScopeGuard([&] {
        manager.kill();
        manager.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        Tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"), 15000);
    // The frame comes after the window is mapped; the outer bounds read from the file are the
    // bounds written at exit, so they do not creep from one run to the next.
    const QByteArray settings =
        "[VornForm]\r\nLeft=100\r\nTop=80\r\nWidth=600\r\nHeight=400\r\n\r\n"
        "[FileListView]\r\nFileName=400\r\nError=160\r\n\r\n";
    Program program;
    program.WriteSettings(settings);
    for (int run = 0; run < 2; ++run) {
        const QString window = program.Start();
        QVERIFY(!window.isEmpty());
        QCOMPARE(program.PressEscAndWait(window, true), 0);
        QCOMPARE(program.Settings(), settings);
    }
    CheckDialogTakesTheKeyboard(true);
}

QTEST_MAIN(ProgramXvfbTest)
#include "program_xvfb_test.moc"
