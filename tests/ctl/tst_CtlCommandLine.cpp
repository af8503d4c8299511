// quadrelctl's command line as written in scripts: options before and after the command word,
// the network command's own settings, and where the module is found when the line does not say.

#include "ctl/uCtlCommandLine.h"
#include "ctl/uCtlTarget.h"
#include "tests/TestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

class TestCtlCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void optionsStandBeforeOrAfterTheCommand();
    void networkTakesItsOwnSettingsAfterTheWord();
    void helpAndVersionAnswerBesideAMistake();
    void pwmTakesParametersOrDurations_data();
    void pwmTakesParametersOrDurations();
    void connectionFromOptionsFile_data();
    void connectionFromOptionsFile();
};

namespace {

TzCtlParseResult Parse(const QString &aLine)
{
    return ParseCtlCommandLine(aLine.split(u' ', Qt::SkipEmptyParts));
}

} // namespace

void TestCtlCommandLine::optionsStandBeforeOrAfterTheCommand()
{
    for (const QString &line : {QStringLiteral("--port /dev/ttyUSB0 --baud 19200 --addr 17 on 3 20 --no-verify"),
                                QStringLiteral("on --no-verify 3 --port=/dev/ttyUSB0 20 --addr=17 --baud 19200")}) {
        const TzCtlParseResult result = Parse(line);
        QCOMPARE(result.Outcome, TzCtlParse::Run);
        const TzCtlRequest &request = result.Request;
        QCOMPARE(request.Command, TzCtlCommand::On);
        QCOMPARE(request.Outputs, (std::vector<int>{3, 20}));
        QCOMPARE(request.Verify, false);
        QCOMPARE(request.Target.Port.value_or(QString()), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(request.Target.BaudRate.value_or(0), 19200);
        QCOMPARE(request.Target.Address.value_or(0), 17);
    }
    // "--" ends the options: what follows is taken as words.
    QCOMPARE(Parse(QStringLiteral("off -- -1")).Outcome, TzCtlParse::Mistake);
}

void TestCtlCommandLine::networkTakesItsOwnSettingsAfterTheWord()
{
    const TzCtlParseResult result = Parse(
        QStringLiteral("--addr 16 --baud 9600 --udp 10.0.0.5 network --addr 20 --baud 115200 --format 8n2"));
    QCOMPARE(result.Outcome, TzCtlParse::Run);
    const TzCtlRequest &request = result.Request;
    QCOMPARE(request.Target.Address.value_or(0), 16);
    QCOMPARE(request.Target.BaudRate.value_or(0), 9600);
    QCOMPARE(request.Target.UdpHost.value_or(QString()), QStringLiteral("10.0.0.5"));
    QVERIFY(!request.Target.UdpPort);
    QCOMPARE(request.Network.Address.value_or(0), 20);
    QCOMPARE(request.Network.BaudRate.value_or(0), 115200);
    QCOMPARE(request.Network.FormatItem.value_or(-1), 3);
    QVERIFY(!request.Network.TimeoutSec);
}

void TestCtlCommandLine::helpAndVersionAnswerBesideAMistake()
{
    QCOMPARE(Parse(QStringLiteral("on 99 --help")).Outcome, TzCtlParse::Help);
    QVERIFY(Parse(QStringLiteral("-h")).Text.contains(QStringLiteral("scan [--all-speeds]")));
    QCOMPARE(Parse(QStringLiteral("-v")).Outcome, TzCtlParse::Version);
    // A mistake before the help option is reported, as the words are read in order.
    QCOMPARE(Parse(QStringLiteral("--bogus --help")).Outcome, TzCtlParse::Mistake);
}

void TestCtlCommandLine::pwmTakesParametersOrDurations_data()
{
    // A line, and a word of its mistake's message (empty for a valid line).
    static const char *const cases[][2] = {
        {"pwm 1 --unit 240 --period 36000 --fill 1000", ""},
        {"pwm 20 --closed 250 --open 250", ""},
        {"pwm 2 --closed 0 --open 500", ""},
        {"pwm 2 --closed 0 --open 499", "499"},
        {"pwm 2 --unit 1 --period 50 --fill 0 --closed 250 --open 250", "либо"},
        {"pwm 2 --unit 0 --period 50 --fill 0", "--unit"},
        {"pwm 2 --unit 1 --period 49 --fill 0", "--period"},
        {"pwm 2 --unit 1 --period 50 --fill -1", "--fill"},
        {"pwm 2 --open 500", "--closed"},
        {"pwm 2 3 --closed 250 --open 250", "номер выхода"},
    };
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("mistake");
    for (const auto &[line, mistake] : cases)
        QTest::newRow(line) << QString::fromUtf8(line) << QString::fromUtf8(mistake);
}

void TestCtlCommandLine::pwmTakesParametersOrDurations()
{
    QFETCH(QString, line);
    QFETCH(QString, mistake);
    const TzCtlParseResult result = Parse(line);
    QCOMPARE(result.Outcome, mistake.isEmpty() ? TzCtlParse::Run : TzCtlParse::Mistake);
    QVERIFY2(result.Text.contains(mistake), qPrintable(result.Text));
}

void TestCtlCommandLine::connectionFromOptionsFile_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("timeout");
    const QByteArray serial = "<options><comport indx=\"3\" name=\"/dev/ttyUSB1\" addr=\"21\" baudrate=\"19200\" "
                              "format=\"2\"/><ethernet active=\"0\" host=\"10.0.0.5\" port=\"4001\" timeout=\"300\" "
                              "addr=\"22\" format=\"0\"/></options>";
    QByteArray ethernet = serial;
    ethernet.replace("active=\"0\"", "active=\"1\"");
    QTest::newRow("serial page of the panel") << "status" << serial << true << "порт /dev/ttyUSB1" << 21 << 400;
    QTest::newRow("the line overrides the address")
        << "--addr 5 status" << serial << true << "порт /dev/ttyUSB1" << 5 << 400;
    QTest::newRow("converter page of the panel")
        << "status" << ethernet << true << "преобразователь 10.0.0.5:4001" << 22 << 300;
    QTest::newRow("a named port ignores the file")
        << "--port /dev/ttyS0 status" << ethernet << true << "порт /dev/ttyS0" << 16 << 400;
    QTest::newRow("a named converter, default port")
        << "--udp 10.1.1.1 status" << serial << true << "преобразователь 10.1.1.1:40000" << 16 << 200;
    QTest::newRow("no file") << "status" << QByteArray() << false << "" << 0 << 0;
    QTest::newRow("corrupt file") << "status" << QByteArray("<options><comport") << false << "" << 0 << 0;
    QTest::newRow("converter wait 20") << "--udp 10.1.1.1 --timeout 20 status" << serial << false << "" << 0 << 0;
    QTest::newRow("serial time-out below the speed's") << "--timeout 10 status" << serial << false << "" << 0 << 0;
}

void TestCtlCommandLine::connectionFromOptionsFile()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, options);
    QFETCH(bool, valid);
    QFETCH(QString, where);
    QFETCH(int, address);
    QFETCH(int, timeout);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("Options.xml"));
    if (!options.isEmpty())
        WriteText(file, options);
    const TzCtlParseResult parsed = Parse(line);
    QCOMPARE(parsed.Outcome, TzCtlParse::Run);
    TzCtlConnection connection;
    QString mistake;
    QCOMPARE(ResolveCtlConnection(parsed.Request.Target, file, connection, mistake), valid);
    if (!valid) {
        QVERIFY(!mistake.isEmpty());
        return;
    }
    QCOMPARE(connection.Where, where);
    QCOMPARE(connection.Link.Address, address);
    QCOMPARE(connection.TimeoutMs, timeout);
    QVERIFY(!connection.Link.FirstCycleAndPoll);
    QVERIFY(connection.Link.ProbeWaitMs >= 1000);
    if (!connection.Link.ByEthernet)
        QCOMPARE(int(connection.Link.Timeouts.ReadTotalTimeoutConstant), timeout);
}

QTEST_GUILESS_MAIN(TestCtlCommandLine)
#include "tst_CtlCommandLine.moc"
