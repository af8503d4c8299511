// quadrelctl as an operator's script runs it: the program itself against the simulated module on
// a pseudo-terminal and behind the simulated converter. What it wrote is read from the simulator's
// frame log, what it printed is parsed, and every exit status is checked.

#include "journal/uJournalStore.h"
#include "port/uSerialLine.h"
#include "sim/uSimulator.h"
#include "tests/TestFiles.h"
#include "tests/TestUdpPort.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {

constexpr int Module = 16;
constexpr int Foreign = 20; // a device of type 12 on the same bus

// Hex of a request frame without its CRC: "10 05 11 00 FF 00".
QString Hex(const TSimBytes &aFrame)
{
    const QByteArray body(reinterpret_cast<const char *>(aFrame.data()), qsizetype(aFrame.size()) - 2);
    return QString::fromLatin1(body.toHex(' ').toUpper());
}

const QString Probe = QStringLiteral("10 04 90 00 00 01");

struct TRun
{
    int Exit = -1;
    QString Out;
    QString Err;
};

} // namespace

class TestQuadrelctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();
    void commandsWriteTheirFramesInOrder_data();
    void commandsWriteTheirFramesInOrder();
    void switchesAreReadBack();
    void statusAndIdAsJson();
    void pulseWidthFromDurations();
    void usageMistakesWriteNothing_data();
    void usageMistakesWriteNothing();
    void failuresHaveTheirStatus_data();
    void failuresHaveTheirStatus();
    void busyAndMissingPortsAreNamed();
    void watchReportsChangesAndEndsOnSigterm();
    void scanListsTheDevicesOfTheBus();
    void optionsFileTellsWhereTheModuleIs();
    void historyPrintsTheJournalsEvents();

private:
    // Starts the simulator's pty or converter; the options that name it.
    QStringList Serve(bool aConverter);
    TRun Run(const QStringList &aArguments, int aTimeoutMs = 60000);
    QStringList RequestsSince(size_t aMark) const;
    size_t Mark() const { return fSim->Log().Frames(TzSimDirection::Received).size(); }

    std::unique_ptr<TzSimulator> fSim;
    QString fPty;
    bool fConverter = false;
    QStringList fWhere; // the options that name the simulator's pty or converter
};

// Every test runs on a pseudo-terminal and through the converter.
void TestQuadrelctl::initTestCase_data()
{
    QTest::addColumn<bool>("converter");
    for (const bool converter : {false, true})
        QTest::newRow(converter ? "converter" : "pty") << converter;
}

void TestQuadrelctl::init()
{
    QFETCH_GLOBAL(bool, converter);
    fConverter = converter;
    fSim = std::make_unique<TzSimulator>();
    QVERIFY(fSim->Bus().AddModule(Module));
    QVERIFY(fSim->Bus().AddForeignDevice(Foreign, 12));
    fWhere = Serve(converter);
    QVERIFY(!fWhere.isEmpty());
}

void TestQuadrelctl::cleanup()
{
    fSim.reset();
    QFile::remove(QDir(qEnvironmentVariable("QUADREL_SETTINGS_DIR")).filePath(QStringLiteral("Options.xml")));
}

QStringList TestQuadrelctl::Serve(bool aConverter)
{
    if (aConverter) {
        const uint16_t port = FreeUdpPort("127.0.0.2");
        if (port == 0 || !fSim->StartUdp("127.0.0.2", port))
            return {};
        return {QStringLiteral("--udp"), QStringLiteral("127.0.0.2:%1").arg(port), QStringLiteral("--timeout"),
                QStringLiteral("100")};
    }
    fPty = QString::fromStdString(fSim->StartPty());
    if (fPty.isEmpty())
        return {};
    return {QStringLiteral("--port"), fPty};
}

TRun TestQuadrelctl::Run(const QStringList &aArguments, int aTimeoutMs)
{
    QProcess process;
    process.start(QStringLiteral(QUADRELCTL_PATH), aArguments);
    TRun run;
    if (!process.waitForFinished(aTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.Err = QStringLiteral("(did not end in time)");
        return run;
    }
    run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = QString::fromUtf8(process.readAllStandardOutput());
    run.Err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList TestQuadrelctl::RequestsSince(size_t aMark) const
{
    QStringList requests;
    const std::vector<TSimBytes> frames = fSim->Log().Frames(TzSimDirection::Received);
    for (size_t i = aMark; i < frames.size(); ++i)
        requests << Hex(frames[i]);
    return requests;
}

void TestQuadrelctl::commandsWriteTheirFramesInOrder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("frames");
    QStringList allOff{Probe};
    for (int n = 1; n <= 20; ++n) {
        const int coil = 4096 + 128 * (n - 1);
        allOff << QString::asprintf("10 05 %02X %02X 00 00", coil >> 8, coil & 0xFF);
    }
    QTest::newRow("on 3") << QStringList{"on", "3", "--no-verify"} << QStringList{Probe, "10 05 11 00 FF 00"};
    QTest::newRow("off 18 17") << QStringList{"--no-verify", "off", "18", "17"}
                               << QStringList{Probe, "10 05 18 80 00 00", "10 05 18 00 00 00"};
    QTest::newRow("toggle 2 reads first")
        << QStringList{"toggle", "2", "--no-verify"} << QStringList{Probe, "10 03 EA 70 00 01", "10 05 10 80 FF 00"};
    QTest::newRow("all off") << QStringList{"all", "off", "--no-verify"} << allOff;
    QTest::newRow("safe 4 on") << QStringList{"safe", "4", "on", "--no-verify"}
                               << QStringList{Probe, "10 05 11 88 FF 00"};
    QTest::newRow("pwm 5") << QStringList{"pwm", "5", "--unit", "2", "--period", "100", "--fill", "500", "--no-verify"}
                           << QStringList{Probe, "10 06 12 03 00 02", "10 06 12 04 00 64", "10 06 12 05 01 F4"};
    QTest::newRow("network") << QStringList{"network",  "--addr", "20",        "--baud", "19200",
                                            "--format", "8E1",    "--timeout", "5"}
                             << QStringList{Probe, "10 06 70 04 00 14", "10 06 70 00 00 05", "10 06 70 01 00 06",
                                            "10 06 70 08 00 05"};
    QTest::newRow("network, time-out only")
        << QStringList{"network", "--timeout=0"} << QStringList{Probe, "10 06 70 08 00 00"};
    QTest::newRow("restart") << QStringList{"restart"} << QStringList{Probe, "10 06 EA 60 55 AA"};
}

// Each command sends the probe, then exactly its own requests, in the panel's order, and nothing
// else.
void TestQuadrelctl::commandsWriteTheirFramesInOrder()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, frames);
    const TRun run = Run(fWhere + arguments);
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QCOMPARE(RequestsSince(0), frames);
}

void TestQuadrelctl::switchesAreReadBack()
{
    TRun run = Run(fWhere + QStringList{"--json", "on", "3", "19"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    const QJsonObject answer = QJsonDocument::fromJson(run.Out.toUtf8()).object();
    QCOMPARE(answer.value("command").toString(), QStringLiteral("on"));
    QCOMPARE(answer.value("outputs").toArray(), (QJsonArray{3, 19}));
    QCOMPARE(answer.value("verified").toBool(), true);
    QVERIFY(fSim->Bus().OutputOn(Module, 3) && fSim->Bus().OutputOn(Module, 19));
    // Both state registers are read back, after the writes.
    QCOMPARE(RequestsSince(0).mid(3), (QStringList{"10 03 EA 70 00 01", "10 03 EA 6F 00 01"}));

    // toggle turns each to the other state, as read just before.
    run = Run(fWhere + QStringList{"toggle", "3", "4"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QVERIFY(!fSim->Bus().OutputOn(Module, 3) && fSim->Bus().OutputOn(Module, 4));
    QCOMPARE(run.Out, QStringLiteral("Выход 3: выключен\nВыход 4: включён\n"));

    run = Run(fWhere + QStringList{"safe", "20", "on"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    bool safe = false;
    fSim->Bus().WithModule(Module, [&](TzSimModule &m, uint64_t) { safe = m.SafeState(20); });
    QVERIFY(safe);
}

void TestQuadrelctl::statusAndIdAsJson()
{
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t aNow) {
        m.SetOutputState(7, true, aNow);
        m.SetSafeState(9, true);
        m.SetPowerStatus(0x4000);
        m.SetIdentifier(0x0102, 0x0304, 0x0506);
        m.SetPwm(12, 3, 777, 333, aNow);
    });
    TRun run = Run(fWhere + QStringList{"status", "--json"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QJsonParseError error;
    const QJsonObject status = QJsonDocument::fromJson(run.Out.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(run.Out));
    QCOMPARE(status.value("address").toInt(), Module);
    QCOMPARE(status.value("firmware").toString(), QStringLiteral("2.15"));
    QCOMPARE(status.value("identifier").toString(), QStringLiteral("01-02-03-04-05-06"));
    QCOMPARE(status.value("power_status").toInt(), 0x4000);
    QCOMPARE(status.value("power_alarm").toBool(), true);
    const int millivolts = status.value("supply_mv").toInt();
    QVERIFY2(millivolts > 20000 && millivolts < 28000, qPrintable(QString::number(millivolts)));
    QCOMPARE(qRound(status.value("supply_v").toDouble() * 1000), millivolts);
    const QJsonArray outputs = status.value("outputs").toArray();
    QCOMPARE(outputs.size(), 20);
    for (int n = 1; n <= 20; ++n) {
        const QJsonObject output = outputs[n - 1].toObject();
        QCOMPARE(output.value("output").toInt(), n);
        if (n != 12) // pulsing: on or off by the moment
            QCOMPARE(output.value("on").toBool(), n == 7);
        QCOMPARE(output.value("safe").toBool(), n == 9);
        QCOMPARE(output.value("unit").toInt(), n == 12 ? 3 : 1);
        QCOMPARE(output.value("period").toInt(), n == 12 ? 777 : 50);
        // Switching an output on sets its fill factor to 1000.
        QCOMPARE(output.value("fill").toInt(), n == 12 ? 333 : n == 7 ? 1000 : 0);
    }
    // Reads only: nothing was written.
    for (const QString &request : RequestsSince(0))
        QVERIFY2(request.mid(3, 2) == "03" || request.mid(3, 2) == "04", qPrintable(request));

    run = Run(fWhere + QStringList{"--json", "id"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    const QJsonObject id = QJsonDocument::fromJson(run.Out.toUtf8()).object();
    QCOMPARE(id.value("device_type").toInt(), 73);
    QCOMPARE(id.value("identifier").toString(), QStringLiteral("01-02-03-04-05-06"));
    QCOMPARE(id.value("firmware").toString(), QStringLiteral("2.15"));
}

// The duration calculator of the panel chooses the parameters; what it wrote is what the module
// holds, and the durations it reports are the ones those parameters give.
void TestQuadrelctl::pulseWidthFromDurations()
{
    const TRun run = Run(fWhere + QStringList{"--json", "pwm", "12", "--closed", "7740", "--open", "15570"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    const QJsonObject answer = QJsonDocument::fromJson(run.Out.toUtf8()).object();
    QCOMPARE(answer.value("closed_ms").toInt(), 7740);
    QCOMPARE(answer.value("open_ms").toInt(), 15570);
    QCOMPARE(answer.value("verified").toBool(), true);
    const int unit = answer.value("unit").toInt(), period = answer.value("period").toInt(),
              fill = answer.value("fill").toInt();
    QCOMPARE(unit * 10 * period, 7740 + 15570);
    fSim->Bus().WithModule(Module, [&](TzSimModule &m, uint64_t) {
        QCOMPARE(int(m.PwmUnit(12)), unit);
        QCOMPARE(int(m.PwmPeriod(12)), period);
        QCOMPARE(int(m.FillFactor(12)), fill);
    });
}

void TestQuadrelctl::usageMistakesWriteNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");
    QTest::newRow("output 21") << QStringList{"on", "21"} << "от 1 до 20";
    QTest::newRow("output 0") << QStringList{"safe", "0", "on"} << "от 1 до 20";
    QTest::newRow("output twice") << QStringList{"off", "3", "3"} << "дважды";
    QTest::newRow("speed not listed") << QStringList{"--baud", "9601", "status"} << "9601";
    QTest::newRow("format not listed") << QStringList{"--format", "7E1", "status"} << "7E1";
    QTest::newRow("malformed converter address") << QStringList{"--udp", "300.1.1.1", "status"} << "300.1.1.1";
    QTest::newRow("converter port out of range") << QStringList{"--udp", "127.0.0.2:70000", "status"} << "70000";
    QTest::newRow("module address 248") << QStringList{"--addr", "248", "status"} << "248";
    QTest::newRow("time-out below the least") << QStringList{"--timeout", "5", "status"} << "получено 5";
    QTest::newRow("pwm without fill") << QStringList{"pwm", "3", "--unit", "1", "--period", "50"} << "--fill";
    QTest::newRow("pwm fill 1001") << QStringList{"pwm", "3", "--unit", "1", "--period", "50", "--fill", "1001"}
                                   << "1001";
    QTest::newRow("pwm cycle too long") << QStringList{"pwm", "3", "--closed", "86400000", "--open", "1"} << "86400001";
    QTest::newRow("network without settings") << QStringList{"network"} << "--addr";
    QTest::newRow("network time-out 601") << QStringList{"network", "--timeout", "601"} << "601";
    QTest::newRow("all without on or off") << QStringList{"all"} << "on";
    QTest::newRow("option of another command") << QStringList{"status", "--all-speeds"} << "--all-speeds";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "frobnicate";
    QTest::newRow("no command") << QStringList{"--json"} << "команда";
}

// A mistake on the command line is status 2 with one line saying what is wrong, before anything
// reaches the line.
void TestQuadrelctl::usageMistakesWriteNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    const TRun run = Run(fWhere + arguments);
    QCOMPARE(run.Exit, 2);
    QVERIFY2(run.Err.startsWith("quadrelctl: ") && run.Err.contains(says), qPrintable(run.Err));
    QCOMPARE(run.Out, QString());
    QCOMPARE(RequestsSince(0), QStringList());
}

void TestQuadrelctl::failuresHaveTheirStatus_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("allowed"); // the requests that may have been sent, each any number of times
    QTest::newRow("not a Quadrel") << "" << QStringList{"--addr", "20", "on", "1"} << 1 << "типа 12"
                                   << QStringList{"14 04 90 00 00 01"};
    QTest::newRow("silent module") << "silent" << QStringList{"on", "1"} << 1 << "нет ответа" << QStringList{Probe};
    QTest::newRow("corrupt answers") << "corrupt" << QStringList{"id"} << 1 << "нет ответа" << QStringList{Probe};
    QTest::newRow("write refused") << "refuse" << QStringList{"on", "1"} << 3 << "исключение 04"
                                   << QStringList{Probe, "10 05 10 00 FF 00"};
}

// No answer, a device that is not a Quadrel (nothing is written to it) and a refusal each end the
// program with their status and one line on standard error.
void TestQuadrelctl::failuresHaveTheirStatus()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(QStringList, allowed);
    if (fault == "silent")
        fSim->Faults().SetSilent(true);
    else if (fault == "corrupt")
        fSim->Faults().SetCorruptCrc(true);
    else if (fault == "refuse")
        fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetRefuseWrites(4); });
    const TRun run = Run(fWhere + arguments);
    QCOMPARE(run.Exit, status);
    QVERIFY2(run.Err.startsWith("quadrelctl: ") && run.Err.count(u'\n') == 1 && run.Err.contains(says),
             qPrintable(run.Err));
    QCOMPARE(run.Out, QString());
    const QStringList requests = RequestsSince(0);
    QVERIFY(!requests.isEmpty());
    for (const QString &request : requests)
        QVERIFY2(allowed.contains(request), qPrintable(request));
    if (fault == "refuse") // an exception is an answer: the write went once and nothing followed
        QCOMPARE(requests, allowed);
}

void TestQuadrelctl::busyAndMissingPortsAreNamed()
{
    if (fConverter)
        QSKIP("a serial port's matter");
    TzSerialLine holder;
    QVERIFY(holder.Open(fPty.toStdString()));
    TRun run = Run({"--port", fPty, "on", "1"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.contains("занят") && run.Err.contains(fPty), qPrintable(run.Err));
    holder.Close();

    run = Run({"--port", "/dev/quadrel-no-such-port", "status"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.contains("не найден"), qPrintable(run.Err));
    QCOMPARE(RequestsSince(0), QStringList());
}

// watch prints a line per change as the module shows it, tells when the module falls silent and
// comes back, and a SIGTERM ends it with status 0.
void TestQuadrelctl::watchReportsChangesAndEndsOnSigterm()
{
    QProcess watch;
    watch.start(QStringLiteral(QUADRELCTL_PATH), fWhere + QStringList{"--json", "watch", "--deadband", "100000"});
    QVERIFY(watch.waitForStarted());
    // Polling: the state register has been read at least twice.
    QTRY_VERIFY_WITH_TIMEOUT(RequestsSince(0).count("10 03 EA 70 00 01") >= 2, 20000);
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t aNow) {
        m.SetOutputState(5, true, aNow);
        m.SetPowerStatus(0x8000);
    });
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += watch.readAllStandardOutput()).count('\n') >= 2, 20000);
    QSet<QString> kinds;
    for (const QByteArray &line : out.trimmed().split('\n')) {
        const QJsonObject change = QJsonDocument::fromJson(line).object();
        QVERIFY2(change.value("time").toString().endsWith('Z'), line.constData());
        kinds << change.value("kind").toString();
        if (change.value("kind") == "output") {
            QCOMPARE(change.value("output").toInt(), 5);
            QCOMPARE(change.value("old").toBool(), false);
            QCOMPARE(change.value("new").toBool(), true);
        } else {
            QCOMPARE(change.value("new").toInt(), 0x8000);
            QCOMPARE(change.value("alarm").toBool(), true);
        }
    }
    QCOMPARE(kinds, (QSet<QString>{"output", "power"}));
    // A module that falls silent is said once on standard error, and so is its return; watch goes on.
    QByteArray err;
    fSim->Faults().SetSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT((err += watch.readAllStandardError()).contains("Нет ответа от модуля с"), 20000);
    fSim->Faults().SetSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT((err += watch.readAllStandardError()).contains("модуль снова отвечает"), 20000);
    QCOMPARE(watch.state(), QProcess::Running);
    watch.terminate();
    QVERIFY(watch.waitForFinished(20000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    // The line is free again: the port was closed on the way out.
    if (!fConverter) {
        TzSerialLine again;
        QVERIFY(again.Open(fPty.toStdString()));
    }
}

void TestQuadrelctl::scanListsTheDevicesOfTheBus()
{
    QStringList where = fWhere;
    if (fConverter)
        where << QStringLiteral("--timeout") << QStringLiteral("50");
    const TRun run = Run(where + QStringList{"scan", "--json"}, 180000);
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QStringList found;
    for (const QString &line : run.Out.trimmed().split('\n')) {
        const QJsonObject device = QJsonDocument::fromJson(line.toUtf8()).object();
        found << QStringLiteral("%1:%2")
                     .arg(device.value("address").toInt())
                     .arg(device.value("quadrel").toBool() ? "true" : "false");
        if (!fConverter) {
            QCOMPARE(device.value("baud").toInt(), 9600);
            QCOMPARE(device.value("format").toString(), QStringLiteral("8N1"));
        }
    }
    QCOMPARE(found, (QStringList{"16:true", "20:false"}));
    // A probe for every address and nothing else; not a terminal, so no progress.
    const QStringList requests = RequestsSince(0);
    QCOMPARE(requests.size(), 247);
    for (const QString &request : requests)
        QVERIFY2(request.mid(3) == "04 90 00 00 02", qPrintable(request));
    QCOMPARE(run.Err, QString());
}

// Without --port or --udp, the panel's own settings say where the module is.
void TestQuadrelctl::optionsFileTellsWhereTheModuleIs()
{
    const QString options = QDir(qEnvironmentVariable("QUADREL_SETTINGS_DIR")).filePath(QStringLiteral("Options.xml"));
    const QString udp = fConverter ? fWhere[1] : QString();
    WriteText(options,
              QStringLiteral(
                  "<?xml version=\"1.0\"?>\n<options>\n"
                  "<comport indx=\"0\" name=\"%1\" addr=\"%2\" baudrate=\"9600\" format=\"0\" timeout=\"30\"/>\n"
                  "<ethernet active=\"%3\" host=\"%4\" port=\"%5\" timeout=\"100\" addr=\"%2\" format=\"0\"/>\n"
                  "</options>\n")
                  .arg(fConverter ? QStringLiteral("/dev/quadrel-no-such-port") : fPty)
                  .arg(Module)
                  .arg(fConverter ? 1 : 0)
                  .arg(udp.section(':', 0, 0), udp.section(':', 1, 1))
                  .toUtf8());
    const TRun run = Run({"on", "6", "--no-verify"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QCOMPARE(RequestsSince(0), (QStringList{Probe, "10 05 12 80 FF 00"}));

    QFile::remove(options);
    const TRun none = Run({"status"});
    QCOMPARE(none.Exit, 2);
    QVERIFY2(none.Err.contains("--port"), qPrintable(none.Err));
}

// history reads the panel's journal beside its Options.xml (while it may be written) and prints
// the events of a range, of one output when asked.
void TestQuadrelctl::historyPrintsTheJournalsEvents()
{
    if (fConverter)
        QSKIP("no line is used");
    const QString folder = qEnvironmentVariable("QUADREL_SETTINGS_DIR");
    QFile::remove(QDir(folder).filePath(QStringLiteral("Journal.sqlite")));
    TRun run = Run({"history"});
    QCOMPARE(run.Exit, 1);
    QVERIFY2(run.Err.contains("Journal.sqlite"), qPrintable(run.Err));

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        TzJournalStore store(folder);
        QString note;
        QVERIFY2(store.Open(&note), qPrintable(note));
        TzJournalBatch batch;
        batch.Events.push_back({now - 3 * 3600 * 1000, "output", 3, 0, 1, "operator", "Выход 3: включён"});
        batch.Events.push_back({now - 2 * 3600 * 1000, "output", 4, 1, 0, "module", "Выход 4: выключен"});
        batch.Events.push_back({now - 3600 * 1000, "connection_ended", 0, {}, {}, {}, "Отключение от модуля"});
        batch.Events.push_back({now - 40 * 3600 * 1000, "output", 3, 1, 0, "web", "Выход 3: выключен"});
        QString problem;
        QVERIFY2(store.Write(batch, &problem), qPrintable(problem));
    }
    // The last day by default, in time order.
    run = Run({"history", "--json"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QStringList kinds;
    for (const QString &line : run.Out.trimmed().split('\n'))
        kinds << QJsonDocument::fromJson(line.toUtf8()).object().value("kind").toString();
    QCOMPARE(kinds, (QStringList{"output", "output", "connection_ended"}));

    run = Run({"history", "--output", "3", "--from", "-2d", "--json"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    const QStringList lines = run.Out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(first.value("source").toString(), QStringLiteral("web"));
    QCOMPARE(first.value("output").toInt(), 3);
    QCOMPARE(first.value("old").toInt(), 1);
    QCOMPARE(first.value("new").toInt(), 0);
    QVERIFY(first.value("time").toString().endsWith('Z'));

    run = Run({"history", "--output", "4"});
    QVERIFY2(run.Exit == 0, qPrintable(run.Err));
    QVERIFY2(run.Out.contains("Выход 4: выключен (модуль)"), qPrintable(run.Out));
    QCOMPARE(Run({"history", "--from", "yesterday"}).Exit, 2);
}

QTEST_GUILESS_MAIN(TestQuadrelctl)
#include "tst_Quadrelctl.moc"
