// The command line of quadrel-sim and the commands it takes while it runs.

#include "sim/uSimConsole.h"
#include "sim/uSimOptions.h"

#include <QtTest>

namespace {

bool Parse(const QStringList &aArgs, TzSimOptions &aOptions, std::string &aError)
{
    std::vector<std::string> args;
    for (const QString &arg : aArgs)
        args.push_back(arg.toStdString());
    return SimParseOptions(args, aOptions, aError);
}

} // namespace

class tst_SimOptions : public QObject
{
    Q_OBJECT

private slots:
    void defaults()
    {
        TzSimOptions o;
        std::string error;
        QVERIFY(Parse({}, o, error));
        QCOMPARE(o.Modules, std::vector<uint8_t>({16}));
        QVERIFY(o.Serial);
        QVERIFY(o.Device.empty());
        QVERIFY(!o.Udp);
        QVERIFY(!o.Firmware);
        QCOMPARE(o.Faults.AnswerDelayMs, 0);
    }

    void everything()
    {
        TzSimOptions o;
        std::string error;
        QVERIFY2(Parse({"--module",
                        "16",
                        "--module",
                        "17",
                        "--foreign",
                        "20:12",
                        "--firmware",
                        "100",
                        "--id",
                        "0x0102,0x0304,0x0506",
                        "--power-status",
                        "0x8000",
                        "--device",
                        "/dev/ttyUSB1",
                        "--baud",
                        "19200",
                        "--format",
                        "8E1",
                        "--udp",
                        "127.0.0.5:4001",
                        "--log",
                        "f.txt",
                        "--delay",
                        "300",
                        "--stale",
                        "2:900",
                        "--foreign-sender",
                        "before",
                        "--type2",
                        "instead",
                        "--silent",
                        "--corrupt-crc",
                        "--corrupt-crc-percent",
                        "10",
                        "--duration",
                        "5"},
                       o, error),
                 error.c_str());
        QCOMPARE(o.Modules, std::vector<uint8_t>({16, 17}));
        QCOMPARE(o.Faults.CorruptCrcPercent, 10);
        QCOMPARE(o.Foreign.size(), size_t(1));
        QCOMPARE(o.Foreign[0], std::make_pair(uint8_t(20), uint16_t(12)));
        QCOMPARE(*o.Firmware, uint16_t(100));
        QCOMPARE((*o.Identifier)[2], uint16_t(0x0506));
        QCOMPARE(*o.PowerStatus, uint16_t(0x8000));
        QCOMPARE(o.Device, std::string("/dev/ttyUSB1"));
        QCOMPARE(o.BaudRate, 19200);
        QCOMPARE(o.Parity, 'E');
        QCOMPARE(o.StopBits, 1);
        QVERIFY(o.Udp);
        QCOMPARE(o.UdpHost, std::string("127.0.0.5"));
        QCOMPARE(o.UdpPort, uint16_t(4001));
        QCOMPARE(o.LogFile, std::string("f.txt"));
        QCOMPARE(o.Faults.AnswerDelayMs, 300);
        QCOMPARE(o.Faults.StaleCount, 2);
        QCOMPARE(o.Faults.StaleDelayMs, 900);
        QCOMPARE(o.Faults.ForeignSender, TzSimDecoy::Before);
        QCOMPARE(o.Faults.Type2, TzSimDecoy::Instead);
        QCOMPARE(o.Faults.Version2, TzSimDecoy::Off);
        QVERIFY(o.Faults.Silent);
        QVERIFY(o.Faults.CorruptCrc);
        QCOMPARE(o.DurationSec, 5);
    }

    void converterFaults()
    {
        TzSimOptions o;
        std::string error;
        QVERIFY(Parse({"--udp", "4001"}, o, error));
        QVERIFY(!o.UdpNoEcho);
        QCOMPARE(o.Faults.LoseFirstCount, 0);
        QCOMPARE(o.Faults.LossPercent, 0);
        QCOMPARE(o.Faults.DuplicateAfterMs, -1);
        QVERIFY(!o.Faults.Reorder);
        QVERIFY2(Parse({"--udp", "4001", "--udp-no-echo", "--udp-lose-first", "2", "--udp-loss", "25",
                        "--udp-duplicate", "3", "--udp-reorder"},
                       o, error),
                 error.c_str());
        QVERIFY(o.UdpNoEcho);
        QCOMPARE(o.Faults.LoseFirstCount, 2);
        QCOMPARE(o.Faults.LossPercent, 25);
        QCOMPARE(o.Faults.DuplicateAfterMs, 3);
        QVERIFY(o.Faults.Reorder);
        QVERIFY(Parse({"--udp", "4001", "--udp-duplicate", "0"}, o, error));
        QCOMPARE(o.Faults.DuplicateAfterMs, 0);
    }

    void udpPortAlone()
    {
        TzSimOptions o;
        std::string error;
        QVERIFY(Parse({"--no-serial", "--udp", "40000"}, o, error));
        QVERIFY(!o.Serial);
        QCOMPARE(o.UdpHost, std::string("127.0.0.2"));
        QCOMPARE(o.UdpPort, uint16_t(40000));
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown option") << QStringList{"--frobnicate"};
        QTest::newRow("stray argument") << QStringList{"16"};
        QTest::newRow("address 0") << QStringList{"--module", "0"};
        QTest::newRow("address 248") << QStringList{"--module", "248"};
        QTest::newRow("foreign of type 73") << QStringList{"--foreign", "20:73"};
        QTest::newRow("foreign without type") << QStringList{"--foreign", "20"};
        QTest::newRow("format 7N1") << QStringList{"--format", "7N1"};
        QTest::newRow("udp port 0") << QStringList{"--udp", "127.0.0.2:0"};
        QTest::newRow("nothing to serve") << QStringList{"--no-serial"};
        QTest::newRow("decoy mode") << QStringList{"--version2", "sometimes"};
        QTest::newRow("stale without delay") << QStringList{"--stale", "3"};
        QTest::newRow("identifier of two words") << QStringList{"--id", "1,2"};
        QTest::newRow("firmware 70000") << QStringList{"--firmware", "70000"};
        QTest::newRow("delay text") << QStringList{"--delay", "soon"};
        QTest::newRow("corrupt share 150") << QStringList{"--corrupt-crc-percent", "150"};
        QTest::newRow("loss 101") << QStringList{"--udp-loss", "101"};
        QTest::newRow("lose first -1") << QStringList{"--udp-lose-first", "-1"};
        QTest::newRow("duplicate text") << QStringList{"--udp-duplicate", "soon"};
        QTest::newRow("duplicate without delay") << QStringList{"--udp-duplicate"};
    }
    void refused()
    {
        QFETCH(QStringList, args);
        TzSimOptions o;
        std::string error;
        QVERIFY(!Parse(args, o, error));
        QVERIFY(!error.empty());
    }

    void helpNamesEveryOption()
    {
        const QString help = QString::fromStdString(SimHelpText());
        QVERIFY(help.startsWith("Usage: quadrel-sim [options]"));
        for (const char *option : {"--module",
                                   "--foreign",
                                   "--firmware",
                                   "--hardware",
                                   "--id",
                                   "--power-status",
                                   "--supply",
                                   "--noise",
                                   "--device",
                                   "--baud",
                                   "--format",
                                   "--any-speed",
                                   "--no-serial",
                                   "--udp",
                                   "--foreign-address",
                                   "--log",
                                   "--delay",
                                   "--silent",
                                   "--corrupt-crc",
                                   "--corrupt-crc-percent",
                                   "--stale",
                                   "--foreign-sender",
                                   "--version2",
                                   "--type2",
                                   "--udp-no-echo",
                                   "--udp-lose-first",
                                   "--udp-loss",
                                   "--udp-duplicate",
                                   "--udp-reorder",
                                   "--duration",
                                   "--help"})
            QVERIFY2(help.contains(option), option);
        QVERIFY(help.contains("21930"));
        QVERIFY(help.contains("/dev/pts/"));
    }

    void console_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::newRow("read") << "read 16 36864" << "36864 = 73";
        QTest::newRow("read hex") << "read 16 0x9005" << "36869 = 215";
        QTest::newRow("read unmapped") << "read 16 1" << "error: register 1 does not exist";
        QTest::newRow("read absent module") << "read 17 36864" << "error: no module at 17";
        QTest::newRow("read foreign device") << "read 20 36864" << "error: no module at 20";
        QTest::newRow("write") << "write 16 60016 5" << "ok: 60016 := 5";
        QTest::newRow("write refused") << "write 16 4101 1001" << "error: exception 3";
        QTest::newRow("write input register") << "write 16 36864 1" << "error: exception 2";
        QTest::newRow("power status") << "power-status 16 0x8000" << "ok: power-status of 16 := 32768";
        QTest::newRow("delay") << "delay 250" << "ok: answers 250 ms late";
        QTest::newRow("silent") << "silent on" << "ok: silent on";
        QTest::newRow("stale") << "stale 2 900" << "ok: the next 2 answers 900 ms late";
        QTest::newRow("corrupt share") << "corrupt-crc 10%" << "ok: corrupt CRC in 10% of the answers";
        QTest::newRow("corrupt share too large") << "corrupt-crc 101%" << "error: cannot do";
        QTest::newRow("corrupt share without number") << "corrupt-crc %" << "error: cannot do";
        QTest::newRow("decoy") << "type2 before" << "ok: type2 before";
        QTest::newRow("no echo") << "udp-echo off" << "ok: answers carry sequence number 0";
        QTest::newRow("echo") << "udp-echo on" << "ok: answers carry their request's sequence number";
        QTest::newRow("lose first") << "udp-lose-first 2" << "ok: the next 2 requests lost";
        QTest::newRow("loss") << "udp-loss 30" << "ok: 30% of the requests lost";
        QTest::newRow("loss too large") << "udp-loss 101" << "error: cannot do";
        QTest::newRow("duplicate") << "udp-duplicate 3" << "ok: every answer twice, the copy 3 ms later";
        QTest::newRow("duplicate off") << "udp-duplicate off" << "ok: every answer once";
        QTest::newRow("reorder") << "udp-reorder on" << "ok: reorder on";
        QTest::newRow("blank") << "   " << "";
        QTest::newRow("unknown") << "frobnicate" << "error: cannot do \"frobnicate\"; commands:";
        QTest::newRow("missing value") << "delay" << "error: cannot do";
        QTest::newRow("bad switch") << "silent maybe" << "error: cannot do";
    }
    void console()
    {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        TzSimulator sim;
        QVERIFY(sim.Bus().AddModule(16));
        QVERIFY(sim.Bus().AddForeignDevice(20, 12));
        const QString answer = QString::fromStdString(SimConsoleCommand(sim, command.toStdString()));
        QVERIFY2(reply.isEmpty() ? answer.isEmpty() : answer.startsWith(reply), qPrintable(answer));
    }

    // Console input as a terminal, a pipe or a script delivers it: however it is cut into reads,
    // a line is held up to its limit only, an overlong one gets one short error and no echo, and
    // the console goes on with the next line.
    void consoleInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("replies");
        const QByteArray tooLong = "error: line longer than 4096 bytes ignored";
        QTest::newRow("at the limit") << "delay 5" + QByteArray(4096 - 7, ' ') + "\n"
                                      << QStringList{"ok: answers 5 ms late"};
        QTest::newRow("one byte over") << "delay 5" + QByteArray(4097 - 7, ' ') + "\ndelay 6\n"
                                       << QStringList{tooLong, "ok: answers 6 ms late"};
        QTest::newRow("a megabyte without a line end") << QByteArray(1 << 20, 'x') + "\nsilent on\n"
                                                       << QStringList{tooLong, "ok: silent on"};
        QTest::newRow("two in a row") << QByteArray(5000, 'x') + "\n" + QByteArray(5000, 'y') + "\r\nhelp\n"
                                      << QStringList{tooLong, tooLong, QString::fromStdString(SimConsoleHelp())};
        // The quote ends before a letter of two bytes that the cut would split.
        const QByteArray unknown = "frobnicate" + QByteArray(49, 'z') + "\xD0\xB6" + QByteArray(3000, 'z');
        QTest::newRow("unknown command quoted short")
            << unknown + "\n"
            << QStringList{"error: cannot do \"frobnicate" + QString(49, 'z') + "...\"; "
                           + QString::fromStdString(SimConsoleHelp())};
        QTest::newRow("control characters not sent back")
            << QByteArray("\x1B]0;title\x07\n")
            << QStringList{"error: cannot do \"?]0;title?\"; " + QString::fromStdString(SimConsoleHelp())};
    }
    void consoleInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, replies);
        for (const qsizetype chunk : {qsizetype(1), qsizetype(7), qsizetype(512), input.size()}) {
            TzSimulator sim;
            QVERIFY(sim.Bus().AddModule(16));
            TzSimConsoleInput console;
            QStringList got;
            size_t mostHeld = 0;
            for (qsizetype at = 0; at < input.size(); at += chunk) {
                for (const std::string &reply :
                     console.Feed(sim, input.constData() + at, size_t(std::min(chunk, input.size() - at))))
                    got << QString::fromStdString(reply);
                mostHeld = std::max(mostHeld, console.Buffered());
            }
            QCOMPARE(got, replies);
            QVERIFY2(mostHeld <= TzSimConsoleInput::MaxLineBytes, qPrintable(QString::number(mostHeld)));
            QCOMPARE(console.Buffered(), size_t(0));
        }
    }

    void consoleCommandsTakeEffect()
    {
        TzSimulator sim;
        QVERIFY(sim.Bus().AddModule(16));
        SimConsoleCommand(sim, "delay 250");
        SimConsoleCommand(sim, "stale 2 900");
        SimConsoleCommand(sim, "foreign-sender instead");
        SimConsoleCommand(sim, "corrupt-crc on");
        SimConsoleCommand(sim, "power-status 16 49152");
        SimConsoleCommand(sim, "write 16 60016 0x8001");
        SimConsoleCommand(sim, "udp-echo off");
        SimConsoleCommand(sim, "udp-lose-first 2");
        SimConsoleCommand(sim, "udp-loss 30");
        SimConsoleCommand(sim, "udp-duplicate 3");
        SimConsoleCommand(sim, "udp-reorder on");
        TzSimFaultSettings f = sim.Faults().Settings();
        QVERIFY(!sim.Udp().EchoNumbers());
        QCOMPARE(f.LoseFirstCount, 2);
        QCOMPARE(f.LossPercent, 30);
        QCOMPARE(f.DuplicateAfterMs, 3);
        QVERIFY(f.Reorder);
        QCOMPARE(f.AnswerDelayMs, 250);
        QCOMPARE(f.StaleCount, 2);
        QCOMPARE(f.StaleDelayMs, 900);
        QCOMPARE(f.ForeignSender, TzSimDecoy::Instead);
        QVERIFY(f.CorruptCrc);
        QCOMPARE(*sim.Bus().ReadRegister(16, 36881), uint16_t(49152));
        QCOMPARE(*sim.Bus().ReadRegister(16, 60016), uint16_t(0x8001));
        SimConsoleCommand(sim, "corrupt-crc 10%");
        f = sim.Faults().Settings();
        QVERIFY(!f.CorruptCrc);
        QCOMPARE(f.CorruptCrcPercent, 10);
        SimConsoleCommand(sim, "corrupt-crc off");
        QCOMPARE(sim.Faults().Settings().CorruptCrcPercent, 0);
        SimConsoleCommand(sim, "reset-faults");
        f = sim.Faults().Settings();
        QCOMPARE(f.AnswerDelayMs, 0);
        QVERIFY(!f.CorruptCrc);
        QCOMPARE(f.ForeignSender, TzSimDecoy::Off);
        QCOMPARE(f.DuplicateAfterMs, -1);
        QVERIFY(!f.Reorder);
        QVERIFY(sim.Udp().EchoNumbers());
    }
};

QTEST_GUILESS_MAIN(tst_SimOptions)
#include "tst_SimOptions.moc"
