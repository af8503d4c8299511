// The Ethernet transport against UDP peers on loopback: the converter at 127.0.0.2 on the same
// port number the transport binds on every interface, and strangers at 127.0.0.3.

#include "PortTestPeers.h"
#include "port/U_Lanvey_Ethernet.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

#include <unistd.h>

class TestLanveyEthernet : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addressValueAndSocketSharing();
    void framesCarryHeaderAndSequenceFromFFFF();
    void answerPayloadIsReturned();
    void packetsThatAreNotTheAnswerAreSkipped_data();
    void packetsThatAreNotTheAnswerAreSkipped();
    void skippedPacketsShortenTheWaitOnlyByTheTimePassed();
    void staleAnswerIsDroppedBySend();
    void silentConverterGivesEmptyAfterTheWait();
    void foreignSendersEndTheWaitWithinTwiceTheWaitTime();
    void portHeldByAnotherSocketSendsNothing();
    void closeEndsAPendingReceive();
    void lateAnswersAreWaitedForAndDropped();
    void echoIsLearntOnlyFromNumbersOnlyAnEchoCanGive_data();
    void echoIsLearntOnlyFromNumbersOnlyAnEchoCanGive();
    void answersThatCannotBeTheRequestsAreSkipped_data();
    void answersThatCannotBeTheRequestsAreSkipped();
    void copiesOfAnAnswerAreDroppedBeforeTheNextRequest();
    void portLockExcludesASecondTransportAndLeavesNothing();
    void portLockExcludesOtherAccounts();

private:
    uint16_t fPort = 0;
    std::unique_ptr<TUdpPeer> fConverter;
    std::unique_ptr<TEthernet_COM_Simulator> fTransport;
    QStringList fLog;
};

namespace {

const char *ConverterIP = "127.0.0.2";
const char *StrangerIP = "127.0.0.3";

QByteArray Answer(const QByteArray &aPayload, uint8_t aVersion = 0x10, uint8_t aType = 0x10)
{
    QByteArray pack;
    pack.append(char(aVersion)).append(char(aPayload.size())).append('\0').append('\0').append(char(aType));
    return pack + aPayload;
}

} // namespace

void TestLanveyEthernet::init()
{
    fPort = FreeUdpPort();
    fConverter = std::make_unique<TUdpPeer>(ConverterIP, fPort);
    QVERIFY(fConverter->Ok());
    fTransport = std::make_unique<TEthernet_COM_Simulator>();
    fTransport->AddAddress(QString::fromLatin1(ConverterIP), fPort);
    fTransport->SetWaitTime(200);
    fLog.clear();
    TEthernet_COM_Simulator::LogHook = [this](const QString &aLine) { fLog << aLine; };
}

void TestLanveyEthernet::cleanup()
{
    TEthernet_COM_Simulator::LogHook = nullptr;
    fTransport.reset();
    fConverter.reset();
}

void TestLanveyEthernet::addressValueAndSocketSharing()
{
    QCOMPARE(TEthernet_COM_Simulator::IPValue("192.168.1.100"), 192u + (168u << 8) + (1u << 16) + (100u << 24));
    QCOMPARE(TEthernet_COM_Simulator::IPValue("10.x0.0.7"), 10u + (7u << 24));
    TEthernet_COM_Simulator transport;
    transport.AddAddress("10.0.0.1", 40000);
    transport.AddAddress("10.0.0.2", 40000);
    transport.AddAddress("10.0.0.3", 40001);
    QCOMPARE(transport.SocketCount(), 2);
    QCOMPARE(transport.Addresses().at(1).SocketIndex, 0);
    QCOMPARE(transport.Addresses().at(2).SocketIndex, 1);
    QCOMPARE(transport.WaitTime(), 500);
    QCOMPARE(transport.NextNumber(), uint16_t(65535));
}

void TestLanveyEthernet::framesCarryHeaderAndSequenceFromFFFF()
{
    QCOMPARE(fTransport->Open(), 1);
    const QByteArray frame = Hex("01 03 00 00 00 01 84 0A");
    fTransport->Send(frame);
    uint16_t fromPort = 0;
    QCOMPARE(fConverter->Receive(5000, &fromPort), Hex("10 08 FF FF 10 01 03 00 00 00 01 84 0A"));
    QCOMPARE(fromPort, fPort);
    fTransport->Send(frame);
    QCOMPARE(fConverter->Receive(5000), Hex("10 08 00 00 10 01 03 00 00 00 01 84 0A"));
    fTransport->Send(frame);
    QCOMPARE(fConverter->Receive(5000).mid(2, 2), Hex("00 01"));
}

void TestLanveyEthernet::answerPayloadIsReturned()
{
    QCOMPARE(fTransport->Open(), 1);
    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QVERIFY(!fConverter->Receive(5000).isEmpty());
    const QByteArray payload = WithCrc(Hex("01 03 02 00 49"));
    fConverter->SendTo("127.0.0.1", fPort, Answer(payload));
    QCOMPARE(fTransport->Recv().AsBytes(), payload);
    QCOMPARE(payload.size(), 7);
}

void TestLanveyEthernet::packetsThatAreNotTheAnswerAreSkipped_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<bool>("fromStranger");
    QTest::addColumn<QString>("logged");
    const QByteArray payload = WithCrc(Hex("01 03 02 00 07"));
    QTest::newRow("version 2") << Answer(payload, 0x20) << false << QString();
    QTest::newRow("type 0x12") << Answer(payload, 0x10, 0x12) << false << QString();
    QTest::newRow("type 0x02") << Answer(payload, 0x10, 0x02) << false << QString();
    QTest::newRow("foreign sender") << Answer(payload) << true
                                    << QString("RECV <--  ***  Ответ не с ожидаемого адреса : 127.0.0.3:%1");
}

void TestLanveyEthernet::packetsThatAreNotTheAnswerAreSkipped()
{
    QFETCH(QByteArray, first);
    QFETCH(bool, fromStranger);
    QFETCH(QString, logged);
    QCOMPARE(fTransport->Open(), 1);
    TUdpPeer stranger(StrangerIP, 0);
    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QVERIFY(!fConverter->Receive(5000).isEmpty());
    (fromStranger ? stranger : *fConverter).SendTo("127.0.0.1", fPort, first);
    const QByteArray real = WithCrc(Hex("01 03 02 AB CD"));
    fConverter->SendTo("127.0.0.1", fPort, Answer(real));
    QCOMPARE(fTransport->Recv().AsBytes(), real);
    if (!logged.isEmpty())
        QVERIFY2(fLog.contains(logged.arg(fPort)), qPrintable(fLog.join('\n')));
}

void TestLanveyEthernet::skippedPacketsShortenTheWaitOnlyByTheTimePassed()
{
    QCOMPARE(fTransport->Open(), 1);
    fTransport->SetWaitTime(1000);
    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QVERIFY(!fConverter->Receive(5000).isEmpty());
    // Packets of type 2 every 50 ms, then the answer half-way through the wait. Taking the whole
    // time since the start of the wait off the remainder at every skip would give up long before.
    const QByteArray real = WithCrc(Hex("01 03 02 00 05"));
    std::jthread converter([&] {
        for (int i = 0; i < 10; ++i) {
            QThread::msleep(50);
            fConverter->SendTo("127.0.0.1", fPort, Answer(real, 0x10, 0x12));
        }
        fConverter->SendTo("127.0.0.1", fPort, Answer(real));
    });
    QCOMPARE(fTransport->Recv().AsBytes(), real);
}

void TestLanveyEthernet::staleAnswerIsDroppedBySend()
{
    QCOMPARE(fTransport->Open(), 1);
    // An answer that came after an earlier exchange had given up.
    const QByteArray stale = WithCrc(Hex("01 03 02 00 01"));
    fConverter->SendTo("127.0.0.1", fPort, Answer(stale));
    fConverter->SendTo("127.0.0.1", fPort, Answer(stale));
    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QVERIFY(!fConverter->Receive(5000).isEmpty());
    QCOMPARE(fTransport->Recv().Size(), uint8_t(0));

    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QVERIFY(!fConverter->Receive(5000).isEmpty());
    const QByteArray fresh = WithCrc(Hex("01 03 02 00 02"));
    fConverter->SendTo("127.0.0.1", fPort, Answer(fresh));
    QCOMPARE(fTransport->Recv().AsBytes(), fresh);
}

void TestLanveyEthernet::silentConverterGivesEmptyAfterTheWait()
{
    QCOMPARE(fTransport->Open(), 1);
    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(fTransport->Recv().Size(), uint8_t(0));
    // 15 ms before the wait, then the wait of 200 ms.
    QVERIFY2(timer.elapsed() >= 210, qPrintable(QString::number(timer.elapsed())));
}

void TestLanveyEthernet::foreignSendersEndTheWaitWithinTwiceTheWaitTime()
{
    QCOMPARE(fTransport->Open(), 1);
    std::atomic<bool> stop{false};
    std::jthread stranger([&] {
        TUdpPeer peer(StrangerIP, 0);
        const QByteArray pack = Answer(WithCrc(Hex("01 03 02 00 09")));
        while (!stop) {
            peer.SendTo("127.0.0.1", fPort, pack);
            QThread::msleep(20);
        }
    });
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(fTransport->Recv().Size(), uint8_t(0));
    const qint64 elapsed = timer.elapsed();
    stop = true;
    QVERIFY2(elapsed >= 395, qPrintable(QString::number(elapsed)));
    // The restarts never go on for ever (the generous bound allows for a busy machine).
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
}

void TestLanveyEthernet::portHeldByAnotherSocketSendsNothing()
{
    fConverter.reset();
    // Bound without sharing: the transport cannot bind this port, and would reach this socket
    // with anything it sent to 127.0.0.2.
    TUdpPeer holder("0.0.0.0", fPort, false);
    QVERIFY(holder.Ok());
    QCOMPARE(fTransport->Open(), 0);
    QVERIFY(fTransport->SocketEntry(0).Open);
    QVERIFY(!fTransport->SocketEntry(0).RecvBind);
    fTransport->Send(Hex("01 03 00 00 00 01 84 0A"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(fTransport->Recv().Size(), uint8_t(0));
    QVERIFY(timer.elapsed() >= 210);
    QVERIFY(holder.Receive(200).isEmpty());
}

void TestLanveyEthernet::closeEndsAPendingReceive()
{
    QCOMPARE(fTransport->Open(), 1);
    fTransport->SetWaitTime(60000);
    std::atomic<bool> done{false};
    std::jthread receiver([&] {
        fTransport->Recv();
        done = true;
    });
    QTest::qWait(100);
    QVERIFY(!done);
    fTransport->Close();
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    QVERIFY(!fTransport->SocketEntry(0).Open);
    // A closed transport answers at once.
    QCOMPARE(fTransport->Recv().Size(), uint8_t(0));
}

void TestLanveyEthernet::lateAnswersAreWaitedForAndDropped()
{
    QCOMPARE(fTransport->Open(), 1);
    const QByteArray payload = WithCrc(Hex("01 03 02 00 07"));
    TUdpPeer stranger(StrangerIP, 0);
    // Strangers' packets and skipped types are dropped without counting; the converter's two
    // late answers end the wait early.
    std::jthread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stranger.SendTo("127.0.0.1", fPort, Answer(payload));
        fConverter->SendTo("127.0.0.1", fPort, Answer(payload, 0x10, 0x12));
        fConverter->SendTo("127.0.0.1", fPort, Answer(payload));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        fConverter->SendTo("127.0.0.1", fPort, Answer(payload));
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(fTransport->DropLateAnswers(2, 5000), 2);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    sender.join();
    // Nothing of it is left for the next receive.
    fTransport->SetWaitTime(100);
    QCOMPARE(fTransport->Recv().Size(), uint8_t(0));

    // None comes: the wait ends at its bound; a closed transport ends it at once.
    clock.restart();
    QCOMPARE(fTransport->DropLateAnswers(1, 150), 0);
    QVERIFY(clock.elapsed() >= 140);
    std::jthread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        fTransport->Close();
    });
    clock.restart();
    QCOMPARE(fTransport->DropLateAnswers(1, 60000), 0);
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
}

namespace {

using TEcho = TEthernet_COM_Simulator::TEcho;
using TDatagram = TEthernet_COM_Simulator::TDatagram;

QByteArray Numbered(uint16_t aNumber, const QByteArray &aPayload)
{
    QByteArray pack = Answer(aPayload);
    pack[2] = char(aNumber >> 8);
    pack[3] = char(aNumber & 0xFF);
    return pack;
}

// A read of one holding register of slave 1.
QByteArray ReadOne(int aRegister)
{
    QByteArray body = Hex("01 03");
    body.append(char(aRegister >> 8)).append(char(aRegister & 0xFF)).append('\0').append('\1');
    return WithCrc(body);
}

QByteArray ValueAnswer(int aValue)
{
    QByteArray body = Hex("01 03 02");
    body.append(char(aValue >> 8)).append(char(aValue & 0xFF));
    return WithCrc(body);
}

} // namespace

void TestLanveyEthernet::echoIsLearntOnlyFromNumbersOnlyAnEchoCanGive_data()
{
    // The number carried by the answer to each request in turn (the requests carry FF FF, 00 00,
    // 00 01, ...); -1: that request got no answer.
    QTest::addColumn<QList<int>>("answered");
    QTest::addColumn<int>("echo");       // what the transport holds at the end
    QTest::addColumn<bool>("lastTaken"); // whether the last answer is taken
    // A converter that keeps no count: its 00 00 matches the second request's number by chance.
    QTest::newRow("00 00 always, the first datagram lost")
        << QList<int>{-1, 0x0000, 0x0000, 0x0000} << int(TEcho::NoEcho) << true;
    QTest::newRow("FF FF always") << QList<int>{0xFFFF, 0xFFFF, 0xFFFF} << int(TEcho::NoEcho) << true;
    QTest::newRow("echoes") << QList<int>{0xFFFF, 0x0000, 0x0001} << int(TEcho::Echoes) << true;
    QTest::newRow("echoes, the first datagram lost") << QList<int>{-1, 0x0000, 0x0001} << int(TEcho::Echoes) << true;
    // Where it echoes, a recent request's number is that request's late answer.
    QTest::newRow("echoes, a late answer") << QList<int>{0xFFFF, 0x0000, 0x0000} << int(TEcho::Echoes) << false;
    // A number that no recent request carried undoes the decision, and it can be learnt again.
    QTest::newRow("echoes, then a number never sent")
        << QList<int>{0xFFFF, 0x0000, 0x4242} << int(TEcho::NoEcho) << true;
    QTest::newRow("echoes again after that")
        << QList<int>{0xFFFF, 0x0000, 0x4242, 0x0002, 0x0003} << int(TEcho::Echoes) << true;
}

void TestLanveyEthernet::echoIsLearntOnlyFromNumbersOnlyAnEchoCanGive()
{
    QFETCH(QList<int>, answered);
    QFETCH(int, echo);
    QFETCH(bool, lastTaken);
    const uint32_t converter = TEthernet_COM_Simulator::IPValue(QString::fromLatin1(ConverterIP));
    TDatagram verdict = TDatagram::Skipped;
    for (int i = 0; i < answered.size(); ++i) {
        fTransport->Send(ReadOne(i));
        if (answered[i] < 0)
            continue;
        const QByteArray datagram = Numbered(uint16_t(answered[i]), ValueAnswer(i));
        TStringBytes payload;
        verdict = fTransport->JudgeDatagram(reinterpret_cast<const uint8_t *>(datagram.constData()),
                                            size_t(datagram.size()), converter, fPort, payload);
        if (verdict == TDatagram::Answer)
            QCOMPARE(payload.AsBytes(), ValueAnswer(i));
    }
    QCOMPARE(int(fTransport->EchoState()), echo);
    QCOMPARE(verdict == TDatagram::Answer, lastTaken);
}

void TestLanveyEthernet::answersThatCannotBeTheRequestsAreSkipped_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("first"); // sent before the request's own answer
    QTest::addColumn<bool>("taken");
    const QByteArray read = Hex("01 03 00 00 00 01 84 0A");
    const QByteArray write = WithCrc(Hex("01 06 00 10 00 05"));
    QTest::newRow("read: another byte count") << read << WithCrc(Hex("01 03 04 00 01 00 02")) << false;
    QTest::newRow("read: another function") << read << WithCrc(Hex("01 04 02 00 07")) << false;
    QTest::newRow("read: another slave") << read << WithCrc(Hex("02 03 02 00 07")) << false;
    QTest::newRow("write: another register") << write << WithCrc(Hex("01 06 00 11 00 05")) << false;
    QTest::newRow("write: another value") << write << WithCrc(Hex("01 06 00 10 00 06")) << false;
    QTest::newRow("write: a read's answer") << write << WithCrc(Hex("01 06 02 00 05")) << false;
    // An exception fits any request of its function; a broken CRC is the engine's to report.
    QTest::newRow("read: exception") << read << WithCrc(Hex("01 83 02")) << true;
    QTest::newRow("read: broken CRC") << read << Hex("01 04 02 00 07 00 00") << true;
}

void TestLanveyEthernet::answersThatCannotBeTheRequestsAreSkipped()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, first);
    QFETCH(bool, taken);
    QCOMPARE(fTransport->Open(), 1);
    fTransport->Send(request);
    QVERIFY(!fConverter->Receive(5000).isEmpty());
    fConverter->SendTo("127.0.0.1", fPort, Answer(first));
    const QByteArray own = request.at(1) == 3 ? WithCrc(Hex("01 03 02 AB CD")) : request;
    fConverter->SendTo("127.0.0.1", fPort, Answer(own));
    QCOMPARE(fTransport->Recv().AsBytes(), taken ? first : own);
}

void TestLanveyEthernet::copiesOfAnAnswerAreDroppedBeforeTheNextRequest()
{
    // A converter that keeps no count (00 00 in every answer) and sends every answer twice, the
    // copy 3 ms later; its answers take 30 ms (its serial side), so they come after the receive
    // has begun. The requests read registers of the same shape: only the copy's timing tells it
    // from the next answer.
    QCOMPARE(fTransport->Open(), 1);
    std::atomic<bool> stop{false};
    std::jthread converter([&] {
        while (!stop) {
            const QByteArray request = fConverter->Receive(100);
            if (request.size() < 5 + 8)
                continue;
            const int reg = uint8_t(request[5 + 2]) << 8 | uint8_t(request[5 + 3]);
            const QByteArray answer = Answer(ValueAnswer(1000 + reg));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            fConverter->SendTo("127.0.0.1", fPort, answer);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            fConverter->SendTo("127.0.0.1", fPort, answer);
        }
    });
    // Ends the converter before it is joined, also when a check below fails.
    const auto stopConverter = qScopeGuard([&] { stop = true; });
    for (int reg = 0; reg < 8; ++reg) {
        fTransport->Send(ReadOne(reg));
        QCOMPARE(fTransport->Recv().AsBytes(), ValueAnswer(1000 + reg));
    }
}

void TestLanveyEthernet::portLockExcludesASecondTransportAndLeavesNothing()
{
    // Nothing of the lock may land in the temporary folder, wherever it is.
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QByteArray oldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", temp.path().toLocal8Bit());
    const auto restore = qScopeGuard([&] {
        if (oldTemp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTemp);
    });
    const auto leftovers = [&] {
        QStringList found =
            QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        found += QDir(QStringLiteral("/tmp"))
                     .entryList({QStringLiteral("quadrel-panel-udp-%1*").arg(fPort)},
                                QDir::AllEntries | QDir::Hidden | QDir::System);
        return found;
    };

    TEthernet_COM_Simulator second;
    second.AddAddress(QString::fromLatin1(ConverterIP), fPort);
    QCOMPARE(fTransport->Open(), 1);
    QCOMPARE(second.Open(), 0);
    QVERIFY(!second.SocketEntry(0).RecvBind);
    QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers().join(", ")));
    // Released with the first transport's sockets: the second takes the port.
    fTransport->Close();
    second.Close();
    QCOMPARE(second.Open(), 1);
    second.Close();
    QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers().join(", ")));
}

void TestLanveyEthernet::portLockExcludesOtherAccounts()
{
    if (::geteuid() != 0)
        QSKIP("runs the probe under the account nobody with runuser, which needs root");
    const QString runuser = QStandardPaths::findExecutable(QStringLiteral("runuser"));
    if (runuser.isEmpty())
        QSKIP("runuser is not installed");
    const QString port = QString::number(fPort);
    const auto probe = [&](const QString &aMode, QProcess &aProcess) {
        aProcess.start(runuser, {"-u", "nobody", "--", QStringLiteral(PORT_LOCK_PROBE), port, aMode});
        return aProcess.waitForStarted(30000);
    };
    const auto outcome = [&](QProcess &aProcess) {
        aProcess.waitForReadyRead(30000);
        return QString::fromLatin1(aProcess.readLine()).trimmed();
    };

    // Held here, the port is refused to a panel of another account; released, it is granted.
    QCOMPARE(fTransport->Open(), 1);
    {
        QProcess other;
        QVERIFY(probe("try", other));
        QCOMPARE(outcome(other), QStringLiteral("refused"));
        QVERIFY(other.waitForFinished(30000));
    }
    fTransport->Close();
    {
        QProcess other;
        QVERIFY(probe("try", other));
        QCOMPARE(outcome(other), QStringLiteral("bound"));
        QVERIFY(other.waitForFinished(30000));
    }

    // Held by the other account, it is refused here until that panel ends.
    QProcess holder;
    QVERIFY(probe("hold", holder));
    QCOMPARE(outcome(holder), QStringLiteral("bound"));
    TEthernet_COM_Simulator mine;
    mine.AddAddress(QString::fromLatin1(ConverterIP), fPort);
    QCOMPARE(mine.Open(), 0);
    mine.Close();
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(30000));
    QCOMPARE(mine.Open(), 1);
}

QTEST_GUILESS_MAIN(TestLanveyEthernet)
#include "tst_LanveyEthernet.moc"
