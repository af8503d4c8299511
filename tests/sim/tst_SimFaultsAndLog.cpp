// The simulator's pieces without any I/O: the converter's datagram, the fault plan, the frame
// log's memory and text, the queue of late answers.

#include "sim/uSimFaults.h"
#include "sim/uSimFrameLog.h"
#include "sim/uSimLanveyPack.h"
#include "sim/uSimLineSettings.h"
#include "sim/uSimSendQueue.h"

#include <QtTest>

class tst_SimFaultsAndLog : public QObject
{
    Q_OBJECT

private slots:
    void lanveyPacket()
    {
        const TSimBytes frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
        const TSimBytes datagram = LanveyWrap(0x10, 0xFFFF, 0x10, frame);
        QCOMPARE(datagram, TSimBytes({0x10, 0x08, 0xFF, 0xFF, 0x10, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
        const auto packet = LanveyUnwrap(datagram.data(), datagram.size());
        QVERIFY(packet);
        QCOMPARE(packet->Number, uint16_t(0xFFFF));
        QCOMPARE(packet->Payload, frame);
        QCOMPARE(packet->Header, TSimBytes(datagram.begin(), datagram.begin() + 5));
        // Bytes past the length are not part of the frame; a length past the end is no packet.
        TSimBytes longer = datagram;
        longer.push_back(0x99);
        QCOMPARE(LanveyUnwrap(longer.data(), longer.size())->Payload, frame);
        TSimBytes cut(datagram.begin(), datagram.end() - 1);
        QVERIFY(!LanveyUnwrap(cut.data(), cut.size()));
        const TSimBytes empty = LanveyWrap(0x10, 7, 0x10, {});
        QVERIFY(LanveyUnwrap(empty.data(), empty.size())->Payload.empty());
    }

    void faultPlan()
    {
        const TSimBytes answer{16, 4, 2, 0, 73, 0x84, 0xC5};
        TzSimFaults faults;
        auto plan = faults.Plan(answer, true);
        QCOMPARE(plan.size(), size_t(1));
        QCOMPARE(plan[0].Frame, answer);
        QCOMPARE(plan[0].DelayMs, 0);

        faults.SetSilent(true);
        QVERIFY(faults.Plan(answer, true).empty());
        faults.Reset();

        // Two stale answers, then the plain delay again.
        faults.SetAnswerDelay(50);
        faults.SetStaleAnswers(2, 900);
        QCOMPARE(faults.Plan(answer, false)[0].DelayMs, 900);
        QCOMPARE(faults.Plan(answer, false)[0].DelayMs, 900);
        QCOMPARE(faults.Plan(answer, false)[0].DelayMs, 50);

        faults.Reset();
        faults.SetCorruptCrc(true);
        plan = faults.Plan(answer, false);
        QCOMPARE(plan[0].Frame, SimCorruptCrc(answer));
        QVERIFY(plan[0].Frame != answer);

        // A share of the answers, spread evenly: with 10 %, every tenth; a new share starts afresh.
        faults.Reset();
        for (const int percent : {10, 25}) {
            faults.SetCorruptCrcPercent(percent);
            QList<int> broken;
            for (int n = 1; n <= 40; ++n)
                if (faults.Plan(answer, false)[0].Frame != answer)
                    broken << n;
            const QList<int> expected = percent == 10 ? QList<int>{10, 20, 30, 40}
                                                      : QList<int>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40};
            QCOMPARE(broken, expected);
        }
        faults.SetCorruptCrcPercent(0);
        QCOMPARE(faults.Plan(answer, false)[0].Frame, answer);

        // Decoys exist only where datagrams do; "before" decoys precede the answer in order.
        faults.Reset();
        faults.SetForeignSender(TzSimDecoy::Before);
        faults.SetType2(TzSimDecoy::Before);
        QCOMPARE(faults.Plan(answer, false).size(), size_t(1));
        plan = faults.Plan(answer, true);
        QCOMPARE(plan.size(), size_t(3));
        QCOMPARE(plan[0].Kind, TzSimSendKind::Foreign);
        QCOMPARE(plan[1].Kind, TzSimSendKind::Type2);
        QCOMPARE(plan[2].Kind, TzSimSendKind::Answer);
        faults.SetVersion2(TzSimDecoy::Instead);
        plan = faults.Plan(answer, true);
        QCOMPARE(plan.size(), size_t(3));
        QCOMPARE(plan.back().Kind, TzSimSendKind::Version2);
        QCOMPARE(plan.back().Frame, answer);
    }

    void frameLogKeepsTheNewestWithinItsCapacity()
    {
        TzSimFrameLog log;
        log.SetCapacity(3);
        for (uint8_t i = 1; i <= 5; ++i)
            log.Add(i % 2 ? TzSimDirection::Received : TzSimDirection::Sent, "serial", {i});
        QCOMPARE(log.Frames(), std::vector<TSimBytes>({{3}, {4}, {5}}));
        QCOMPARE(log.Frames(TzSimDirection::Sent), std::vector<TSimBytes>({{4}}));
        log.SetCapacity(2);
        QCOMPARE(log.Frames(), std::vector<TSimBytes>({{4}, {5}}));
        log.Add(TzSimDirection::Sent, "serial", {6});
        QCOMPARE(log.Frames(), std::vector<TSimBytes>({{5}, {6}}));
        log.SetCapacity(0);
        log.Add(TzSimDirection::Sent, "serial", {7});
        QCOMPARE(log.Count(), size_t(0));
        log.SetCapacity(10);
        log.Add(TzSimDirection::Sent, "serial", {8});
        log.Clear();
        QCOMPARE(log.Count(), size_t(0));
    }

    void frameLogLine()
    {
        TzSimFrameLogEntry entry;
        entry.WallTime = std::chrono::system_clock::now();
        entry.Direction = TzSimDirection::Sent;
        entry.Channel = "udp 127.0.0.1:40000";
        entry.Wrapper = {0x10, 0x07, 0xFF, 0xFF, 0x10};
        entry.Frame = {0x10, 0x04, 0x02, 0x00, 0x49, 0x84, 0xC5};
        entry.Note = "stale";
        const QString line = QString::fromStdString(TzSimFrameLog::FormatLine(entry));
        QVERIFY2(line.endsWith("  TX udp 127.0.0.1:40000  [10 07 FF FF 10] 10 04 02 00 49 84 C5  (stale)"),
                 qPrintable(line));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  TX").match(line).hasMatch());
    }

    void lateAnswersLeaveInDueOrder()
    {
        TzSimSendQueue<int> queue;
        QVERIFY(!queue.NextDue());
        queue.Push(300, 3);
        queue.Push(100, 1);
        queue.Push(100, 2);
        QCOMPARE(*queue.NextDue(), uint64_t(100));
        QVERIFY(queue.PopDue(99).empty());
        QCOMPARE(queue.PopDue(100), std::vector<int>({1, 2}));
        QCOMPARE(queue.PopDue(1000), std::vector<int>({3}));
        QVERIFY(queue.Empty());
    }

    void silenceBetweenFrames_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("gapUs");
        QTest::newRow("1200: 3.5 characters") << 1200 << qint64(32083);
        QTest::newRow("9600") << 9600 << qint64(4010);
        QTest::newRow("19200") << 19200 << qint64(2005);
        QTest::newRow("115200: at least 1.75 ms") << 115200 << qint64(1750);
        QTest::newRow("unknown speed") << 0 << qint64(1750);
    }
    void silenceBetweenFrames()
    {
        QFETCH(int, baud);
        QFETCH(qint64, gapUs);
        QCOMPARE(qint64(SimFrameGapUs(baud)), gapUs);
    }
};

QTEST_GUILESS_MAIN(tst_SimFaultsAndLog)
#include "tst_SimFaultsAndLog.moc"
