// The panel under faults of the line, as an operator meets them: the adapter pulled and plugged
// in again, the converter gone for a minute, answers with bad checksums, answers that come too
// late, and a flood of strangers' datagrams on the converter's port. The real frame is driven
// against the simulated module; a stall watch runs through every case and the time the panel
// takes to close is measured at the end of each.

#include "app/uApplication.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "port/uFreePort.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"
#include "tests/TestStallWatch.h"
#include "tests/panel/PanelTestKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <thread>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr int LineTimeout = 20000;
// Hang bounds, many times the goals (a stall under 100 ms, closing within 1 s).
constexpr qint64 StallBoundMs = 1000;
constexpr qint64 CloseBoundMs = 5000;

// The module's status registers get values that differ from one another, so an answer that
// lands in the wrong tag shows as a value the module never had there: 60016 = 5 (outputs 1 and
// 3), 60015 = 2 (output 18), 60014 = 24 (safe states of outputs 4 and 5), 60013 = 8 (safe state
// of output 20), 36881 = 1, the supply near 24000 mV.
void SetDistinctStatus(TzSimulator &aSim)
{
    aSim.Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t aNow) {
        m.SetOutputState(1, true, aNow);
        m.SetOutputState(3, true, aNow);
        m.SetOutputState(18, true, aNow);
        m.SetSafeState(4, true);
        m.SetSafeState(5, true);
        m.SetSafeState(20, true);
        m.SetPowerStatus(1);
        m.SetSupply(24000, 40);
    });
}

// Every value decoded into the status tags, checked against what the module holds there (the
// supply voltage within its noise).
TestValueWatch ValueWatch(TzDevice &aDevice, TzSimulator &aSim)
{
    std::map<int, TestValueWatch::TRule> rules{{24582, [](double v) { return v >= 23900 && v <= 24100; }}};
    for (const int id : {36881, 60013, 60014, 60015, 60016})
        rules[id] = TestValueWatch::ModuleHolds(aSim, ModuleAddress, uint16_t(id));
    return TestValueWatch(aDevice, rules);
}

// Samples a condition on the interface thread and remembers whether it ever held.
class TEverWatch : public QObject
{
public:
    explicit TEverWatch(std::function<bool()> aCondition, int aIntervalMs = 20) : fCondition(std::move(aCondition))
    {
        connect(&fTimer, &QTimer::timeout, this, [this] {
            if (fCondition())
                ++fSeen;
        });
        fTimer.start(aIntervalMs);
    }
    int Seen() const { return fSeen; }

private:
    std::function<bool()> fCondition;
    QTimer fTimer;
    int fSeen = 0;
};

// The largest number of requests the panel waited for, sampled on the interface thread.
class TPendingWatch : public QObject
{
public:
    explicit TPendingWatch(const TestPanel &aPanel)
    {
        connect(&fTimer, &QTimer::timeout, this, [this, &aPanel] { fMax = std::max(fMax, aPanel.PendingAnswers()); });
        fTimer.start(20);
    }
    int Max() const { return fMax; }

private:
    QTimer fTimer;
    int fMax = 0;
};

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

int LinesStartingWith(const QStringList &aLines, const QString &aStart)
{
    return int(
        std::count_if(aLines.begin(), aLines.end(), [&aStart](const QString &l) { return l.startsWith(aStart); }));
}

int FirstLineStartingWith(const QStringList &aLines, const QString &aStart)
{
    const auto line = std::find_if(aLines.begin(), aLines.end(),
                                   [&aStart](const QString &l) { return l.startsWith(aStart); });
    return line == aLines.end() ? -1 : int(line - aLines.begin());
}

size_t ReceivedCount(TzSimulator &aSim)
{
    return TestFrameLog(aSim).ReceivedCount();
}

// The writes the module received since the mark, in order, as "function:register:value";
// aFunction 0 takes coil (5) and register (6) writes alike.
QStringList Writes(TzSimulator &aSim, size_t aFrom, int aFunction = 0)
{
    QStringList writes;
    for (const TestRequest &r : TestFrameLog(aSim).Writes(aFrom, ModuleAddress, aFunction))
        writes << QStringLiteral("%1:%2:%3").arg(r.Function).arg(r.Reg).arg(r.Word);
    return writes;
}

// The largest number of other requests received between two writes after the mark.
int MostFramesBetweenWrites(TzSimulator &aSim, size_t aFrom)
{
    int most = 0;
    int between = -1; // before the first write
    for (const TSimBytes &frame : TestFrameLog(aSim).ReceivedFrames(aFrom)) {
        const bool write = frame.size() == 8 && (frame[1] == 5 || frame[1] == 6);
        if (write) {
            most = std::max(most, between);
            between = 0;
        } else if (between >= 0) {
            ++between;
        }
    }
    return most;
}

int StateReads(TzSimulator &aSim, size_t aFrom)
{
    int reads = 0;
    for (const TSimBytes &frame : TestFrameLog(aSim).ReceivedFrames(aFrom))
        reads += frame.size() == 8 && frame[1] == 3 && frame[2] == 0xEA && frame[3] == 0x70;
    return reads;
}

// Sends datagrams from a loopback address of its own to aPort at about aPerSecond, until
// stopped: a stranger on the converter's port.
class TDatagramFlood
{
public:
    TDatagramFlood(uint16_t aPort, int aPerSecond)
    {
        fFd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.3", &from.sin_addr);
        if (fFd >= 0 && bind(fFd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
            close(fFd);
            fFd = -1;
        }
        if (fFd < 0)
            return;
        fThread = std::jthread([this, aPort, aPerSecond](std::stop_token aStop) { Run(aStop, aPort, aPerSecond); });
    }
    ~TDatagramFlood()
    {
        if (fThread.joinable()) {
            fThread.request_stop();
            fThread.join();
        }
        if (fFd >= 0)
            close(fFd);
    }
    bool Ok() const { return fFd >= 0; }
    long Sent() const { return fSent; }

private:
    void Run(std::stop_token aStop, uint16_t aPort, int aPerSecond)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        to.sin_port = htons(aPort);
        // A well-formed converter answer whose frame (module 16, all outputs on) fits a read of
        // the output states, the same in a packet of another protocol version, and bytes that
        // are no packet at all.
        QByteArray frame = QByteArray::fromHex("100302ffff");
        const uint16_t crc = CalcModbusCRC(reinterpret_cast<const uint8_t *>(frame.constData()), int(frame.size()));
        frame.append(char(crc & 0xFF)).append(char(crc >> 8));
        const QByteArray packets[] = {QByteArray::fromHex("1007000010") + frame,
                                      QByteArray::fromHex("2007000010") + frame, QByteArray::fromHex("010203")};
        QElapsedTimer clock;
        clock.start();
        while (!aStop.stop_requested()) {
            const long due = long(clock.elapsed() * aPerSecond / 1000);
            while (fSent < due) {
                const QByteArray &p = packets[fSent % 3];
                sendto(fFd, p.constData(), size_t(p.size()), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
                ++fSent;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int fFd = -1;
    std::atomic<long> fSent{0};
    std::jthread fThread;
};

} // namespace

class TestQuadrelFaults : public TestPanelCase
{
    Q_OBJECT

public:
    TestQuadrelFaults() : TestPanelCase(LineTimeout) {}

private slots:
    void init();
    void cleanup();

    void adapterPulledMidPollAndPluggedIn();
    void converterGoneForAMinute();
    void someAnswersWithBadChecksums_data();
    void someAnswersWithBadChecksums();
    void lateAnswersNeverLandInOtherTags_data();
    void lateAnswersNeverLandInOtherTags();
    void floodOfForeignDatagrams();
    void orderedWritesGoOnPastAFailedWrite_data();
    void orderedWritesGoOnPastAFailedWrite();
    void orderedWritesOfAnEndedConnectionNeverReachTheNext_data();
    void orderedWritesOfAnEndedConnectionNeverReachTheNext();

private:
    void ConnectSerial(const std::string &aLink = {});
    void ConnectConverter();
    void WaitForPolling();
    void WaitForFreshValues();
    void AddRows();

    TestStallWatch *fStalls = nullptr;
    QString fPath;
    uint16_t fUdpPort = 0;
};

void TestQuadrelFaults::init()
{
    fPanel.StartSim();
    SetDistinctStatus(*Sim());
    fPanel.Open();
    fStalls = new TestStallWatch;
    fStalls->Start();
}

void TestQuadrelFaults::cleanup()
{
    fStalls->Stop();
    fStalls->Report(QTest::currentTestFunction());
    const qint64 stall = fStalls->MaxLatenessMs();
    delete fStalls;
    fStalls = nullptr;

    QElapsedTimer closing;
    closing.start();
    fPanel.DeleteFrame();
    const qint64 closeMs = closing.elapsed();
    qInfo("%s: closing the panel took %lld ms", QTest::currentTestFunction(), closeMs);
    fPanel.Close();
    QVERIFY2(stall < StallBoundMs, qPrintable(QStringLiteral("the interface stalled %1 ms").arg(stall)));
    QVERIFY2(closeMs < CloseBoundMs, qPrintable(QStringLiteral("closing took %1 ms").arg(closeMs)));
}

void TestQuadrelFaults::ConnectSerial(const std::string &aLink)
{
    fPanel.ConnectSerial(aLink);
    fPath = fPanel.Path();
}

void TestQuadrelFaults::ConnectConverter()
{
    fPanel.ConnectConverter();
    fUdpPort = fPanel.UdpPort();
}

void TestQuadrelFaults::WaitForPolling()
{
    fPanel.WaitForPolling();
}

// The screen shows the module's state and the values are not marked stale.
void TestQuadrelFaults::WaitForFreshValues()
{
    QTRY_VERIFY_WITH_TIMEOUT(!fPanel.ValuesStale(), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(3), QStringLiteral("dout_on"), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(18), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fPanel.OutputPicture(2), QStringLiteral("dout_off"));
    QTRY_VERIFY_WITH_TIMEOUT(
        QRegularExpression("^2\\d[.,]\\d\\d В$").match(Control<QLabel>("labPower1")->text()).hasMatch(), LineTimeout);
    QVERIFY(Control<QLabel>("labPower1")->isEnabled());
}

void TestQuadrelFaults::adapterPulledMidPollAndPluggedIn()
{
    QTemporaryDir folder;
    const std::string link = folder.filePath(QStringLiteral("ttyQuadrel")).toStdString();
    ConnectSerial(link);
    QCOMPARE(fPath, QString::fromStdString(link));
    WaitForFreshValues();
    const QString lost = QStringLiteral("Порт %1 пропал").arg(fPath);
    const QString back = QStringLiteral("Порт %1 снова открыт").arg(fPath);

    // Pulled while the panel polls.
    const uint32_t uidBefore = Frame()->Link()->Engine()->Port->IssuedUID();
    TPendingWatch pending(fPanel);
    Sim()->Serial().Stop();
    QTRY_COMPARE_WITH_TIMEOUT(LinesStartingWith(Log()->Lines(), lost), 1, LineTimeout);
    QVERIFY(Frame()->Link()->Engine()->LineLost());
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.ValuesStale(), LineTimeout);
    // Gone for a while: polling goes on (each request fails at once) without a busy loop, a
    // pile of pending requests or a line in the log for every attempt.
    const int linesGone = int(Log()->Lines().size());
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer gone;
    gone.start();
    QTest::qWait(4000);
    const double cpuShare = (ProcessCpuSeconds() - cpuBefore) / (double(gone.elapsed()) / 1000.0);
    qInfo("while the adapter was out: %.1f %% of one core used, at most %d requests pending, %u requests tried",
          cpuShare * 100, pending.Max(), Frame()->Link()->Engine()->Port->IssuedUID() - uidBefore);
    QVERIFY2(cpuShare < 0.6, "the panel spins while the port is gone");
    QVERIFY(Frame()->Link()->Engine()->Port->IssuedUID() - uidBefore >= 8);
    QVERIFY2(pending.Max() <= 20, qPrintable(QString::number(pending.Max())));
    QCOMPARE(int(Log()->Lines().size()), linesGone);
    QVERIFY(fPanel.IsConnected());
    QVERIFY(fPanel.IsPolling());

    // Meanwhile the outputs changed; plugged in again under the same name, the panel finds the
    // port by itself and shows the new state.
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t aNow) {
        m.SetOutputState(3, false, aNow);
        m.SetOutputState(7, true, aNow);
    });
    QCOMPARE(QString::fromStdString(Sim()->StartPty(link)), fPath);
    QTRY_COMPARE_WITH_TIMEOUT(LinesStartingWith(Log()->Lines(), back), 1, LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!fPanel.ValuesStale(), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(7), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fPanel.OutputPicture(3), QStringLiteral("dout_off"));
    QVERIFY(Control<QLabel>("labPower1")->isEnabled());
    QVERIFY(Log()->Lines().contains(QStringLiteral("Модуль снова отвечает")));
    QCOMPARE(LinesStartingWith(Log()->Lines(), lost), 1);
    QCOMPARE(LinesStartingWith(Log()->Lines(), back), 1);
    QCOMPARE(Log()->LineColor(FirstLineStartingWith(Log()->Lines(), lost)), LogMaroon);
    QCOMPARE(Log()->LineColor(FirstLineStartingWith(Log()->Lines(), back)), LogNavy);

    // Pulled again and the operator disconnects: the reopening ends with the connection.
    Sim()->Serial().Stop();
    QTRY_COMPARE_WITH_TIMEOUT(LinesStartingWith(Log()->Lines(), lost), 2, LineTimeout);
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(!Frame()->Link()->Engine()->LineLost());
    QCOMPARE(QString::fromStdString(Sim()->StartPty(link)), fPath);
    QTest::qWait(2500);
    QVERIFY(!Frame()->Link()->Engine()->Port->IsActive());
    QCOMPARE(LinesStartingWith(Log()->Lines(), back), 1);
}

void TestQuadrelFaults::converterGoneForAMinute()
{
    ConnectConverter();
    WaitForFreshValues();
    const TestValueWatch values = ValueWatch(*Frame()->Link()->Device(), *Sim());
    TPendingWatch pending(fPanel);

    // The converter loses power: nothing answers on its port for a minute.
    Sim()->Udp().Stop();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.ValuesStale(), LineTimeout);
    const int linesGone = int(Log()->Lines().size());
    const uint32_t uidGone = Frame()->Link()->Engine()->Port->IssuedUID();
    QTest::qWait(60000);
    qInfo("converter gone for a minute: %u requests tried, at most %d pending, %d new log lines",
          Frame()->Link()->Engine()->Port->IssuedUID() - uidGone, pending.Max(),
          int(Log()->Lines().size()) - linesGone);
    // Polling went on at the pace of the waits (3 tries of 15 + 200 ms each), and said nothing more.
    QVERIFY(Frame()->Link()->Engine()->Port->IssuedUID() - uidGone >= 60);
    QVERIFY2(pending.Max() <= 20, qPrintable(QString::number(pending.Max())));
    QCOMPARE(int(Log()->Lines().size()), linesGone);
    QVERIFY(fPanel.IsConnected());
    QVERIFY(fPanel.IsPolling());
    QCOMPARE(Control<QPushButton>("btnConnect")->text(), QStringLiteral("Отключиться"));

    // Back on the same address and port: the values return on their own.
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t aNow) { m.SetOutputState(9, true, aNow); });
    QVERIFY(Sim()->StartUdp("127.0.0.2", fUdpPort));
    QTRY_VERIFY_WITH_TIMEOUT(!fPanel.ValuesStale(), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(9), QStringLiteral("dout_on"), LineTimeout);
    QVERIFY(Log()->Lines().contains(QStringLiteral("Модуль снова отвечает")));
    QVERIFY2(values.Wrong().isEmpty(), qPrintable(values.Wrong().join(", ")));
}

void TestQuadrelFaults::AddRows()
{
    QTest::addColumn<bool>("converter");
    QTest::newRow("serial line") << false;
    QTest::newRow("converter") << true;
}

void TestQuadrelFaults::someAnswersWithBadChecksums_data()
{
    AddRows();
}

void TestQuadrelFaults::someAnswersWithBadChecksums()
{
    QFETCH(bool, converter);
    if (converter)
        ConnectConverter();
    else
        ConnectSerial();
    WaitForFreshValues();
    const TestValueWatch values = ValueWatch(*Frame()->Link()->Device(), *Sim());
    const QString staleLine = QStringLiteral("Нет ответа от модуля");
    const int staleBefore = LinesStartingWith(Log()->Lines(), staleLine);

    Sim()->Faults().SetCorruptCrcPercent(10);
    TEverWatch everStale([this] { return fPanel.ValuesStale() || !Control<QLabel>("labPower1")->isEnabled(); });
    TEverWatch everWrongState([this] {
        return fPanel.OutputPicture(1) != QStringLiteral("dout_on")
               || fPanel.OutputPicture(2) != QStringLiteral("dout_off");
    });
    const int decodedBefore = values.Decoded();
    QTest::qWait(10000);
    Sim()->Faults().SetCorruptCrcPercent(0);
    int broken = 0;
    for (const TzSimFrameLogEntry &e : fPanel.FrameLog().Entries())
        broken += e.Direction == TzSimDirection::Sent && e.Note.find("corrupt CRC") != std::string::npos;
    qInfo("%d values decoded and %d answers broken in 10 s", values.Decoded() - decodedBefore, broken);

    // Polling went on and every good answer was shown; the bad ones never reached a tag, and
    // the screen never called its values stale.
    QVERIFY(broken >= 10);
    // Six of the eight polled reads are watched: about 6 x 9 of them for each broken answer.
    QVERIFY(values.Decoded() - decodedBefore >= 6 * broken);
    QVERIFY2(values.Wrong().isEmpty(), qPrintable(values.Wrong().join(", ")));
    QCOMPARE(everStale.Seen(), 0);
    QCOMPARE(everWrongState.Seen(), 0);
    QCOMPARE(LinesStartingWith(Log()->Lines(), staleLine), staleBefore);
    QVERIFY(fPanel.IsConnected());
}

void TestQuadrelFaults::lateAnswersNeverLandInOtherTags_data()
{
    QTest::addColumn<bool>("converter");
    QTest::addColumn<bool>("echo");
    QTest::newRow("serial line") << false << false;
    QTest::newRow("converter") << true << true;
    // Its answers all carry the same sequence number: the number tells nothing.
    QTest::newRow("converter without sequence numbers") << true << false;
}

void TestQuadrelFaults::lateAnswersNeverLandInOtherTags()
{
    QFETCH(bool, converter);
    QFETCH(bool, echo);
    Sim()->Udp().SetEchoNumbers(echo);
    if (converter)
        ConnectConverter();
    else
        ConnectSerial();
    WaitForFreshValues();
    const TestValueWatch values = ValueWatch(*Frame()->Link()->Device(), *Sim());

    // Every answer comes after the panel stopped waiting for it (655 ms on the line, 3 x 215 ms
    // through the converter), while the next requests of the same shape are being asked.
    const int lateMs = converter ? 300 : 900;
    Sim()->Faults().SetAnswerDelay(lateMs);
    const size_t asked = fPanel.FrameLog().ReceivedCount();
    QTest::qWait(8000);
    const size_t askedLate = fPanel.FrameLog().ReceivedCount() - asked;
    Sim()->Faults().SetAnswerDelay(0);
    qInfo("%zu requests asked while every answer came %d ms late", askedLate, lateMs);
    QVERIFY(askedLate >= 6);

    // On time again: polling goes on and the values come back, every one in its own tag.
    const int decoded = values.Decoded();
    WaitForFreshValues();
    QTRY_VERIFY_WITH_TIMEOUT(values.Decoded() >= decoded + 12, LineTimeout);
    QVERIFY2(values.Wrong().isEmpty(), qPrintable(values.Wrong().join(", ")));
}

void TestQuadrelFaults::floodOfForeignDatagrams()
{
    ConnectConverter();
    WaitForFreshValues();
    const TestValueWatch values = ValueWatch(*Frame()->Link()->Device(), *Sim());
    const int linesBefore = int(Log()->Lines().size());
    const long rssBefore = ResidentKiB();
    const int decodedBefore = values.Decoded();
    TEverWatch everStale([this] { return fPanel.ValuesStale(); });

    QElapsedTimer clock;
    clock.start();
    long sent = 0;
    {
        TDatagramFlood flood(fUdpPort, 10000);
        QVERIFY(flood.Ok());
        QTest::qWait(10000);
        sent = flood.Sent();
    }
    const long rssGrowth = ResidentKiB() - rssBefore;
    qInfo("flood: %ld datagrams in %lld ms; %d values decoded meanwhile; resident memory %+ld KiB; %d new log lines",
          sent, clock.elapsed(), values.Decoded() - decodedBefore, rssGrowth, int(Log()->Lines().size()) - linesBefore);
    QVERIFY(sent >= 50000);
    // Polling went on through the flood; none of the strangers' answers was taken.
    QVERIFY(values.Decoded() - decodedBefore >= 100);
    QVERIFY2(values.Wrong().isEmpty(), qPrintable(values.Wrong().join(", ")));
    QCOMPARE(everStale.Seen(), 0);
    QCOMPARE(fPanel.OutputPicture(2), QStringLiteral("dout_off"));
    QVERIFY(rssGrowth < 50 * 1024);
    QVERIFY(int(Log()->Lines().size()) - linesBefore <= 5);
    WaitForFreshValues();
}

void TestQuadrelFaults::orderedWritesGoOnPastAFailedWrite_data()
{
    QTest::addColumn<bool>("silent");
    QTest::newRow("a write the module refuses (exception 03)") << false;
    QTest::newRow("writes that get no answer") << true;
}

// Every pulse-width, network and sequence write goes through the ordered writes: a write that
// fails ends like one that succeeds, and the chain goes on in its order, each write sent once.
void TestQuadrelFaults::orderedWritesGoOnPastAFailedWrite()
{
    QFETCH(bool, silent);
    ConnectSerial();
    const size_t mark = ReceivedCount(*Sim());
    if (silent)
        Sim()->Faults().SetSilent(true);
    // The network time-out, a speed code (99 is refused by the module), the time-out again.
    const int speedCode = silent ? 5 : 99;
    Frame()->SetRegInOrder(28680, 7);
    Frame()->SetRegInOrder(28672, speedCode);
    Frame()->SetRegInOrder(28680, 9);
    const QStringList chain{QStringLiteral("6:28680:7"), QStringLiteral("6:28672:%1").arg(speedCode),
                            QStringLiteral("6:28680:9")};
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), mark), chain, 3 * LineTimeout);
    QCOMPARE(Frame()->Link()->OrderedWritesWaiting(), 0);
    // Each write is handed over as soon as the one before has failed: at most the request already
    // on the line goes between two of them, never a whole poll cycle.
    const int between = MostFramesBetweenWrites(*Sim(), mark);
    QVERIFY2(between <= 1, qPrintable(QString::number(between)));
    if (silent) {
        Sim()->Faults().SetSilent(false);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(Log()->Lines().contains(QStringLiteral("Ошибок 03h: 1")), LineTimeout);
        Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t) {
            QCOMPARE(m.StoredNetwork().TimeoutSec, uint16_t(9));
            QCOMPARE(m.StoredNetwork().SpeedCode, uint16_t(3));
        });
    }
    // The chain has not stalled: the next ordered write goes out and takes effect.
    Frame()->SetRegInOrder(28680, 11);
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), mark), chain + QStringList{QStringLiteral("6:28680:11")}, LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Sim()->Bus().ReadRegister(ModuleAddress, 28680).value_or(0) == 11, LineTimeout);
}

void TestQuadrelFaults::orderedWritesOfAnEndedConnectionNeverReachTheNext_data()
{
    QTest::addColumn<bool>("restart");
    QTest::newRow("disconnected in the middle of a chain") << false;
    QTest::newRow("chain begun during the restart's wait") << true;
}

// "Все включить медленно" is a chain of twenty writes. The connection it began on ends in the
// middle of it (the engine is replaced on the next connection): the rest is dropped, never
// written on the next connection, and that connection's own ordered writes go out at once.
void TestQuadrelFaults::orderedWritesOfAnEndedConnectionNeverReachTheNext()
{
    QFETCH(bool, restart);
    ConnectSerial();
    // Each answer 150 ms late: the chain takes seconds.
    Sim()->Faults().SetAnswerDelay(150);
    const size_t mark = ReceivedCount(*Sim());
    if (restart) {
        QTimer::singleShot(100, Frame(), [this] { Control<QPushButton>("btnAllOnSlow")->click(); });
        QTest::mouseClick(Control<QPushButton>("btnReset"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!fPanel.IsConnected(), LineTimeout);
    } else {
        Control<QPushButton>("btnAllOnSlow")->click();
        QTRY_VERIFY_WITH_TIMEOUT(Writes(*Sim(), mark, 5).size() >= 3, LineTimeout);
        fPanel.ClickConnect();
        QVERIFY(!fPanel.IsConnected());
    }

    Sim()->Faults().SetAnswerDelay(0);
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), LineTimeout);
    fPanel.ClickConnect();
    WaitForPolling();
    const size_t after = ReceivedCount(*Sim());
    // The chain was cut in its middle.
    const qsizetype begun = Writes(*Sim(), mark, 5).size();
    QVERIFY2(begun >= 1 && begun < 20, qPrintable(QString::number(begun)));
    Control<QPushButton>("btnAllOff")->click();
    const QStringList allOff{QStringLiteral("6:60015:0"), QStringLiteral("6:60016:0")};
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), after), allOff, LineTimeout);
    // Several poll cycles later, nothing of the old chain has come after it.
    const size_t settled = ReceivedCount(*Sim());
    QTRY_VERIFY_WITH_TIMEOUT(StateReads(*Sim(), settled) >= 4, LineTimeout);
    QCOMPARE(Writes(*Sim(), after), allOff);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuadrelFaults.moc"
