// The built program ended by a signal that asks it to end: it closes as its Exit command closes
// it and writes its settings, whatever it is doing (listing and checking files, a check dialog
// open over the disabled main window). Run as a process of its own on the offscreen platform.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// What the settings file holds before the run: a comment and a section that the program does
// not keep, which a write of its settings drops.
const QByteArray kOldSettings = "; written by hand\r\n[Other]\r\nKey=1\r\n"
                                "[VornForm]\r\nLeft=10\r\nTop=20\r\nWidth=600\r\nHeight=400\r\n"
                                "[FileListView]\r\nFileName=333\r\nError=111\r\n";
const QByteArray kNewSettings = "[VornForm]\r\nLeft=10\r\nTop=20\r\nWidth=600\r\nHeight=400\r\n\r\n"
                                "[FileListView]\r\nFileName=333\r\nError=111\r\n\r\n";

QByteArray ProcFile(qint64 pid, const char* name) {
    QFile file(QString("/proc/%1/%2").arg(pid).arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// True once the process catches SIGHUP, SIGINT and SIGTERM.
bool Catches(qint64 pid) {
    for (const QByteArray& line : ProcFile(pid, "status").split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const qulonglong mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            const qulonglong wanted =
                (1ULL << (SIGHUP - 1)) | (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
            return (mask & wanted) == wanted;
        }
    }
    return false;
}

// True while one of the process's open files is a picture of the run (the check reads them).
bool ReadsAPicture(qint64 pid) {
    const QDir fds(QString("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(fd)).endsWith(".jpg")) {
            return true;
        }
    }
    return false;
}

// The processor time the process has used, in clock ticks.
qulonglong ProcessorTime(qint64 pid) {
    const QByteArray stat = ProcFile(pid, "stat");
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toULongLong() + fields[12].toULongLong() : 0;
}

} // namespace

class SignalCloseTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void signalClosesAsExitDoes_data();
    void signalClosesAsExitDoes();

private:
    // Enough files that a run takes a while, and one for a run that ends at once.
    QTemporaryDir m_pictures;
};

void SignalCloseTest::initTestCase() {
    QVERIFY(m_pictures.isValid());
    QDir(m_pictures.path()).mkdir("one");
    QDir(m_pictures.path()).mkdir("many");
    for (int i = 0; i < 1001; ++i) {
        QFile file(m_pictures.filePath(i == 0 ? "one/0.jpg" : QString("many/%1.jpg").arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xD8\xFF\xD9");
    }
}

void SignalCloseTest::signalClosesAsExitDoes_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("when"); // "start", "check" run, "dialog" open after the run
    for (const auto& [name, number] :
         {std::pair{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}}) {
        QTest::addRow("%s at start-up", name) << number << "start";
        QTest::addRow("%s during the check run", name) << number << "check";
        QTest::addRow("%s with the check dialog open", name) << number << "dialog";
    }
}

void SignalCloseTest::signalClosesAsExitDoes() {
    QFETCH(int, signal);
    QFETCH(QString, when);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath("vorn");
    QVERIFY(QFile::copy(QStringLiteral(VORN_EXECUTABLE), program));
    QFile settings(dir.filePath("vorn.ini"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(kOldSettings);
    settings.close();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, {"-a", m_pictures.filePath(when == "dialog" ? "one" : "many")});
    QVERIFY(process.waitForStarted());
    const qint64 pid = process.processId();
    QTRY_VERIFY_WITH_TIMEOUT(Catches(pid), 10000);
    if (when == "check") {
        // The check takes microseconds a file: the files are looked for without a pause. A
        // loaded machine can let the whole run pass unseen; the signal then finds the dialog
        // open, which must end the same way.
        QElapsedTimer waited;
        waited.start();
        while (!ReadsAPicture(pid) && waited.elapsed() < 5000) {
        }
    } else if (when == "dialog") {
        // The run is over and the program waits for input once it has used no processor time
        // for a while.
        qulonglong before = ProcessorTime(pid);
        for (int quiet = 0; quiet < 3;) {
            QTest::qWait(100);
            const qulonglong now = ProcessorTime(pid);
            quiet = now == before ? quiet + 1 : 0;
            before = now;
        }
    }
    ::kill(static_cast<pid_t>(pid), signal);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), kNewSettings);
}

QTEST_MAIN(SignalCloseTest)
#include "signal_close_test.moc"
