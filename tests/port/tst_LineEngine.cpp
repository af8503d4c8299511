// The line engine's timing and matching: every speed of the panel's lists, answers ended by their
// length or by the line's silence with the same outcomes, late answers that never become the next
// request's answer (over the line and over the converter), a block read at 1200 8E1 on a line
// that keeps time, one panel per converter port, and the worker's faults.

#include "PortTestPeers.h"
#include "diagnostics/uTempLog.h"
#include "port/U_Lanvey_Ethernet.h"
#include "port/uAnswerFit.h"
#include "port/uFreePort.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"

#include <QtTest>

class TestLineEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answerEndRulesAgree_data();
    void answerEndRulesAgree();
    void answerLengthsFromTheRequest_data();
    void answerLengthsFromTheRequest();
    void speedsWithoutATermiosCode_data();
    void speedsWithoutATermiosCode();
    void blockReadAt1200EvenParity_data();
    void blockReadAt1200EvenParity();
    void lateAnswersNeverShift_data();
    void lateAnswersNeverShift();

    void secondEngineOnTheConverterPortSendsNothing();
    void addressesOfARunningEngineStay();
    void transportRecreatedWhileStoppingEndsClosed();
    void exceptionInAnExchangeFailsThatRequestOnly();
    void exceptionInTheCallbackIsLogged();

private:
    std::unique_ptr<TzFreePort> SerialEngine(const QString &aPath, int aBaudRate, int aParity = 0);
    std::unique_ptr<TzFreePort> EthernetEngine(uint16_t aPort);

    std::vector<TzAnswerRec> fAnswers;
    std::unique_ptr<TzSimulator> fSim;
    TfrmTempLog *fLog = nullptr;
};

namespace {

constexpr int Module = 1;

QByteArray Read(int aFunction, int aRegister, int aCount, int aAddress = Module)
{
    QByteArray body;
    body.append(char(aAddress)).append(char(aFunction));
    body.append(char(aRegister >> 8)).append(char(aRegister & 0xFF));
    body.append(char(aCount >> 8)).append(char(aCount & 0xFF));
    return WithCrc(body);
}

QByteArray Corrupt(QByteArray aFrame)
{
    aFrame[aFrame.size() - 1] = char(aFrame.back() ^ 0x5A);
    return aFrame;
}

QByteArray BlockAnswer(int aRegisters)
{
    QByteArray body;
    body.append(char(Module)).append('\x03').append(char(2 * aRegisters));
    for (int i = 0; i < 2 * aRegisters; ++i)
        body.append(char(i));
    return WithCrc(body);
}

void SetModuleLine(TzSimulator &aSim, int aBaudRate, uint16_t aFormatCode = 4)
{
    QVERIFY(aSim.Bus().WithModule(Module, [&](TzSimModule &m, uint64_t) {
        QVERIFY(m.SetLineSettings(aBaudRate, aFormatCode));
    }));
}

} // namespace

void TestLineEngine::init()
{
    fAnswers.clear();
    fSim = std::make_unique<TzSimulator>();
    QVERIFY(fSim->Bus().AddModule(Module));
    fLog = new TfrmTempLog;
    EthernetHost = QStringLiteral("127.0.0.2");
    EthernetWaitTime = 200;
    EthernetTries = 3;
}

void TestLineEngine::cleanup()
{
    fSim.reset();
    delete fLog;
    fLog = nullptr;
}

std::unique_ptr<TzFreePort> TestLineEngine::SerialEngine(const QString &aPath, int aBaudRate, int aParity)
{
    auto port = SerialEngineAt(aPath, aBaudRate, aParity);
    port->SetOnAsyncAnswerProc([this](const TzAnswerRec &a) { fAnswers.push_back(a); });
    return port;
}

std::unique_ptr<TzFreePort> TestLineEngine::EthernetEngine(uint16_t aPort)
{
    EthernetPort = aPort;
    auto port = ConverterEngine();
    port->SetOnAsyncAnswerProc([this](const TzAnswerRec &a) { fAnswers.push_back(a); });
    return port;
}

// ---- how answers end ----

void TestLineEngine::answerEndRulesAgree_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("splitAt");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<uint>("gapCode"); // where the silence rule differs

    const QByteArray read1 = Read(3, 0, 1);
    const QByteArray good = WithCrc(Hex("01 03 02 12 34"));
    const QByteArray block = BlockAnswer(30);
    const QByteArray none;
    QTest::newRow("good") << read1 << good << 0 << uint(ErrAnswerOK) << good << uint(ErrAnswerOK);
    QTest::newRow("exception") << read1 << WithCrc(Hex("01 83 02")) << 0 << uint(ErrAnswerOK)
                               << WithCrc(Hex("01 83 02")) << uint(ErrAnswerOK);
    QTest::newRow("short") << read1 << Hex("01 03 02 12") << 0 << uint(ErrAnswerCRC) << none << uint(ErrAnswerCRC);
    QTest::newRow("bad CRC") << read1 << Corrupt(good) << 0 << uint(ErrAnswerCRC) << none << uint(ErrAnswerCRC);
    QTest::newRow("split across reads") << Read(3, 60017, 30) << block << 9 << uint(ErrAnswerOK) << block
                                        << uint(ErrAnswerOK);
    QTest::newRow("split exception") << read1 << WithCrc(Hex("01 83 02")) << 2 << uint(ErrAnswerOK)
                                     << WithCrc(Hex("01 83 02")) << uint(ErrAnswerOK);
    QTest::newRow("another address") << read1 << WithCrc(Hex("02 03 02 12 34")) << 0 << uint(ErrNoAnswer) << none
                                     << uint(ErrNoAnswer);
    QTest::newRow("another function") << read1 << WithCrc(Hex("01 04 02 12 34")) << 0 << uint(ErrNoAnswer) << none
                                      << uint(ErrNoAnswer);
    QTest::newRow("another byte count") << read1 << WithCrc(Hex("01 03 04 12 34 56 78")) << 0 << uint(ErrNoAnswer)
                                        << none << uint(ErrNoAnswer);
    QTest::newRow("write echo") << WithCrc(Hex("01 06 70 00 25 80")) << WithCrc(Hex("01 06 70 00 25 80")) << 0
                                << uint(ErrAnswerOK) << WithCrc(Hex("01 06 70 00 25 80")) << uint(ErrAnswerOK);
    // The panel's own function 16 frames carry no quantity: only the silence can end their echo.
    QTest::newRow("non-standard function 16")
        << WithCrc(Hex("01 10 70 00 25 80")) << WithCrc(Hex("01 10 70 00 00 01")) << 0 << uint(ErrAnswerOK)
        << WithCrc(Hex("01 10 70 00 00 01")) << uint(ErrAnswerOK);
    // The one named difference: bytes after a complete valid frame are drained, not appended.
    QTest::newRow("trailing garbage") << read1 << good + Hex("FF 00") << 0 << uint(ErrAnswerOK) << good
                                      << uint(ErrAnswerCRC);
}

void TestLineEngine::answerEndRulesAgree()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, splitAt);
    QFETCH(uint, code);
    QFETCH(QByteArray, answer);
    QFETCH(uint, gapCode);
    const QByteArray follow = Read(4, 5, 1);
    const QByteArray followAnswer = WithCrc(Hex("01 04 02 00 07"));
    for (AnswerEnd rule : {AnswerEnd::Length, AnswerEnd::Gap}) {
        const bool byLength = rule == AnswerEnd::Length;
        fAnswers.clear();
        TPtyPair pty;
        QVERIFY(pty.Ok());
        TScriptedDevice device(pty.MasterFd,
                               [&](const QByteArray &aRequest) { return aRequest == follow ? followAnswer : reply; });
        device.SplitReplies(splitAt, 20);
        auto port = SerialEngine(pty.SlavePath, 9600);
        port->SetAnswerEnd(rule);
        QVERIFY(port->Start());
        QVERIFY(port->SendCmd(TStringBytes(request), Module));
        QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
        QCOMPARE(fAnswers[0].ErrCode, byLength ? code : gapCode);
        if (fAnswers[0].ErrCode == ErrAnswerOK)
            QCOMPARE(fAnswers[0].Answer.AsBytes(), byLength ? answer : reply);
        else
            QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
        // Nothing of the first answer spills into the next exchange.
        QVERIFY(port->SendCmd(TStringBytes(follow), Module));
        QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
        QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
        QCOMPARE(fAnswers[1].Answer.AsBytes(), followAnswer);
        QCOMPARE(device.RequestCount(), 2);
    }
}

void TestLineEngine::answerLengthsFromTheRequest_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<uint>("needed");
    const uint unknown = AnswerNeedUnknown;
    const QByteArray read8 = Read(3, 60017, 8);
    QTest::newRow("nothing yet") << read8 << QByteArray() << 5u;
    QTest::newRow("address and function") << read8 << Hex("01 03") << 1u;
    QTest::newRow("byte count known") << read8 << Hex("01 03 10") << 18u;
    QTest::newRow("complete read") << read8 << BlockAnswer(8) << 0u;
    QTest::newRow("complete, bad CRC") << read8 << Corrupt(BlockAnswer(8)) << unknown;
    QTest::newRow("exception") << read8 << WithCrc(Hex("01 83 02")) << 0u;
    QTest::newRow("foreign address") << read8 << Hex("07 03 10") << unknown;
    QTest::newRow("wrong byte count") << read8 << Hex("01 03 02") << unknown;
    QTest::newRow("coils") << Read(1, 4096, 9) << Hex("01 01 02") << 4u;
    QTest::newRow("single write") << WithCrc(Hex("01 05 10 00 FF 00")) << Hex("01 05") << 6u;
    QTest::newRow("standard function 16")
        << WithCrc(Hex("01 10 00 10 00 02 04 00 01 00 02")) << WithCrc(Hex("01 10 00 10 00 02")) << 0u;
    QTest::newRow("panel's function 16") << WithCrc(Hex("01 10 70 00 25 80")) << Hex("01 10") << unknown;
    QTest::newRow("broadcast") << Read(3, 0, 1, 0) << QByteArray() << unknown;
    QTest::newRow("126 registers") << Read(3, 0, 126) << QByteArray() << unknown;
}

void TestLineEngine::answerLengthsFromTheRequest()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, received);
    QFETCH(uint, needed);
    QCOMPARE(AnswerBytesNeeded(reinterpret_cast<const uint8_t *>(request.constData()), uint32_t(request.size()),
                               reinterpret_cast<const uint8_t *>(received.constData()), uint32_t(received.size())),
             needed);
}

// ---- speeds and timing ----

void TestLineEngine::speedsWithoutATermiosCode_data()
{
    QTest::addColumn<int>("speed");
    QTest::newRow("14400") << 14400;
    QTest::newRow("28800") << 28800;
}

void TestLineEngine::speedsWithoutATermiosCode()
{
    QFETCH(int, speed);
    SetModuleLine(*fSim, speed);
    const QString path = QString::fromStdString(fSim->StartPty());
    QVERIFY(!path.isEmpty());
    {
        auto port = SerialEngine(path, speed);
        QVERIFY(port->Start());
        for (int i = 0; i < 3; ++i) {
            QVERIFY(port->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
            QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(i + 1), 20000);
            QCOMPARE(fAnswers[size_t(i)].ErrCode, ErrAnswerOK);
            QCOMPARE(fAnswers[size_t(i)].Answer.AsBytes(), WithCrc(Hex("01 04 02 00 49")));
        }
    }
    // The simulator really compares the speed: at another one the module stays silent.
    fAnswers.clear();
    auto wrong = SerialEngine(path, 19200);
    QVERIFY(wrong->Start());
    QVERIFY(wrong->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrNoAnswer);
}

void TestLineEngine::blockReadAt1200EvenParity_data()
{
    QTest::addColumn<int>("rule");
    QTest::newRow("length") << int(AnswerEnd::Length);
    QTest::newRow("gap") << int(AnswerEnd::Gap);
}

void TestLineEngine::blockReadAt1200EvenParity()
{
    QFETCH(int, rule);
    SetModuleLine(*fSim, 1200, 6); // RTU 8E1
    fSim->Serial().SetPacing({true, 'E', 1, 500});
    const QString path = QString::fromStdString(fSim->StartPty());
    QVERIFY(!path.isEmpty());
    auto port = SerialEngine(path, 1200, 2);
    port->SetAnswerEnd(AnswerEnd(rule));
    QVERIFY2(port->Start(), qPrintable(QString::number(port->Port->ErrorCode)));
    // 8 request characters (73 ms), the frame gap (32 ms) and 65 answer characters (596 ms) of
    // 11 bits: over the 655 ms total wait unless it counts from the end of transmission.
    QVERIFY(port->SendCmd(TStringBytes(Read(3, 60017, 30)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(65));
    // The simulator kept the line's time.
    QVERIFY2(fAnswers[0].Time >= 660, qPrintable(QString::number(fAnswers[0].Time)));
}

// ---- late answers ----

void TestLineEngine::lateAnswersNeverShift_data()
{
    QTest::addColumn<bool>("converter");
    QTest::addColumn<int>("rule");
    QTest::newRow("line, length") << false << int(AnswerEnd::Length);
    QTest::newRow("line, gap") << false << int(AnswerEnd::Gap);
    QTest::newRow("converter") << true << int(AnswerEnd::Length);
}

void TestLineEngine::lateAnswersNeverShift()
{
    QFETCH(bool, converter);
    QFETCH(int, rule);
    // Two reads whose answers look alike (function 4, one register): only the timing tells them
    // apart. Every answer leaves later than the engine waits for it.
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetPowerStatus(0x0001); });
    std::unique_ptr<TzFreePort> port;
    if (converter) {
        const uint16_t udp = FreeUdpPort();
        QVERIFY(fSim->StartUdp("127.0.0.2", udp));
        port = EthernetEngine(udp);
    } else {
        const QString path = QString::fromStdString(fSim->StartPty());
        QVERIFY(!path.isEmpty());
        port = SerialEngine(path, 9600);
    }
    port->SetAnswerEnd(AnswerEnd(rule));
    QVERIFY(port->Start());
    // Two prompt exchanges first, as the panel's probe and first read are: two answers in a row
    // with their own sequence numbers show that the converter echoes them.
    QVERIFY(port->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QVERIFY(port->SendCmd(TStringBytes(Read(4, 36865, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
    fAnswers.clear();
    fSim->Faults().SetAnswerDelay(700);
    const QByteArray voltage = Read(4, 24582, 1);
    const QByteArray status = Read(4, 36881, 1);
    std::map<uint32_t, QByteArray> asked;
    for (int round = 0; round < 3; ++round) {
        for (const QByteArray &request : {voltage, status}) {
            const std::optional<uint32_t> uid = port->SendCmd(TStringBytes(request), Module);
            QVERIFY(uid);
            asked[*uid] = request;
        }
        QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2 * round + 2), 60000);
    }
    for (const TzAnswerRec &a : fAnswers)
        QCOMPARE(a.ErrCode, ErrNoAnswer);
    // The module did answer every one of them, only too late.
    QTRY_VERIFY_WITH_TIMEOUT(fSim->Log().Frames(TzSimDirection::Sent).size() >= 6, 20000);

    // Once the module is quick again, each request gets its own answer.
    fSim->Faults().SetAnswerDelay(0);
    QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Frames(TzSimDirection::Sent).size(),
                              fSim->Log().Frames(TzSimDirection::Received).size(), 20000);
    fAnswers.clear();
    asked.clear();
    for (const QByteArray &request : {voltage, status}) {
        const std::optional<uint32_t> uid = port->SendCmd(TStringBytes(request), Module);
        QVERIFY(uid);
        asked[*uid] = request;
    }
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    for (const TzAnswerRec &a : fAnswers) {
        QCOMPARE(a.ErrCode, ErrAnswerOK);
        if (asked[a.UID] == status)
            QCOMPARE(a.Answer.AsBytes(), WithCrc(Hex("01 04 02 00 01")));
        else
            QVERIFY(a.Answer.AsBytes() != WithCrc(Hex("01 04 02 00 01")));
    }
}

// ---- the converter's port ----

void TestLineEngine::secondEngineOnTheConverterPortSendsNothing()
{
    const uint16_t udp = FreeUdpPort();
    QVERIFY(fSim->StartUdp("127.0.0.2", udp));
    auto first = EthernetEngine(udp);
    QVERIFY(first->Start());
    auto second = EthernetEngine(udp);
    QVERIFY(!second->Start()); // "the local port is used by another program"
    QVERIFY(!second->SendCmd(TStringBytes(Read(4, 36864, 1)), Module) || !second->Port->isRunning());

    // The first engine and the simulated converter beside it work on.
    QVERIFY(first->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(fSim->Log().Frames(TzSimDirection::Received).size(), size_t(1));

    // Released with the first engine, the port serves a new one.
    first.reset();
    second.reset();
    auto third = EthernetEngine(udp);
    QVERIFY(third->Start());
    QVERIFY(third->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
}

void TestLineEngine::addressesOfARunningEngineStay()
{
    const uint16_t udp = FreeUdpPort();
    QVERIFY(fSim->StartUdp("127.0.0.2", udp));
    auto port = EthernetEngine(udp);
    QVERIFY(port->Start());
    QVERIFY(!port->SetIpAndPort(QStringLiteral("127.0.0.9"), 1234));
    QCOMPARE(port->Port->CurrentECS()->Addresses().at(0).IP, QByteArray("127.0.0.2"));
    QVERIFY(port->Port->CurrentECS()->SocketEntry(0).RecvBind);
    QVERIFY(port->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    port->Stop();
    QVERIFY(port->SetIpAndPort(QStringLiteral("127.0.0.9"), 1234));
}

void TestLineEngine::transportRecreatedWhileStoppingEndsClosed()
{
    // Every send fails, so the worker re-creates its transport again and again while the
    // engine is stopped; the transport left in place must be closed and the port free.
    class TFailingTransport : public TEthernet_COM_Simulator
    {
    public:
        void Send(const TStringBytes &) override { throw ESocketError("sendto"); }
    };
    const uint16_t udp = FreeUdpPort();
    EthernetPort = udp;
    for (int round = 0; round < 20; ++round) {
        TzFreePort port(1);
        port.SetTransportFactory([] { return std::make_unique<TFailingTransport>(); });
        port.SetByEthernet(true);
        QVERIFY(port.Start());
        QVERIFY(port.SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
        QTest::qWait(round % 4);
        port.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(!port.Port->CurrentECS()->SocketEntry(0).Open, 20000);
        // Give a late re-creation its chance, then look again.
        QTest::qWait(5);
        QVERIFY(!port.Port->CurrentECS()->SocketEntry(0).Open);
    }
    TzFreePort after(1);
    after.SetByEthernet(true);
    QVERIFY(after.Start());
}

// ---- faults inside the worker ----

void TestLineEngine::exceptionInAnExchangeFailsThatRequestOnly()
{
    // The first transport fails its send; re-creating it fails as well (the maker throws), so
    // the exchange ends in an exception nobody expected. The next request finds a good one.
    class TFailingTransport : public TEthernet_COM_Simulator
    {
    public:
        void Send(const TStringBytes &) override { throw ESocketError("sendto"); }
    };
    const uint16_t udp = FreeUdpPort();
    QVERIFY(fSim->StartUdp("127.0.0.2", udp));
    EthernetPort = udp;
    int made = 0;
    TzFreePort port(1);
    port.SetTransportFactory([&made]() -> std::unique_ptr<TEthernet_COM_Simulator> {
        ++made;
        if (made == 1)
            return std::make_unique<TFailingTransport>();
        if (made == 2)
            throw std::runtime_error("no transport");
        return std::make_unique<TEthernet_COM_Simulator>();
    });
    port.SetByEthernet(true);
    port.SetOnAsyncAnswerProc([this](const TzAnswerRec &a) { fAnswers.push_back(a); });
    QVERIFY(port.Start());
    QVERIFY(port.SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrPortFailure);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
    QVERIFY(fLog->Lines().contains(QStringLiteral("Ошибка: no transport")));
    QCOMPARE(fLog->LineColor(int(fLog->Lines().indexOf(QStringLiteral("Ошибка: no transport")))), LogNavy);

    QVERIFY(port.SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
}

void TestLineEngine::exceptionInTheCallbackIsLogged()
{
    const QString path = QString::fromStdString(fSim->StartPty());
    QVERIFY(!path.isEmpty());
    auto port = SerialEngine(path, 9600);
    int calls = 0;
    port->SetOnAsyncAnswerProc([&](const TzAnswerRec &a) {
        fAnswers.push_back(a);
        if (++calls == 1)
            throw std::runtime_error("callback failed");
    });
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(TStringBytes(Read(4, 36864, 1)), Module));
    QVERIFY(port->SendCmd(TStringBytes(Read(4, 36865, 1)), Module));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].ErrCode, ErrAnswerOK);
    QVERIFY(fLog->Lines().contains(QStringLiteral("Ошибка: callback failed")));
    QTRY_VERIFY_WITH_TIMEOUT(!port->HandOverPending(), 20000);
}

QTEST_MAIN(TestLineEngine)
#include "tst_LineEngine.moc"
