// The simulator as the Lanvey-Ethernet converter, against plain UDP sockets on loopback.

#include "SimTestHelpers.h"
#include "sim/uSimLanveyPack.h"
#include "sim/uSimulator.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

TSimBytes Concat(TSimBytes a, const TSimBytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const TSimBytes Probe = WithCrc({16, 4, 0x90, 0x00, 0x00, 0x01});
const TSimBytes ProbeAnswer = WithCrc({16, 4, 2, 0, 73});

} // namespace

class tst_SimConverter : public QObject
{
    Q_OBJECT

    std::unique_ptr<TzSimulator> fSim;
    uint16_t fPort = 0;

private slots:
    void init()
    {
        fSim = std::make_unique<TzSimulator>();
        QVERIFY(fSim->Bus().AddModule(16));
        QVERIFY2(fSim->StartUdp("127.0.0.2", 0), fSim->Udp().LastError().c_str());
        fPort = fSim->Udp().Port();
        QVERIFY(fPort != 0);
    }
    void cleanup() { fSim.reset(); }

    void answersTheSenderWithTheFramedAnswer()
    {
        // The panel's way: its own socket on the wildcard address and the converter's port.
        TUdp panel("0.0.0.0", fPort);
        QVERIFY(panel.Ok());
        const TSimBytes request = Concat({0x10, 0x08, 0xFF, 0xFF, 0x10}, Probe);
        panel.SendTo("127.0.0.2", fPort, request);
        std::string from;
        const TSimBytes answer = panel.Receive(5000, &from);
        QCOMPARE(answer, Concat({0x10, 0x07, 0xFF, 0xFF, 0x10}, ProbeAnswer));
        QCOMPARE(from, std::string("127.0.0.2"));

        // The sequence number is echoed; the log holds the header apart from the RTU frame.
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0x00, 0x00, 0x10}, Probe));
        QCOMPARE(panel.Receive(5000), Concat({0x10, 0x07, 0x00, 0x00, 0x10}, ProbeAnswer));
        QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(4), 5000);
        const auto entries = fSim->Log().Entries();
        QCOMPARE(entries[0].Wrapper, TSimBytes({0x10, 0x08, 0xFF, 0xFF, 0x10}));
        QCOMPARE(entries[0].Frame, Probe);
        QCOMPARE(entries[1].Wrapper, TSimBytes({0x10, 0x07, 0xFF, 0xFF, 0x10}));
        QCOMPARE(entries[1].Frame, ProbeAnswer);
        QVERIFY(QString::fromStdString(entries[1].Channel).startsWith("udp 127.0.0.1:"));

        // A converter that keeps no count answers with 0 whatever the request carried.
        fSim->Udp().SetEchoNumbers(false);
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0x12, 0x34, 0x10}, Probe));
        QCOMPARE(panel.Receive(5000), Concat({0x10, 0x07, 0x00, 0x00, 0x10}, ProbeAnswer));
    }

    void dropsWhatIsNotAConverterPacket_data()
    {
        QTest::addColumn<TSimBytes>("datagram");
        QTest::newRow("version 2") << Concat({0x20, 0x08, 0, 1, 0x10}, Probe);
        QTest::newRow("length beyond the datagram") << Concat({0x10, 0x09, 0, 1, 0x10}, Probe);
        QTest::newRow("header only, cut") << TSimBytes{0x10, 0x00, 0x00};
        QTest::newRow("frame with a bad CRC") << Concat({0x10, 0x08, 0, 1, 0x10}, SimCorruptCrc(Probe));
        QTest::newRow("frame for another address") << Concat({0x10, 0x08, 0, 1, 0x10}, WithCrc({17, 4, 0x90, 0, 0, 1}));
    }
    void dropsWhatIsNotAConverterPacket()
    {
        QFETCH(TSimBytes, datagram);
        TUdp panel("127.0.0.1", 0);
        panel.SendTo("127.0.0.2", fPort, datagram);
        QVERIFY(panel.Receive(300).empty());
        QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(1), 5000);
        QCOMPARE(fSim->Log().Entries()[0].Direction, TzSimDirection::Received);
        // The converter goes on serving.
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 2, 0x10}, Probe));
        QCOMPARE(panel.Receive(5000), Concat({0x10, 0x07, 0, 2, 0x10}, ProbeAnswer));
    }

    void decoys_data()
    {
        QTest::addColumn<int>("fault"); // 0 foreign sender, 1 version 2, 2 type 2
        QTest::addColumn<bool>("before");
        QTest::addColumn<QString>("decoyFrom");
        QTest::addColumn<TSimBytes>("decoyHeader");
        QTest::newRow("foreign sender instead") << 0 << false << "127.0.0.3" << TSimBytes{0x10, 0x07, 0, 5, 0x10};
        QTest::newRow("foreign sender before") << 0 << true << "127.0.0.3" << TSimBytes{0x10, 0x07, 0, 5, 0x10};
        QTest::newRow("version 2 instead") << 1 << false << "127.0.0.2" << TSimBytes{0x20, 0x07, 0, 5, 0x10};
        QTest::newRow("version 2 before") << 1 << true << "127.0.0.2" << TSimBytes{0x20, 0x07, 0, 5, 0x10};
        QTest::newRow("type 2 instead") << 2 << false << "127.0.0.2" << TSimBytes{0x10, 0x07, 0, 5, 0x12};
        QTest::newRow("type 2 before") << 2 << true << "127.0.0.2" << TSimBytes{0x10, 0x07, 0, 5, 0x12};
    }
    void decoys()
    {
        QFETCH(int, fault);
        QFETCH(bool, before);
        QFETCH(QString, decoyFrom);
        QFETCH(TSimBytes, decoyHeader);
        const TzSimDecoy mode = before ? TzSimDecoy::Before : TzSimDecoy::Instead;
        if (fault == 0)
            fSim->Faults().SetForeignSender(mode);
        else if (fault == 1)
            fSim->Faults().SetVersion2(mode);
        else
            fSim->Faults().SetType2(mode);

        TUdp panel("127.0.0.1", 0);
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 5, 0x10}, Probe));
        std::string from;
        const TSimBytes decoy = panel.Receive(5000, &from);
        QCOMPARE(QString::fromStdString(from), decoyFrom);
        // A decoy before the answer carries a broken CRC; one instead of it the true answer.
        QCOMPARE(decoy, Concat(decoyHeader, before ? SimCorruptCrc(ProbeAnswer) : ProbeAnswer));
        const TSimBytes next = panel.Receive(before ? 5000 : 300, &from);
        if (before) {
            QCOMPARE(next, Concat({0x10, 0x07, 0, 5, 0x10}, ProbeAnswer));
            QCOMPARE(from, std::string("127.0.0.2"));
        } else {
            QVERIFY(next.empty());
        }
        // Switched off, the converter answers plainly again.
        fSim->Faults().Reset();
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 6, 0x10}, Probe));
        QCOMPARE(panel.Receive(5000, &from), Concat({0x10, 0x07, 0, 6, 0x10}, ProbeAnswer));
    }

    void staleAnswerComesAfterTheNextOne()
    {
        TUdp panel("127.0.0.1", 0);
        fSim->Faults().SetStaleAnswers(1, 500);
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 1, 0x10}, Probe));
        QVERIFY(panel.Receive(100).empty());
        const TSimBytes second = WithCrc({16, 3, 0xEA, 0x70, 0, 1});
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 2, 0x10}, second));
        QCOMPARE(panel.Receive(5000), Concat({0x10, 0x07, 0, 2, 0x10}, WithCrc({16, 3, 2, 0, 0})));
        QCOMPARE(panel.Receive(5000), Concat({0x10, 0x07, 0, 1, 0x10}, ProbeAnswer));
    }

    void stopsPromptlyWithAnAnswerPending()
    {
        TUdp panel("127.0.0.1", 0);
        fSim->Faults().SetAnswerDelay(60000);
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 1, 0x10}, Probe));
        QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(1), 5000);
        QElapsedTimer timer;
        timer.start();
        fSim->Stop();
        QVERIFY(timer.elapsed() < 30000); // far below the pending answer's minute
        QVERIFY(!fSim->Udp().Running());
        QVERIFY(panel.Receive(200).empty());
        // Started again on the same port, it serves at once.
        fSim->Faults().Reset();
        QVERIFY(fSim->StartUdp("127.0.0.2", fPort));
        panel.SendTo("127.0.0.2", fPort, Concat({0x10, 0x08, 0, 2, 0x10}, Probe));
        QCOMPARE(panel.Receive(5000), Concat({0x10, 0x07, 0, 2, 0x10}, ProbeAnswer));
    }

    // The converter's faults of the datagrams themselves, one request at a time.
    void datagramFaults()
    {
        TUdp panel("127.0.0.1", 0);
        const auto ask = [&](uint16_t aNumber) {
            panel.SendTo("127.0.0.2", fPort,
                         Concat({0x10, 0x08, uint8_t(aNumber >> 8), uint8_t(aNumber), 0x10}, Probe));
        };
        const auto answerOf = [](uint16_t aNumber) {
            return Concat({0x10, 0x07, uint8_t(aNumber >> 8), uint8_t(aNumber), 0x10}, ProbeAnswer);
        };

        // Lost on the way in: never answered, and logged as lost.
        fSim->Faults().SetLoseFirst(1);
        ask(1);
        QVERIFY(panel.Receive(300).empty());
        ask(2);
        QCOMPARE(panel.Receive(5000), answerOf(2));
        QCOMPARE(fSim->Log().Entries().at(0).Note, std::string("lost"));

        // Half of them lost, evenly: every second request.
        fSim->Faults().SetLossPercent(50);
        for (uint16_t n = 3; n <= 6; ++n) {
            ask(n);
            const TSimBytes got = panel.Receive(n % 2 == 0 ? 300 : 5000);
            QCOMPARE(got, n % 2 == 0 ? TSimBytes{} : answerOf(n));
        }
        fSim->Faults().SetLossPercent(0);

        // Every answer twice; without echo both carry 00 00.
        fSim->Faults().SetDuplicateAfter(3);
        fSim->Udp().SetEchoNumbers(false);
        ask(7);
        QCOMPARE(panel.Receive(5000), answerOf(0));
        QCOMPARE(panel.Receive(5000), answerOf(0));
        QVERIFY(panel.Receive(200).empty());
        fSim->Udp().SetEchoNumbers(true);
        fSim->Faults().SetDuplicateAfter(-1);

        // Every second answer waits for the next one and goes out right after it.
        fSim->Faults().SetReorder(true);
        ask(8);
        QVERIFY(panel.Receive(300).empty());
        ask(9);
        QCOMPARE(panel.Receive(5000), answerOf(9));
        QCOMPARE(panel.Receive(5000), answerOf(8));
        // With no next request, the held answer goes out after a second.
        ask(10);
        QVERIFY(panel.Receive(200).empty());
        QCOMPARE(panel.Receive(5000), answerOf(10));
        fSim->Faults().Reset();
        ask(11);
        QCOMPARE(panel.Receive(5000), answerOf(11));
        QVERIFY(panel.Receive(200).empty());
    }

    void bindFailureIsReported()
    {
        TzSimulator other;
        QVERIFY(!other.StartUdp("not-an-address", 40000));
        QVERIFY(!other.Udp().LastError().empty());
        QVERIFY(!other.Udp().Running());
    }
};

QTEST_GUILESS_MAIN(tst_SimConverter)
#include "tst_SimConverter.moc"
