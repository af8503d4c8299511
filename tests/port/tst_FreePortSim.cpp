// The port engine against the simulated Quadrel module: on a pty with the panel's settings, and
// through the simulated converter over UDP, with the simulator's faults and its frame log as the
// witness of what crossed the line.

#include "PortTestPeers.h"
#include "port/uFreePort.h"
#include "port/uSerialLine.h"
#include "sim/uSimulator.h"

#include <QElapsedTimer>
#include <QtTest>

class TestFreePortSim : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readComesBackExactly();
    void serialFaults_data();
    void serialFaults();
    void deviceUnpluggedMidExchange();
    void lostLineIsReopenedByName();
    void stopEndsTheReopening();
    void forcedRequestsOvertakeTheQueue();
    void requestNumbersWrapWhileServing();
    void exchangeTimeLeavesOutTheWaitForALateAnswer();

    void converterSequenceStartsAtFFFF();
    void converterDecoys_data();
    void converterDecoys();
    void staleConverterAnswerIsNeverTaken();
    void converterFaultsNeverShowAnotherReadsValues_data();
    void converterFaultsNeverShowAnotherReadsValues();

private:
    std::unique_ptr<TzFreePort> SerialEngine(const std::string &aPath);
    std::unique_ptr<TzFreePort> EthernetEngine();

    std::vector<TzAnswerRec> fAnswers;
    std::unique_ptr<TzSimulator> fSim;
    uint16_t fUdpPort = 0;
};

namespace {

constexpr int Module = 1;

QByteArray Read(int aFunction, int aRegister, int aCount)
{
    QByteArray body;
    body.append(char(Module)).append(char(aFunction));
    body.append(char(aRegister >> 8)).append(char(aRegister & 0xFF));
    body.append(char(aCount >> 8)).append(char(aCount & 0xFF));
    return WithCrc(body);
}

QByteArray Bytes(const TSimBytes &aBytes)
{
    return QByteArray(reinterpret_cast<const char *>(aBytes.data()), qsizetype(aBytes.size()));
}

QList<QByteArray> Frames(TzSimulator &aSim, TzSimDirection aDirection)
{
    QList<QByteArray> frames;
    for (const TSimBytes &frame : aSim.Log().Frames(aDirection))
        frames << Bytes(frame);
    return frames;
}

} // namespace

void TestFreePortSim::init()
{
    fAnswers.clear();
    fSim = std::make_unique<TzSimulator>();
    QVERIFY(fSim->Bus().AddModule(Module));
    EthernetHost = QString::fromLatin1(EthernetFactoryHost);
    EthernetPort = 40000;
    EthernetWaitTime = 200;
    EthernetTries = 3;
}

std::unique_ptr<TzFreePort> TestFreePortSim::SerialEngine(const std::string &aPath)
{
    auto port = SerialEngineAt(QString::fromStdString(aPath));
    port->SetOnAsyncAnswerProc([this](const TzAnswerRec &a) { fAnswers.push_back(a); });
    return port;
}

std::unique_ptr<TzFreePort> TestFreePortSim::EthernetEngine()
{
    fUdpPort = FreeUdpPort();
    if (!fSim->StartUdp("127.0.0.2", fUdpPort))
        return nullptr;
    EthernetHost = QStringLiteral("127.0.0.2");
    EthernetPort = fUdpPort;
    auto port = ConverterEngine();
    port->SetOnAsyncAnswerProc([this](const TzAnswerRec &a) { fAnswers.push_back(a); });
    return port;
}

// ---- serial line ----

void TestFreePortSim::readComesBackExactly()
{
    const std::string path = fSim->StartPty();
    QVERIFY(!path.empty());
    auto port = SerialEngine(path);
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[0].Answer.AsBytes(), WithCrc(Hex("01 04 02 00 49"))); // device type 73
    QCOMPARE(Frames(*fSim, TzSimDirection::Received), QList<QByteArray>{Read(4, 36864, 1)});
    QCOMPARE(Frames(*fSim, TzSimDirection::Sent).value(0), fAnswers[0].Answer.AsBytes());
}

void TestFreePortSim::serialFaults_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<uint>("errCode");
    QTest::newRow("corrupt CRC") << false << uint(ErrAnswerCRC);
    QTest::newRow("silent device") << true << uint(ErrNoAnswer);
}

void TestFreePortSim::serialFaults()
{
    QFETCH(bool, silent);
    QFETCH(uint, errCode);
    fSim->Faults().SetSilent(silent);
    fSim->Faults().SetCorruptCrc(!silent);
    const std::string path = fSim->StartPty();
    QVERIFY(!path.empty());
    auto port = SerialEngine(path);
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Read(3, 60017, 8), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, errCode);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
    if (silent) // 1 x 255 + 400 ms with the panel's time-outs
        QVERIFY2(fAnswers[0].Time >= 650, qPrintable(QString::number(fAnswers[0].Time)));
    else
        QCOMPARE(Frames(*fSim, TzSimDirection::Sent).size(), 1);
}

void TestFreePortSim::deviceUnpluggedMidExchange()
{
    fSim->Faults().SetAnswerDelay(3000);
    const std::string path = fSim->StartPty();
    QVERIFY(!path.empty());
    auto port = SerialEngine(path);
    port->LocTimeouts().ReadTotalTimeoutConstant = 10000;
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Read(3, 60017, 8), Module));
    QTRY_COMPARE_WITH_TIMEOUT(Frames(*fSim, TzSimDirection::Received).size(), 1, 20000);
    fSim->Stop(); // the pty goes away while the engine waits for the answer
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QVERIFY(fAnswers[0].ErrCode != ErrAnswerOK);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
    QVERIFY(port->SendCmd(Read(3, 60018, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QVERIFY(fAnswers[1].ErrCode != ErrAnswerOK);
}

void TestFreePortSim::lostLineIsReopenedByName()
{
    QTemporaryDir folder;
    const std::string link = folder.filePath(QStringLiteral("quadrel-tty")).toStdString();
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetLineSettings(19200, 4); });
    QCOMPARE(fSim->StartPty(link), link);
    auto port = SerialEngine(link);
    port->LocDCB().BaudRate = 19200;
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);

    // Unplugged: the line's name goes with it.
    fSim->Serial().Stop();
    QVERIFY(!QFileInfo::exists(QString::fromStdString(link)));
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].ErrCode, ErrPortFailure);
    QVERIFY(port->LineLost());
    QVERIFY(!port->Port->IsActive());
    // Meanwhile requests fail at once, one outcome each, without waiting on the line.
    for (int reg = 0; reg < 5; ++reg)
        QVERIFY(port->SendCmd(Read(3, 60013 + reg, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(7), 20000);
    for (size_t i = 2; i < 7; ++i) {
        QCOMPARE(fAnswers[i].ErrCode, ErrPortFailure);
        QVERIFY2(fAnswers[i].Time < 100, qPrintable(QString::number(fAnswers[i].Time)));
    }
    QVERIFY(port->LineLost());

    // Plugged in again, on a new pty behind the same name, which starts at another speed than
    // the module's: only the engine's own settings, applied again, make the module hear it.
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetLineSettings(9600, 4); });
    QCOMPARE(fSim->StartPty(link), link);
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetLineSettings(19200, 4); });
    QElapsedTimer back;
    back.start();
    QTRY_VERIFY_WITH_TIMEOUT(!port->LineLost(), 10000);
    qInfo("line reopened %lld ms after the pty came back (goal: within 1 s)", back.elapsed());
    QVERIFY2(back.elapsed() < 5000, "reopened far later than the one-second rhythm");
    QVERIFY(port->Port->IsActive());
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(8), 20000);
    QCOMPARE(fAnswers[7].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[7].Answer.AsBytes(), WithCrc(Hex("01 04 02 00 49")));
    // The time-outs came back too: a silent module ends the read after 1 x 255 + 400 ms.
    fSim->Faults().SetSilent(true);
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(9), 20000);
    QCOMPARE(fAnswers[8].ErrCode, ErrNoAnswer);
    QVERIFY2(fAnswers[8].Time >= 600 && fAnswers[8].Time < 3000, qPrintable(QString::number(fAnswers[8].Time)));
}

void TestFreePortSim::stopEndsTheReopening()
{
    QTemporaryDir folder;
    const std::string link = folder.filePath(QStringLiteral("quadrel-tty")).toStdString();
    QCOMPARE(fSim->StartPty(link), link);
    auto port = SerialEngine(link);
    QVERIFY(port->Start());
    fSim->Serial().Stop();
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_VERIFY_WITH_TIMEOUT(port->LineLost(), 20000);

    QElapsedTimer stop;
    stop.start();
    QVERIFY(port->Stop());
    qInfo("stop while the line was lost: %lld ms (goal: at once)", stop.elapsed());
    QVERIFY(stop.elapsed() < 5000);
    QVERIFY(!port->LineLost());
    // Back again, the port stays with whoever opens it next: the stopped engine left it alone.
    QCOMPARE(fSim->StartPty(link), link);
    QTest::qWait(2500);
    QVERIFY(!port->Port->IsActive());
    TzSerialLine other;
    QVERIFY(other.Open(link));
    other.Close();

    // Destroying an engine whose line is lost ends at once as well.
    QVERIFY(port->Start());
    fSim->Serial().Stop();
    QVERIFY(port->SendCmd(Read(4, 36865, 1), Module));
    QTRY_VERIFY_WITH_TIMEOUT(port->LineLost(), 20000);
    stop.restart();
    port.reset();
    qInfo("destroy while the line was lost: %lld ms (goal: at once)", stop.elapsed());
    QVERIFY(stop.elapsed() < 5000);
}

void TestFreePortSim::forcedRequestsOvertakeTheQueue()
{
    // Slow answers keep A on the line while the others are queued.
    fSim->Faults().SetAnswerDelay(1000);
    const std::string path = fSim->StartPty();
    QVERIFY(!path.empty());
    auto port = SerialEngine(path);
    port->LocTimeouts().ReadTotalTimeoutConstant = 5000;
    QVERIFY(port->Start());
    const QByteArray a = Read(3, 60017, 1), b = Read(3, 60018, 1), c = Read(3, 60019, 1);
    const QByteArray x = Read(3, 60020, 1), y = Read(3, 60021, 1);
    QVERIFY(port->SendCmd(a, Module));
    // A is on the line (it stays at the head of the queue until delivered): the queue is (A).
    QTRY_COMPARE_WITH_TIMEOUT(Frames(*fSim, TzSimDirection::Received).size(), 1, 20000);
    QVERIFY(port->SendCmdForce(x, Module, 1)); // (X, A): in front of the only request
    QVERIFY(port->SendCmd(b, Module));         // (X, A, B)
    QVERIFY(port->SendCmd(c, Module));         // (X, A, B, C)
    QVERIFY(port->SendCmdForce(y, Module, 1)); // (X, Y, A, B, C)
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(5), 30000);
    // A finished first and was removed by identity, not as the head; then the head each time.
    QCOMPARE(Frames(*fSim, TzSimDirection::Received), (QList<QByteArray>{a, x, y, b, c}));
    for (const TzAnswerRec &answer : fAnswers)
        QCOMPARE(answer.ErrCode, ErrAnswerOK);
}

void TestFreePortSim::requestNumbersWrapWhileServing()
{
    const std::string path = fSim->StartPty();
    QVERIFY(!path.empty());
    auto port = SerialEngine(path);
    QVERIFY(port->Start());
    port->Port->SetIssuedUID(19999999);
    for (int i = 0; i < 3; ++i)
        QVERIFY(port->SendCmd(Read(3, 60017 + i, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(3), 20000);
    QCOMPARE(fAnswers[0].UID, 20000000u);
    QCOMPARE(fAnswers[1].UID, 0u);
    QCOMPARE(fAnswers[2].UID, 1u);
    for (const TzAnswerRec &answer : fAnswers)
        QCOMPARE(answer.ErrCode, ErrAnswerOK);
}

void TestFreePortSim::exchangeTimeLeavesOutTheWaitForALateAnswer()
{
    // A request that gets no answer is listened out for a whole total wait (here about 1.5 s)
    // before the next one goes; that wait is not the next exchange's time.
    const std::string path = fSim->StartPty();
    QVERIFY(!path.empty());
    auto port = SerialEngine(path);
    port->LocTimeouts().ReadTotalTimeoutConstant = 1500;
    QVERIFY(port->Start());
    QByteArray toNobody = Read(4, 36864, 1);
    toNobody[0] = char(Module + 1);
    toNobody = WithCrc(toNobody.left(6));
    QVERIFY(port->SendCmd(toNobody, Module + 1));
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QElapsedTimer clock;
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    const qint64 between = clock.elapsed();
    QCOMPARE(fAnswers[0].ErrCode, ErrNoAnswer);
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
    qInfo("the next exchange took %u ms, %lld ms after the silent one ended", fAnswers[1].Time, between);
    // The listening did happen, and the exchange's time holds none of it.
    QVERIFY(between >= 1500);
    QVERIFY2(fAnswers[1].Time < 1000, qPrintable(QString::number(fAnswers[1].Time)));
}

// ---- converter ----

void TestFreePortSim::converterSequenceStartsAtFFFF()
{
    auto port = EthernetEngine();
    QVERIFY(port);
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Hex("01 03 00 00 00 01 84 0A"), Module));
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QList<QByteArray> datagrams;
    for (const TzSimFrameLogEntry &entry : fSim->Log().Entries())
        if (entry.Direction == TzSimDirection::Received)
            datagrams << Bytes(entry.Wrapper) + Bytes(entry.Frame);
    QCOMPARE(datagrams.value(0), Hex("10 08 FF FF 10 01 03 00 00 00 01 84 0A"));
    QCOMPARE(datagrams.value(1).left(5), Hex("10 08 00 00 10"));
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[1].Answer.AsBytes(), WithCrc(Hex("01 04 02 00 49")));
}

void TestFreePortSim::converterDecoys_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("mode");
    QTest::addColumn<uint>("errCode");
    // A decoy before the answer is skipped; a decoy instead of it leaves no answer.
    for (const char *kind : {"foreign sender", "version 2", "type 2"}) {
        QTest::addRow("%s before the answer", kind) << QString(kind) << int(TzSimDecoy::Before) << uint(ErrAnswerOK);
        QTest::addRow("%s instead of the answer", kind)
            << QString(kind) << int(TzSimDecoy::Instead) << uint(ErrNoAnswer);
    }
}

void TestFreePortSim::converterDecoys()
{
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(uint, errCode);
    const auto decoy = TzSimDecoy(mode);
    if (kind == "foreign sender")
        fSim->Faults().SetForeignSender(decoy);
    else if (kind == "version 2")
        fSim->Faults().SetVersion2(decoy);
    else
        fSim->Faults().SetType2(decoy);
    auto port = EthernetEngine();
    QVERIFY(port);
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, errCode);
    if (errCode == ErrAnswerOK)
        QCOMPARE(fAnswers[0].Answer.AsBytes(), WithCrc(Hex("01 04 02 00 49")));
    else
        QCOMPARE(Frames(*fSim, TzSimDirection::Received).size(), EthernetTries);
}

void TestFreePortSim::staleConverterAnswerIsNeverTaken()
{
    // The first answer leaves 400 ms late: the first attempt gives up, the second is answered,
    // and the late answer arrives while the engine is idle.
    fSim->Faults().SetStaleAnswers(1, 400);
    auto port = EthernetEngine();
    QVERIFY(port);
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(Read(3, 60017, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QTRY_COMPARE_WITH_TIMEOUT(Frames(*fSim, TzSimDirection::Sent).size(), 2, 20000);

    QVERIFY(port->SendCmd(Read(4, 36864, 1), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[1].Answer.AsBytes(), WithCrc(Hex("01 04 02 00 49")));
}

void TestFreePortSim::converterFaultsNeverShowAnotherReadsValues_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<int>("loseFirst");
    QTest::addColumn<int>("duplicateMs");
    QTest::addColumn<bool>("reorder");
    // Its 00 00 matches the second try's number by chance; taken for an echo, it would refuse
    // every later answer.
    QTest::newRow("no echo, the first datagram lost") << false << 1 << -1 << false;
    // Each copy would be taken for the next read's answer.
    QTest::newRow("no echo, every answer twice") << false << 0 << 3 << false;
    QTest::newRow("no echo, answers reordered") << false << 0 << -1 << true;
    QTest::newRow("echo, every answer twice") << true << 0 << 3 << false;
    QTest::newRow("echo, first lost, answers reordered") << true << 1 << -1 << true;
}

void TestFreePortSim::converterFaultsNeverShowAnotherReadsValues()
{
    QFETCH(bool, echo);
    QFETCH(int, loseFirst);
    QFETCH(int, duplicateMs);
    QFETCH(bool, reorder);
    fSim->Bus().WithModule(Module, [](TzSimModule &aModule, uint64_t aNow) { aModule.SetOutputState(3, true, aNow); });
    // Reads of one shape (one register, or one block) with different values, as a poll cycle asks.
    const QList<QByteArray> reads{Read(4, 36864, 1), Read(3, 28676, 1), Read(3, 28673, 1), Read(3, 60016, 1),
                                  Read(3, 28672, 1), Read(3, 28680, 1), Read(3, 60017, 3), Read(3, 60020, 3)};
    QList<QByteArray> expected;
    for (const QByteArray &read : reads) {
        const auto answer = fSim->Bus().HandleFrame(TSimBytes(read.begin(), read.end()));
        QVERIFY(answer);
        expected << Bytes(*answer);
    }
    QCOMPARE(expected[3], WithCrc(Hex("01 03 02 00 04"))); // output 3 is on

    fSim->Udp().SetEchoNumbers(echo);
    // The converter's serial side takes its time: answers come after the receive has begun.
    fSim->Faults().SetAnswerDelay(30);
    fSim->Faults().SetLoseFirst(loseFirst);
    fSim->Faults().SetDuplicateAfter(duplicateMs);
    fSim->Faults().SetReorder(reorder);
    auto port = EthernetEngine();
    QVERIFY(port);
    QVERIFY(port->Start());
    // Every read queued at once, so each goes out as soon as the one before has been answered.
    for (int round = 0; round < 3; ++round) {
        const size_t before = fAnswers.size();
        for (const QByteArray &read : reads)
            QVERIFY(port->SendCmd(read, Module));
        QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), before + size_t(reads.size()), 60000);
        for (int i = 0; i < reads.size(); ++i) {
            const TzAnswerRec &answer = fAnswers[before + size_t(i)];
            QCOMPARE(answer.ErrCode, ErrAnswerOK);
            QCOMPARE(answer.Answer.AsBytes(), expected[i]);
        }
    }
    if (duplicateMs >= 0)
        QVERIFY(Frames(*fSim, TzSimDirection::Sent).size() >= 2 * 3 * reads.size());
}

QTEST_GUILESS_MAIN(TestFreePortSim)
#include "tst_FreePortSim.moc"
