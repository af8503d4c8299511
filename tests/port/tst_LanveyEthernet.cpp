// The Ethernet transport against UDP peers on loopback: the converter at 127.0.0.2 on the same
// port number the transport binds on every interface, and strangers at 127.0.0.3.

#include "PortTestPeers.h"
#include "port/U_Lanvey_Ethernet.h"

#include <QElapsedTimer>
#include <QtTest>

#include <thread>

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

QTEST_GUILESS_MAIN(TestLanveyEthernet)
#include "tst_LanveyEthernet.moc"
