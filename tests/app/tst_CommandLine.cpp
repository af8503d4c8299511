// The command line: the words "test" and "/autorun", the options, help, version and mistakes, both
// as parsed and as the built program answers them; and the program's names.

#include "app/uCommandLine.h"
#include "app/uProgramInfo.h"

#include <QApplication>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void mistakesAreNamed_data();
    void mistakesAreNamed();
    void programAnswers_data();
    void programAnswers();
    void screenshotSaysWhyItFailed_data();
    void screenshotSaysWhyItFailed();
    void programIdentity();
};

void TestCommandLine::parses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("testMode");
    QTest::addColumn<bool>("autorun");
    QTest::addColumn<bool>("demo");
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QString>("screenshot");
    QTest::addColumn<int>("after");
    QTest::newRow("nothing") << QStringList{} << false << false << false << false << "" << 1500;
    QTest::newRow("test") << QStringList{"test"} << true << false << false << false << "" << 1500;
    QTest::newRow("autorun first") << QStringList{"/autorun"} << false << true << false << false << "" << 1500;
    QTest::newRow("autorun then test") << QStringList{"/autorun", "test"} << true << true << false << false << ""
                                       << 1500;
    QTest::newRow("autorun not first") << QStringList{"test", "/autorun"} << true << false << false << false << ""
                                       << 1500;
    QTest::newRow("demo connect") << QStringList{"--demo", "--connect"} << false << false << true << true << "" << 1500;
    QTest::newRow("screenshot") << QStringList{"--screenshot", "a.png", "--after", "4000"} << false << false << false
                                << false << "a.png" << 4000;
    // Other words are passed over: only the exact words count.
    QTest::newRow("TEST is not test") << QStringList{"TEST"} << false << false << false << false << "" << 1500;
    QTest::newRow("AUTORUN is not autorun")
        << QStringList{"/AUTORUN"} << false << false << false << false << "" << 1500;
    QTest::newRow("screenshot with =") << QStringList{"--screenshot=b.png", "test"} << true << false << false << false
                                       << "b.png" << 1500;
}

void TestCommandLine::parses()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, testMode);
    QFETCH(bool, autorun);
    QFETCH(bool, demo);
    QFETCH(bool, connect);
    QFETCH(QString, screenshot);
    QFETCH(int, after);
    const TzCommandLineResult result = ParseCommandLine(QStringList{"quadrel-panel"} + arguments);
    QVERIFY2(result.Action == TzCommandLineAction::Run, qPrintable(result.Text));
    QCOMPARE(result.Options.TestMode, testMode);
    QCOMPARE(result.Options.Autorun, autorun);
    QCOMPARE(result.Options.Demo, demo);
    QCOMPARE(result.Options.Connect, connect);
    QCOMPARE(result.Options.Screenshot, screenshot);
    QCOMPARE(result.Options.ScreenshotAfterMs, after);
    QVERIFY(!CommandLineAsksForText(QStringList{"quadrel-panel"} + arguments));
}

void TestCommandLine::mistakesAreNamed_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "неизвестный параметр «--bogus»";
    QTest::newRow("unknown short option") << QStringList{"test", "-x"} << "неизвестный параметр «-x»";
    QTest::newRow("missing value") << QStringList{"--screenshot"} << "параметру «--screenshot» нужно значение";
    QTest::newRow("after not a number") << QStringList{"--after", "soon"}
                                        << "«--after» ждёт число миллисекунд, получено «soon»";
}

void TestCommandLine::mistakesAreNamed()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const TzCommandLineResult result = ParseCommandLine(QStringList{"quadrel-panel"} + arguments);
    QVERIFY(result.Action == TzCommandLineAction::Fail);
    QCOMPARE(result.Text, QStringLiteral("quadrel-panel: %1\nСправка: quadrel-panel --help\n").arg(message));
    QCOMPARE(CommandLineErrorExit, 2);
}

void TestCommandLine::programAnswers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("errors");
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "quadrel-panel " + ProgramVersion() + "\n" << "";
    QTest::newRow("-v") << QStringList{"-v"} << 0 << "quadrel-panel " + ProgramVersion() + "\n" << "";
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Использование: quadrel-panel" << "";
    QTest::newRow("-h beside a mistake") << QStringList{"--bogus", "-h"} << 0 << "Использование: quadrel-panel" << "";
    QTest::newRow("--bogus") << QStringList{"--bogus"} << 2 << ""
                             << "quadrel-panel: неизвестный параметр «--bogus»\n";
    // With a toolkit option on the line the mistake is named once the window system has taken it.
    QTest::newRow("-platform then --bogus") << QStringList{"-platform", "offscreen", "--bogus"} << 2 << ""
                                            << "quadrel-panel: неизвестный параметр «--bogus»\n";
}

void TestCommandLine::programAnswers()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, errors);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // As a new user at a terminal without a display: text answers need no window system.
    for (const char *display : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(display));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QUADREL_PANEL_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    if (output.isEmpty())
        QVERIFY2(out.isEmpty(), qPrintable(out));
    else
        QVERIFY2(out.startsWith(output), qPrintable(out));
    QVERIFY2(err.contains(errors), qPrintable(err));
    if (arguments.contains(QStringLiteral("--help"))) {
        // Every option is listed, and both words.
        for (const char *listed :
             {"--help", "--version", "--demo", "--connect", "--screenshot ФАЙЛ", "--after МС", "/autorun", "test"})
            QVERIFY2(out.contains(QString::fromUtf8(listed)), listed);
    }
}

void TestCommandLine::screenshotSaysWhyItFailed_data()
{
    QTest::addColumn<QString>("target"); // inside a fresh folder
    QTest::addColumn<QString>("reason"); // empty: the picture is saved
    QTest::newRow("writable folder") << "shot.png" << "";
    QTest::newRow("missing folder") << "missing/shot.png" << "папки «%1/missing» нет";
    QTest::newRow("read-only folder") << "locked/shot.png" << "нет права записи в папку «%1/locked»";
    QTest::newRow("path is a folder") << "folder.png" << "по этому пути находится папка";
    QTest::newRow("no format") << "shot" << "формат не указан";
}

void TestCommandLine::screenshotSaysWhyItFailed()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    QVERIFY(QDir(root).mkdir(QStringLiteral("locked")));
    QVERIFY(QDir(root).mkdir(QStringLiteral("folder.png")));
    // Readable by anyone, so that the program can also run as an unprivileged user below.
    QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile::setPermissions(root + QStringLiteral("/locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                                | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QString path = root + u'/' + target;

    QString program = QStringLiteral(QUADREL_PANEL_PROGRAM);
    QStringList arguments{QStringLiteral("--screenshot"), path, QStringLiteral("--after"), QStringLiteral("0")};
    if (target.startsWith(QStringLiteral("locked/")) && ::geteuid() == 0) {
        // Permissions do not hold for root: the program runs as nobody, as an operator would.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv: a read-only folder cannot be made");
        arguments = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                QStringLiteral("--clear-groups"), program}
                    + arguments;
        program = setpriv;
    }
    QProcess panel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    panel.setProcessEnvironment(environment);
    panel.start(program, arguments);
    QVERIFY(panel.waitForFinished(60000));
    const QString errors = QString::fromUtf8(panel.readAllStandardError());
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    if (reason.isEmpty()) {
        QCOMPARE(panel.exitCode(), 0);
        QCOMPARE(QImageReader(path).format(), QByteArray("png"));
        QVERIFY(!QImageReader(path).read().isNull());
        return;
    }
    QCOMPARE(panel.exitCode(), 1);
    const QString why = reason.contains(QStringLiteral("%1")) ? reason.arg(root) : reason;
    const QString line = QStringLiteral("quadrel-panel: снимок окна не сохранён в «%1»: %2").arg(path, why);
    QVERIFY2(errors.contains(line), qPrintable(errors));
    // Nothing is left behind, not even a partly written file.
    QCOMPARE(QDir(root + QStringLiteral("/locked")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{});
    QCOMPARE(QDir(root).entryList(QDir::Files), QStringList{});
}

void TestCommandLine::programIdentity()
{
    ApplyProgramIdentity();
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("quadrel-panel"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Панель управления Quadrel"));
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("quadrel-panel"));
    QCOMPARE(QCoreApplication::applicationVersion(), ProgramVersion());
    QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(ProgramVersion()).hasMatch());
    QVERIFY(!ProgramIcon().isNull());
}

QTEST_MAIN(TestCommandLine)

#include "tst_CommandLine.moc"
