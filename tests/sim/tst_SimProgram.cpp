// quadrel-sim as a program: the pty path as the first line, a working module behind it, the
// frame log file, --help, and refusal of a bad command line.

#include "SimTestHelpers.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class tst_SimProgram : public QObject
{
    Q_OBJECT

private slots:
    void servesAPtyAndLogsToAFile()
    {
        QTemporaryDir dir;
        const QString logFile = dir.filePath("frames.txt");
        QProcess sim;
        sim.start(QUADREL_SIM_PATH, {"--module", "16", "--foreign", "20:12", "--power-status", "0x8000", "--log",
                                     logFile, "--duration", "120"});
        QVERIFY(sim.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
        const QString path = QString::fromUtf8(sim.readLine()).trimmed();
        QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));

        TSimRawLine line(path.toStdString());
        QVERIFY(line.Ok());
        QCOMPARE(line.Exchange(WithCrc({16, 4, 0x90, 0x11, 0, 1})), WithCrc({16, 4, 2, 0x80, 0}));
        QCOMPARE(line.Exchange(WithCrc({20, 4, 0x90, 0x00, 0, 2})), WithCrc({20, 4, 4, 0, 12, 0, 1}));

        QTRY_VERIFY_WITH_TIMEOUT(
            QFile(logFile).size() > 0 &&
                [&] {
                    QFile f(logFile);
                    f.open(QIODevice::ReadOnly);
                    return f.readAll().count('\n') >= 4;
                }(),
            10000);
        QFile f(logFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines[0].contains("RX serial  10 04 90 11 00 01"), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains("TX serial  10 04 02 80 00"), qPrintable(lines[1]));

        // A console command on standard input switches a fault at run time.
        sim.write("silent on\n");
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += sim.readAll()).contains("ok: silent on\n"), 10000);
        QVERIFY(output.contains("modules: 16 20(type 12)\n"));
        QVERIFY(line.Exchange(WithCrc({16, 4, 0x90, 0x11, 0, 1}), 300).empty());

        sim.terminate(); // SIGTERM: a clean stop
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    // A megabyte typed or piped without a line end: the console answers once, briefly, holds no
    // more than a line's limit, and takes the next command.
    void consoleSurvivesAnEndlessLine()
    {
        QProcess sim;
        sim.start(QUADREL_SIM_PATH, {"--module", "16", "--duration", "120"});
        QVERIFY(sim.waitForStarted(10000));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += sim.readAllStandardOutput()).contains("modules:"), 10000);
        output.clear();
        const QByteArray junk(1 << 20, 'x');
        QCOMPARE(sim.write(junk), junk.size());
        sim.write("\nsilent on\n");
        QTRY_VERIFY_WITH_TIMEOUT((output += sim.readAllStandardOutput()).contains("ok: silent on\n"), 30000);
        QCOMPARE(output, QByteArray("error: line longer than 4096 bytes ignored\nok: silent on\n"));
        QCOMPARE(sim.state(), QProcess::Running);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
    }

    // The converter's faults from the command line: the first request lost, every answer twice
    // with 00 00 for its number.
    void converterFaultsFromTheCommandLine()
    {
        uint16_t port = 0;
        {
            TUdp probe("127.0.0.2", 0);
            QVERIFY(probe.Ok());
            port = probe.Port();
        }
        QProcess sim;
        sim.start(QUADREL_SIM_PATH,
                  {"--module", "16", "--no-serial", "--udp", QString("127.0.0.2:%1").arg(port), "--udp-no-echo",
                   "--udp-lose-first", "1", "--udp-duplicate", "3", "--duration", "120"});
        QVERIFY(sim.waitForStarted(10000));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += sim.readAllStandardOutput()).contains("modules:"), 10000);
        QVERIFY2(output.contains("converter on 127.0.0.2:" + QByteArray::number(port)), output.constData());

        TUdp panel("127.0.0.1", 0);
        const TSimBytes probe = WithCrc({16, 4, 0x90, 0x00, 0x00, 0x01});
        const TSimBytes header{0x10, 0x08, 0x00, 0x05, 0x10};
        TSimBytes request = header;
        request.insert(request.end(), probe.begin(), probe.end());
        panel.SendTo("127.0.0.2", port, request);
        QVERIFY(panel.Receive(300).empty());
        panel.SendTo("127.0.0.2", port, request);
        TSimBytes answer{0x10, 0x07, 0x00, 0x00, 0x10};
        const TSimBytes frame = WithCrc({16, 4, 2, 0, 73});
        answer.insert(answer.end(), frame.begin(), frame.end());
        QCOMPARE(panel.Receive(5000), answer);
        QCOMPARE(panel.Receive(5000), answer);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
    }

    void helpAndBadArguments()
    {
        QProcess help;
        help.start(QUADREL_SIM_PATH, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().contains("--foreign-sender"));

        QProcess bad;
        bad.start(QUADREL_SIM_PATH, {"--module", "300"});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--module"));
    }
};

QTEST_GUILESS_MAIN(tst_SimProgram)
#include "tst_SimProgram.moc"
