// The port engine end to end: libmodbus as the slave on a pty, scripted devices for the faults,
// a UDP peer as the converter, and the hand-over under stop and destroy.

#include "PortTestPeers.h"
#include "port/U_Lanvey_Ethernet.h"
#include "port/uFreePort.h"
#include "port/uSerialLine.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <thread>

class TestFreePort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void placement_data();
    void placement();
    void emptyAndDuplicateFramesAreRefused();
    void requestNumbersWrapAfter20000000();
    void queueCountsFollowEveryChange();
    void duplicateCheckFollowsServedFailedAndClearedRequests();

    void libmodbusSlaveAnswersThroughTheEngine();
    void faultyDevices_data();
    void faultyDevices();
    void withoutCallbackRequestsAreStillServed();
    void unpluggedDeviceGivesPortFailure();
    void startOnHeldOrAbsentPortFails();
    void stopKeepsTheWorkerAndFailsWhatIsQueued();
    void callbackMayQueueAndStop();

    void destroyWhileAHandOverIsPending();
    void destroyDuringALongRead();
    void destroyFromInsideTheCallback();

    void ethernetExchange();
    void silentConverterIsTriedEthernetTriesTimes_data();
    void silentConverterIsTriedEthernetTriesTimes();
    void ethernetStartFailsWhenNoSocketCanBeBound();
    void stopDuringEthernetWaitEndsTheExchangeAtOnce();
    void failingTransportIsRecreated();

private:
    std::vector<TzAnswerRec> fAnswers;
    TAsyncAnswer Collector()
    {
        return [this](const TzAnswerRec &a) { fAnswers.push_back(a); };
    }
    // An engine on the pty, its answers collected, started; nullptr when it does not start.
    std::unique_ptr<TzFreePort> StartedEngine(const TPtyPair &aPty,
                                              const TzLineTimeouts &aTimeouts = ModbusLineTimeouts);
    // The same through the converter of EthernetHost/EthernetPort, as the port numbered aComPort.
    std::unique_ptr<TzFreePort> StartedConverterEngine(int aComPort = 1, bool aFinding = false);
};

namespace {

const char *ConverterIP = "127.0.0.2";

QByteArray ReadHolding(int aAddr, int aRegister, int aCount)
{
    QByteArray body;
    body.append(char(aAddr)).append('\x03');
    body.append(char(aRegister >> 8)).append(char(aRegister & 0xFF));
    body.append(char(aCount >> 8)).append(char(aCount & 0xFF));
    return WithCrc(body);
}

// An engine on the pty with the panel's line settings and time-outs.
std::unique_ptr<TzFreePort> SerialEngine(const TPtyPair &aPty, const TzLineTimeouts &aTimeouts = ModbusLineTimeouts)
{
    return SerialEngineAt(aPty.SlavePath, 9600, 0, aTimeouts);
}

} // namespace

std::unique_ptr<TzFreePort> TestFreePort::StartedEngine(const TPtyPair &aPty, const TzLineTimeouts &aTimeouts)
{
    auto port = SerialEngine(aPty, aTimeouts);
    port->SetOnAsyncAnswerProc(Collector());
    if (!port->Start())
        return nullptr;
    return port;
}

std::unique_ptr<TzFreePort> TestFreePort::StartedConverterEngine(int aComPort, bool aFinding)
{
    auto port = std::make_unique<TzFreePort>(aComPort);
    port->SetByEthernet(true);
    port->SetByEthernetFinding(aFinding);
    port->SetOnAsyncAnswerProc(Collector());
    if (!port->Start())
        return nullptr;
    return port;
}

namespace {

QList<QByteArray> Queue(TzFreePort &aPort)
{
    std::lock_guard lock(*aPort.Port->CS);
    QList<QByteArray> frames;
    for (const auto &request : aPort.Port->RequestList)
        frames << request->Cmd.AsBytes();
    return frames;
}

// The converter: answers each request datagram with the payload Reply gives (none when empty).
class TConverter
{
public:
    using TReply = std::function<QByteArray(const QByteArray &aFrame)>;
    TConverter(uint16_t aPort, TReply aReply)
        : fPeer(ConverterIP, aPort), fThread([this, aPort, reply = std::move(aReply)](std::stop_token aStop) {
              while (!aStop.stop_requested()) {
                  const QByteArray datagram = fPeer.Receive(50);
                  if (datagram.size() < 5)
                      continue;
                  ++fReceived;
                  const QByteArray payload = reply(datagram.mid(5));
                  if (!payload.isEmpty()) {
                      QByteArray answer;
                      answer.append('\x10').append(char(payload.size())).append(datagram.mid(2, 2)).append('\x10');
                      fPeer.SendTo("127.0.0.1", aPort, answer + payload);
                  }
              }
          })
    {
    }
    int Received() const { return fReceived; }

private:
    TUdpPeer fPeer;
    std::atomic<int> fReceived{0};
    std::jthread fThread;
};

struct TEthernetSettings
{
    TEthernetSettings(uint16_t aPort, int aWait, int aTries)
    {
        EthernetHost = QString::fromLatin1(ConverterIP);
        EthernetPort = aPort;
        EthernetWaitTime = aWait;
        EthernetTries = aTries;
    }
    ~TEthernetSettings()
    {
        EthernetHost = QString::fromLatin1(EthernetFactoryHost);
        EthernetPort = 40000;
        EthernetWaitTime = 200;
        EthernetTries = 3;
    }
};

} // namespace

void TestFreePort::init()
{
    fAnswers.clear();
}

void TestFreePort::cleanup()
{
    fAnswers.clear();
}

// ---- queue ----

void TestFreePort::placement_data()
{
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("expectedIndex");
    QTest::newRow("priority 1, empty queue: appended") << 0 << 1 << 0;
    QTest::newRow("priority 1, (A): in front") << 1 << 1 << 0;
    QTest::newRow("priority 1, (A, B): between") << 2 << 1 << 1;
    QTest::newRow("priority 1, (A, B, C): index 1") << 3 << 1 << 1;
    QTest::newRow("priority 1, five queued: index 1") << 5 << 1 << 1;
    QTest::newRow("priority 3, five queued: index 3") << 5 << 3 << 3;
    QTest::newRow("priority 4, five queued: before the last") << 5 << 4 << 4;
    QTest::newRow("priority 10, three queued: before the last") << 3 << 10 << 2;
    QTest::newRow("priority 0: tail") << 3 << 0 << 3;
    QTest::newRow("negative priority: tail") << 3 << -5 << 3;
}

void TestFreePort::placement()
{
    QFETCH(int, queued);
    QFETCH(int, priority);
    QFETCH(int, expectedIndex);
    TzFreePort port(1); // never started: the queue only fills
    QList<QByteArray> expected;
    for (int i = 0; i < queued; ++i) {
        QVERIFY(port.SendCmd(ReadHolding(1, i, 1), 1));
        expected << ReadHolding(1, i, 1);
    }
    const QByteArray forced = ReadHolding(2, 0, 1);
    QCOMPARE(port.SendCmdForce(forced, 2, priority), std::optional<uint32_t>(queued + 1));
    expected.insert(expectedIndex, forced);
    QCOMPARE(Queue(port), expected);
    QCOMPARE(port.Port->RequestList[expectedIndex]->UID, uint32_t(queued + 1));
    QCOMPARE(port.Port->RequestList[expectedIndex]->DevAddr, 2);
}

void TestFreePort::emptyAndDuplicateFramesAreRefused()
{
    TzFreePort port(1);
    QVERIFY(!port.SendCmd(TStringBytes(QByteArray()), 1));
    QVERIFY(!port.SendCmd(TStringBytes(), 1));
    QCOMPARE(port.Port->IssuedUID(), 0u);
    QCOMPARE(port.SendCmd(ReadHolding(1, 0, 1), 1), std::optional<uint32_t>(1));
    QCOMPARE(port.SendCmd(ReadHolding(1, 1, 1), 1), std::optional<uint32_t>(2));
    QVERIFY(!port.SendCmd(ReadHolding(1, 0, 1), 1));
    QVERIFY(!port.SendCmdForce(ReadHolding(1, 1, 1), 1, 1));
    QCOMPARE(port.Port->IssuedUID(), 2u);
    // A prefix of a queued frame is a different frame.
    QVERIFY(port.SendCmd(ReadHolding(1, 0, 1).left(7), 1));
    QCOMPARE(port.Port->RequestList.size(), size_t(3));
    port.ClearRequestList();
    QVERIFY(port.Port->RequestList.empty());
    QCOMPARE(port.SendCmd(ReadHolding(1, 0, 1), 1), std::optional<uint32_t>(4));
}

void TestFreePort::requestNumbersWrapAfter20000000()
{
    TzFreePort port(1);
    port.Port->SetIssuedUID(19999999);
    QList<uint32_t> numbers;
    for (int i = 0; i < 3; ++i) {
        // 0 is a number like any other: the refusal is told apart by the missing value.
        const std::optional<uint32_t> uid = port.SendCmd(ReadHolding(1, i, 1), 1);
        QVERIFY(uid.has_value());
        numbers << *uid;
    }
    QCOMPARE(numbers, (QList<uint32_t>{20000000, 0, 1}));
    QCOMPARE(port.Port->RequestList[1]->UID, 0u);
}

void TestFreePort::queueCountsFollowEveryChange()
{
    // Random inserts at any place, removals by identity and clears, against a plain list: the
    // constant-time check must answer as a walk over the list would, after every step.
    TzRequestQueue queue;
    std::vector<TzRequestQueue::TItem> model;
    QRandomGenerator random(1715);
    auto frame = [](int aRegister) { return ReadHolding(1, aRegister, 1); };
    for (int step = 0; step < 5000; ++step) {
        const int action = random.bounded(100);
        if (action < 55) {
            auto request = std::make_shared<TzReq>();
            request->Cmd = frame(random.bounded(40)); // copies of a frame happen, as after a clear
            const size_t at = size_t(random.bounded(int(model.size()) + 2)); // past the tail appends
            queue.Insert(at, request);
            model.insert(model.begin() + std::ptrdiff_t(std::min(at, model.size())), request);
        } else if (action < 97 && !model.empty()) {
            const size_t at = size_t(random.bounded(int(model.size())));
            QVERIFY(queue.Remove(model[at]));
            QVERIFY(!queue.Remove(model[at])); // already out: nothing else changes
            model.erase(model.begin() + std::ptrdiff_t(at));
        } else if (action >= 97) {
            queue.clear();
            model.clear();
        }
        QCOMPARE(queue.size(), model.size());
        for (int reg = 0; reg < 40; ++reg) {
            const bool walked = std::any_of(model.begin(), model.end(),
                                            [&](const auto &r) { return r->Cmd.AsBytes() == frame(reg); });
            QVERIFY2(queue.Contains(frame(reg)) == walked,
                     qPrintable(QStringLiteral("step %1, register %2").arg(step).arg(reg)));
        }
        for (size_t i = 0; i < model.size(); ++i)
            QVERIFY(queue[i] == model[i]);
    }
}

void TestFreePort::duplicateCheckFollowsServedFailedAndClearedRequests()
{
    // Register 0 is answered slowly, register 1 never (a failed exchange).
    TPtyPair pty;
    TScriptedDevice device(pty.MasterFd, [](const QByteArray &aRequest) {
        if (aRequest == ReadHolding(1, 0, 1)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return WithCrc(Hex("01 03 02 00 07"));
        }
        return QByteArray();
    });
    auto port = StartedEngine(pty, {50, 1, 100, 50, 100});
    QVERIFY(port);

    const QByteArray slow = ReadHolding(1, 0, 1), silent = ReadHolding(1, 1, 1), forced = ReadHolding(1, 2, 1);
    const std::optional<uint32_t> original = port->SendCmd(slow, 1);
    QVERIFY(original);
    QVERIFY(port->SendCmd(silent, 1));
    QVERIFY(port->SendCmdForce(forced, 1, 1));
    // Refused while queued, also while on the line, wherever the forced insert put them.
    QTRY_COMPARE_WITH_TIMEOUT(device.RequestCount(), 1, 20000);
    for (const QByteArray &frame : {slow, silent, forced})
        QVERIFY(!port->SendCmd(frame, 1));

    // Dropped from the queue while its exchange runs: an identical frame is accepted, and the
    // outcome of the dropped one does not take the new copy's place in the check.
    port->ClearRequestList();
    const std::optional<uint32_t> copy = port->SendCmd(slow, 1);
    QVERIFY(copy);
    QVERIFY(!port->SendCmd(slow, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!fAnswers.empty(), 20000);
    QCOMPARE(fAnswers[0].UID, *original);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QVERIFY(!port->SendCmd(slow, 1)); // the copy is still queued (its answer takes 300 ms)

    // Once served, and once failed, a frame is accepted again.
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].UID, *copy);
    QVERIFY(port->SendCmd(silent, 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(3), 20000);
    QCOMPARE(fAnswers[2].ErrCode, ErrNoAnswer);
    QVERIFY(port->SendCmd(silent, 1));
    QVERIFY(port->SendCmd(slow, 1));
    QVERIFY(port->SendCmdForce(forced, 1, 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(6), 20000);
    QVERIFY(Queue(*port).isEmpty());
    QCOMPARE(port->Port->RequestList.DistinctFrames(), size_t(0));
}

// ---- serial exchanges ----

void TestFreePort::libmodbusSlaveAnswersThroughTheEngine()
{
    TPtyPair pty;
    TLibmodbusSlave slave(pty.MasterFd);
    auto port = StartedEngine(pty);
    QVERIFY(port);

    const std::optional<uint32_t> queued = port->SendCmd(ReadHolding(1, 5, 1), 1);
    QVERIFY(queued);
    const uint32_t first = *queued;
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 8), 1));
    // Register 200 does not exist: the exception answer is an ordinary, well-checked frame.
    QVERIFY(port->SendCmd(ReadHolding(1, 200, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(3), 20000);

    QCOMPARE(fAnswers[0].UID, first);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[0].Answer.AsBytes(), WithCrc(Hex("01 03 02 10 05")));
    QCOMPARE(fAnswers[0].ComPort, port->ComPort());
    QCOMPARE(fAnswers[1].Answer.AsBytes(), WithCrc(Hex("01 03 10 10 00 10 01 10 02 10 03 10 04 10 05 10 06 10 07")));
    QCOMPARE(fAnswers[2].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[2].Answer.AsBytes(), WithCrc(Hex("01 83 02")));
    QCOMPARE(slave.Served(), 3);

    // Once its outcome is delivered, the same frame is accepted again with a new number.
    QCOMPARE(port->SendCmd(ReadHolding(1, 5, 1), 1), std::optional<uint32_t>(first + 3));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(4), 20000);
    QCOMPARE(fAnswers[3].UID, first + 3);
}

void TestFreePort::faultyDevices_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<uint>("errCode");
    QTest::addColumn<int>("minTime");
    QTest::newRow("corrupted byte") << "corrupt" << uint(ErrAnswerCRC) << 0;
    QTest::newRow("checksum bytes swapped") << "swapped" << uint(ErrAnswerCRC) << 0;
    QTest::newRow("one byte only") << "short" << uint(ErrAnswerCRC) << 0;
    // 1 x 255 + 400 ms of silence with the panel's time-outs.
    QTest::newRow("silent device") << "silent" << uint(ErrNoAnswer) << 650;
}

void TestFreePort::faultyDevices()
{
    QFETCH(QString, fault);
    QFETCH(uint, errCode);
    QFETCH(int, minTime);
    TPtyPair pty;
    TScriptedDevice device(pty.MasterFd, [fault](const QByteArray &) {
        QByteArray answer = WithCrc(Hex("01 03 02 00 49"));
        if (fault == "corrupt")
            answer[3] = char(answer[3] ^ 0x01);
        else if (fault == "swapped")
            std::swap(answer[5], answer[6]);
        else if (fault == "short")
            answer = answer.left(1);
        else
            answer.clear();
        return answer;
    });
    auto port = StartedEngine(pty);
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, errCode);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
    QVERIFY2(fAnswers[0].Time >= uint32_t(minTime), qPrintable(QString::number(fAnswers[0].Time)));
    QCOMPARE(device.Requests().at(0), ReadHolding(1, 0, 1));
}

void TestFreePort::withoutCallbackRequestsAreStillServed()
{
    TPtyPair pty;
    TLibmodbusSlave slave(pty.MasterFd);
    auto port = SerialEngine(pty);
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QVERIFY(port->SendCmd(ReadHolding(1, 1, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(slave.Served(), 2, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(Queue(*port).isEmpty(), 20000);
}

void TestFreePort::unpluggedDeviceGivesPortFailure()
{
    TPtyPair pty;
    TScriptedDevice device(pty.MasterFd, [&pty](const QByteArray &) {
        pty.Unplug();
        return QByteArray();
    });
    auto port = StartedEngine(pty, {50, 1, 5000, 50, 100});
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrPortFailure);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
    // The line stays gone for what follows.
    QVERIFY(port->SendCmd(ReadHolding(1, 1, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[1].ErrCode, ErrPortFailure);
}

void TestFreePort::startOnHeldOrAbsentPortFails()
{
    TPtyPair pty;
    TzSerialLine holder;
    QVERIFY(holder.Open(pty.SlavePath.toStdString()));
    auto port = SerialEngine(pty);
    QVERIFY(!port->Start());
    QCOMPARE(port->Port->ErrorCode.load(), OpenErrCreateFile);
    QVERIFY(!port->Port->isRunning());
    port.reset(); // Destroy completes with a worker that never ran

    TzFreePort absent(QStringLiteral("/dev/quadrel-no-such-port7"));
    QCOMPARE(absent.ComPort(), 7);
    QVERIFY(!absent.Start());
    QVERIFY(!absent.Port->isRunning());

    // A line the engine cannot set up fails at the settings step.
    holder.Close();
    auto badSpeed = SerialEngine(pty);
    badSpeed->LocDCB().ByteSize = 9;
    QVERIFY(!badSpeed->Start());
    QCOMPARE(badSpeed->Port->ErrorCode.load(), OpenErrSetCommState);
}

void TestFreePort::stopKeepsTheWorkerAndFailsWhatIsQueued()
{
    TPtyPair pty;
    TLibmodbusSlave slave(pty.MasterFd);
    auto port = StartedEngine(pty);
    QVERIFY(port);
    QVERIFY(port->Stop());
    QVERIFY(port->Port->isRunning());
    QVERIFY(!port->Port->IsActive());
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QVERIFY(port->SendCmd(ReadHolding(1, 1, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(2), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrPortFailure);
    QCOMPARE(fAnswers[1].ErrCode, ErrPortFailure);
    QCOMPARE(slave.Served(), 0);
    QVERIFY(port->Stop()); // stopping twice is harmless
}

void TestFreePort::callbackMayQueueAndStop()
{
    TPtyPair pty;
    TLibmodbusSlave slave(pty.MasterFd);
    auto port = SerialEngine(pty);
    TzFreePort *engine = port.get();
    port->SetOnAsyncAnswerProc([&](const TzAnswerRec &aAnswer) {
        fAnswers.push_back(aAnswer);
        if (fAnswers.size() == 1)
            QVERIFY(engine->SendCmd(ReadHolding(1, 9, 1), 1)); // no lock is held here
        else if (fAnswers.size() == 2)
            engine->Stop();
    });
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QVERIFY(port->SendCmd(ReadHolding(1, 1, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(3), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    // The request queued by the callback went behind the one already waiting.
    QCOMPARE(fAnswers[1].Answer.AsBytes(), WithCrc(Hex("01 03 02 10 01")));
    QCOMPARE(fAnswers[2].ErrCode, ErrPortFailure);
}

// ---- hand-over under stop and destroy ----

void TestFreePort::destroyWhileAHandOverIsPending()
{
    TPtyPair pty;
    TLibmodbusSlave slave(pty.MasterFd);
    auto port = StartedEngine(pty);
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    // No events are processed here, so the worker stays in its hand-over.
    QElapsedTimer timer;
    timer.start();
    while (!port->HandOverPending() && timer.elapsed() < 20000)
        QThread::msleep(5);
    QVERIFY(port->HandOverPending());
    port.reset();
    // The posted delivery finds its engine gone and does nothing.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QVERIFY(fAnswers.empty());
}

void TestFreePort::destroyDuringALongRead()
{
    TPtyPair pty;
    TScriptedDevice device(pty.MasterFd, [](const QByteArray &) { return QByteArray(); });
    auto port = StartedEngine(pty, {0, 0, 120000, 0, 0});
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(device.RequestCount(), 1, 20000);
    QElapsedTimer timer;
    timer.start();
    port.reset();
    // Far less than the two minutes the read would take.
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QCoreApplication::processEvents();
    QVERIFY(fAnswers.empty());
}

void TestFreePort::destroyFromInsideTheCallback()
{
    TPtyPair pty;
    TLibmodbusSlave slave(pty.MasterFd);
    TzFreePort *port = SerialEngine(pty).release();
    bool destroyed = false;
    port->SetOnAsyncAnswerProc([&](const TzAnswerRec &aAnswer) {
        fAnswers.push_back(aAnswer);
        delete port;
        port = nullptr;
        destroyed = true;
    });
    QVERIFY(port->Start());
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QVERIFY(port->SendCmd(ReadHolding(1, 1, 1), 1));
    QTRY_VERIFY_WITH_TIMEOUT(destroyed, 20000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCOMPARE(fAnswers.size(), size_t(1));
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
}

// ---- Ethernet ----

void TestFreePort::ethernetExchange()
{
    const uint16_t udpPort = FreeUdpPort();
    TEthernetSettings settings(udpPort, 200, 3);
    TConverter converter(udpPort, [](const QByteArray &aFrame) {
        return aFrame == ReadHolding(1, 0, 1) ? WithCrc(Hex("01 03 02 00 49")) : QByteArray();
    });
    auto port = StartedConverterEngine(5);
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(fAnswers[0].Answer.AsBytes(), WithCrc(Hex("01 03 02 00 49")));
    QCOMPARE(fAnswers[0].ComPort, 5);
    QCOMPARE(converter.Received(), 1);
    QCOMPARE(port->Port->CurrentECS()->WaitTime(), 200);
}

void TestFreePort::silentConverterIsTriedEthernetTriesTimes_data()
{
    QTest::addColumn<bool>("finding");
    QTest::addColumn<int>("attempts");
    QTest::newRow("connection: EthernetTries") << false << 3;
    QTest::newRow("bus search: one attempt") << true << 1;
}

void TestFreePort::silentConverterIsTriedEthernetTriesTimes()
{
    QFETCH(bool, finding);
    QFETCH(int, attempts);
    const uint16_t udpPort = FreeUdpPort();
    TEthernetSettings settings(udpPort, 200, 3);
    TConverter converter(udpPort, [](const QByteArray &) { return QByteArray(); });
    auto port = StartedConverterEngine(1, finding);
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrNoAnswer);
    QCOMPARE(fAnswers[0].Answer.Size(), uint8_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(converter.Received(), attempts, 20000);
    // Each attempt: 15 ms, then the 200 ms wait (about 645 ms for three).
    QVERIFY2(fAnswers[0].Time >= uint32_t(attempts * 210), qPrintable(QString::number(fAnswers[0].Time)));
}

void TestFreePort::ethernetStartFailsWhenNoSocketCanBeBound()
{
    const uint16_t udpPort = FreeUdpPort();
    TEthernetSettings settings(udpPort, 200, 3);
    TUdpPeer holder("0.0.0.0", udpPort, false);
    QVERIFY(holder.Ok());
    TzFreePort port(1);
    port.SetByEthernet(true);
    QVERIFY(!port.Start());
    QVERIFY(!port.Port->isRunning());
}

void TestFreePort::stopDuringEthernetWaitEndsTheExchangeAtOnce()
{
    const uint16_t udpPort = FreeUdpPort();
    TEthernetSettings settings(udpPort, 60000, 3);
    TConverter converter(udpPort, [](const QByteArray &) { return QByteArray(); });
    auto port = StartedConverterEngine();
    QVERIFY(port);
    QVERIFY(port->SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(converter.Received(), 1, 20000);
    QVERIFY(port->Stop());
    // Three waits of a minute each would follow without the stop.
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrNoAnswer);
    QCOMPARE(converter.Received(), 1);
}

void TestFreePort::failingTransportIsRecreated()
{
    // The first transport made fails every send; the ones made after it work.
    class TFailingTransport : public TEthernet_COM_Simulator
    {
    public:
        void Send(const TStringBytes &) override { throw ESocketError("sendto"); }
    };
    const uint16_t udpPort = FreeUdpPort();
    TEthernetSettings settings(udpPort, 500, 3);
    TConverter converter(udpPort, [](const QByteArray &) { return WithCrc(Hex("01 03 02 00 01")); });
    int made = 0;
    TzFreePort port(1);
    port.SetTransportFactory([&made]() -> std::unique_ptr<TEthernet_COM_Simulator> {
        if (made++ == 0)
            return std::make_unique<TFailingTransport>();
        return std::make_unique<TEthernet_COM_Simulator>();
    });
    port.SetByEthernet(true);
    port.SetOnAsyncAnswerProc(Collector());
    QVERIFY(port.Start());
    QVERIFY(port.SendCmd(ReadHolding(1, 0, 1), 1));
    QTRY_COMPARE_WITH_TIMEOUT(fAnswers.size(), size_t(1), 20000);
    QCOMPARE(fAnswers[0].ErrCode, ErrAnswerOK);
    QCOMPARE(made, 2);
    // The re-created transport took the settings and was opened, since the engine runs.
    QCOMPARE(port.Port->CurrentECS()->SocketEntry(0).Port, udpPort);
    QVERIFY(port.Port->CurrentECS()->SocketEntry(0).RecvBind);
}

QTEST_GUILESS_MAIN(TestFreePort)
#include "tst_FreePort.moc"
