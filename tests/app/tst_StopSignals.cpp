// The program stopped from outside: SIGTERM (shutdown, kill), SIGINT (Ctrl+C) and SIGHUP
// (logout) end the real quadrel-panel the way closing its window does, with the output
// descriptions saved and the settings intact, while it is connected to its demo module; and a
// signal that comes while a notice is open closes the notice too.

#include "app/uStopSignals.h"
#include "panel/uProjectFile.h"
#include "settings/uOptionsFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

namespace {

constexpr int StartPatience = 60000;
// A hang bound only: the program normally ends well within a second.
constexpr int EndBound = 10000;

QStringList ThreadNames(qint64 aPid)
{
    QStringList names;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(aPid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromUtf8(comm.readAll()).trimmed();
    }
    return names;
}

// The line engine's worker thread has started: the panel is connecting or connected.
bool LineEngineRuns(qint64 aPid)
{
    const QStringList names = ThreadNames(aPid);
    return std::any_of(names.begin(), names.end(), [](const QString &aName) {
        return aName == QLatin1String("QThread") || aName.startsWith(QLatin1String("TzFreePort"));
    });
}

// The port the demo selected, once the panel has saved it.
QString SavedPort(const QString &aOptionsFile)
{
    TzStoredOptions stored;
    if (ReadOptions(aOptionsFile, stored) != TzOptionsRead::Valid || !stored.Name)
        return {};
    return *stored.Name;
}

} // namespace

class TestStopSignals : public QObject
{
    Q_OBJECT

private slots:
    void endsLikeClosingTheWindow_data();
    void endsLikeClosingTheWindow();
    void openNoticeClosesToo();
};

void TestStopSignals::endsLikeClosingTheWindow_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestStopSignals::endsLikeClosingTheWindow()
{
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString settings = dir.filePath(QStringLiteral("settings"));
    const QString optionsFile = settings + QStringLiteral("/Options.xml");
    const QString projectFile = settings + QStringLiteral("/Projects/DefaultProject.xml");
    QVERIFY(QDir().mkpath(settings + QStringLiteral("/Projects")));
    TzProjectHints hints;
    hints[2] = QStringLiteral("Насос подпитки");
    hints[16] = QStringLiteral("Вентилятор <щита> & \"шкафа\"");
    QString error;
    QVERIFY2(WriteProjectFile(projectFile, hints, &error), qPrintable(error));

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUADREL_SETTINGS_DIR"), settings);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    program.setProcessEnvironment(environment);
    // As from an operator's terminal: a test run in the background must not pass on its ignored
    // SIGINT and SIGHUP, which the program would rightly keep ignoring.
    program.setChildProcessModifier([] {
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGHUP, SIG_DFL);
    });
    program.start(QStringLiteral(QUADREL_PANEL_PROGRAM), {QStringLiteral("--demo"), QStringLiteral("--connect")});
    QVERIFY(program.waitForStarted(StartPatience));

    // Running: the demo's port is selected (and saved at once), and the line engine works.
    QTRY_VERIFY_WITH_TIMEOUT(SavedPort(optionsFile).startsWith(QStringLiteral("/dev/pts/")), StartPatience);
    const QString port = SavedPort(optionsFile);
    QTRY_VERIFY_WITH_TIMEOUT(LineEngineRuns(program.processId()), StartPatience);
    // The descriptions now exist only in the running panel: only its way out can write them.
    QVERIFY(QFile::remove(projectFile));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
    const bool ended = program.waitForFinished(EndBound);
    qInfo("%s: the program ended %lld ms after the signal", QTest::currentDataTag(),
          static_cast<long long>(clock.elapsed()));
    if (!ended) {
        program.kill();
        program.waitForFinished(EndBound);
        QFAIL("the program did not end after the signal");
    }
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    TzStoredHints stored;
    QVERIFY(ReadProjectFile(projectFile, stored));
    for (int n = 0; n < 20; ++n)
        QCOMPARE(stored[size_t(n)].value_or(QStringLiteral("(none)")), hints[size_t(n)]);
    QCOMPARE(SavedPort(optionsFile), port);
    // Every save was completed: no temporary file is left beside the settings, and the journal
    // was closed properly (its write-ahead log folded in and removed).
    QCOMPARE(QDir(settings).entryList(QDir::Files),
             (QStringList{QStringLiteral("Journal.sqlite"), QStringLiteral("Options.xml")}));
    QCOMPARE(QDir(settings + QStringLiteral("/Projects")).entryList(QDir::Files),
             QStringList{QStringLiteral("DefaultProject.xml")});
}

void TestStopSignals::openNoticeClosesToo()
{
    struct sigaction inherited = {};
    QCOMPARE(::sigaction(SIGTERM, nullptr, &inherited), 0);
    if (inherited.sa_handler == SIG_IGN)
        QSKIP("SIGTERM is ignored in this test's environment");
    TzStopSignals stopSignals;
    QVERIFY(stopSignals.Watching());
    QSignalSpy stops(&stopSignals, &TzStopSignals::StopRequested);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QMessageBox notice(QMessageBox::Warning, QStringLiteral("Уведомление"),
                       QStringLiteral("Выбранный СОМ-порт занят или недоступен"), QMessageBox::Ok, &window);
    // The signal comes while the notice waits for the operator, in the notice's own event loop.
    QTimer::singleShot(100, this, [] { ::raise(SIGTERM); });
    QTimer::singleShot(EndBound, &notice, [&notice] { notice.reject(); }); // a hang bound only
    QElapsedTimer clock;
    clock.start();
    notice.exec();
    qInfo("the notice closed %lld ms after it opened", static_cast<long long>(clock.elapsed()));
    QCOMPARE(stops.size(), 1);
    QCOMPARE(stops.front().front().toInt(), int(SIGTERM));
    QVERIFY(stopSignals.Requested());
    QVERIFY(!window.isVisible());
    QVERIFY(clock.elapsed() < EndBound);
}

QTEST_MAIN(TestStopSignals)
#include "tst_StopSignals.moc"
