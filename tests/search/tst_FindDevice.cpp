// The search component on its own: the probe and the identification rule, and whole scans against
// the simulated bus on a pseudo-terminal (two modules and a device of another type).

#include "port/uFreePort.h"
#include "search/uFindDevice.h"
#include "sim/uSimulator.h"

#include <QCoreApplication>
#include <QtTest>

#include <memory>

namespace {

constexpr int Generous = 30000;

QByteArray Hex(const char *aText)
{
    return QByteArray::fromHex(aText);
}

// A probe as the simulator received it: its address, or 0 for any other frame.
int ProbedAddress(const TSimBytes &aFrame)
{
    const TStringBytes frame = TStringBytes::FromRaw(aFrame.data(), int(aFrame.size()));
    return aFrame.size() == 8 && frame.AsBytes() == FindProbeFrame(aFrame[0]).AsBytes() ? aFrame[0] : 0;
}

} // namespace

class TestFindDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void probeFrame_data();
    void probeFrame();
    void identifiesQuadrel_data();
    void identifiesQuadrel();

    void onePassReportsEveryAddressOnce();
    void startFailures_data();
    void startFailures();
    void stopEndsTheScanAtOnce();
    void destroyedDuringAScan();

private:
    void StartOnPty(TfrmFindDevice &aFind, int aTimeout);

    std::unique_ptr<TzSimulator> fSim;
    QString fPath;
};

void TestFindDevice::init()
{
    fSim = std::make_unique<TzSimulator>();
    QVERIFY(fSim->Bus().AddModule(16));
    QVERIFY(fSim->Bus().AddModule(20));
    QVERIFY(fSim->Bus().AddForeignDevice(24, 42));
    fPath = QString::fromStdString(fSim->StartPty());
    QVERIFY2(!fPath.isEmpty(), fSim->Serial().LastError().c_str());
}

void TestFindDevice::cleanup()
{
    fSim.reset();
}

void TestFindDevice::StartOnPty(TfrmFindDevice &aFind, int aTimeout)
{
    aFind.SetPortName(fPath);
    aFind.SetBaudRate(9600);
    aFind.SetFormat(0);
    aFind.SetTimeout(aTimeout);
}

void TestFindDevice::probeFrame_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("1") << 1 << Hex("0104900000025ccb");
    QTest::newRow("16") << 16 << Hex("1004900000025f8a");
    QTest::newRow("247") << 247 << Hex("f7049000000248 5d");
}

void TestFindDevice::probeFrame()
{
    QFETCH(int, address);
    QFETCH(QByteArray, frame);
    QCOMPARE(FindProbeFrame(address).AsBytes(), frame);
}

void TestFindDevice::identifiesQuadrel_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("quadrel");
    QTest::newRow("module at 16") << Hex("10040400490001ea93") << true;
    QTest::newRow("only the low byte counts") << Hex("1004047f4900010000") << true;
    QTest::newRow("another type") << Hex("10040400480001") << false;
    QTest::newRow("byte count 2") << Hex("100402004900") << false;
    QTest::newRow("four bytes") << Hex("10040449") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestFindDevice::identifiesQuadrel()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, quadrel);
    QCOMPARE(IsQuadrelAnswer(TStringBytes(answer)), quadrel);
}

void TestFindDevice::onePassReportsEveryAddressOnce()
{
    TfrmFindDevice find;
    StartOnPty(find, 30);
    QList<int> progress;
    QMap<int, QByteArray> answers;
    find.OnFindProcess = [&progress](int aPos) { progress << aPos; };
    find.OnFindAddr = [&answers](int aAddr, const TStringBytes &aAnswer) { answers[aAddr] = aAnswer.AsBytes(); };
    QSignalSpy passes(&find, &TfrmFindDevice::PassStarted);
    QVERIFY(find.Start());
    QVERIFY(find.InFindProgress());
    QCOMPARE(find.PendingProbes(), 247);
    QCOMPARE(find.ScanPort()->LocTimeouts().ReadTotalTimeoutConstant, 30);
    QCOMPARE(find.ScanPort()->LocTimeouts().ReadIntervalTimeout, 10);
    QCOMPARE(find.ScanPort()->LocTimeouts().WriteTotalTimeoutMultiplier, 30);

    // Not cycled: one pass, then the component is idle and its engine gone.
    QTRY_VERIFY_WITH_TIMEOUT(!find.InFindProgress(), Generous);
    QVERIFY(!find.ScanPort());
    QCOMPARE(passes.count(), 1);
    QList<int> all;
    for (int a = 1; a <= 247; ++a)
        all << a;
    QCOMPARE(progress, all);
    QCOMPARE(answers.keys(), (QList<int>{16, 20, 24}));
    QVERIFY(IsQuadrelAnswer(TStringBytes(answers[16])));
    QVERIFY(IsQuadrelAnswer(TStringBytes(answers[20])));
    QVERIFY(!IsQuadrelAnswer(TStringBytes(answers[24])));

    // On the line: exactly the probes 1..247, in order, nothing else.
    QList<int> probed;
    for (const TSimBytes &frame : fSim->Log().Frames(TzSimDirection::Received))
        probed << ProbedAddress(frame);
    QCOMPARE(probed, all);
}

void TestFindDevice::startFailures_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("holdPort");
    QTest::addColumn<int>("error");
    QTest::newRow("time-out 0") << 9600 << 0 << false << int(TfrmFindDevice::feBadTimeout);
    QTest::newRow("speed not in the list") << 12345 << 30 << false << int(TfrmFindDevice::feNoPort);
    QTest::newRow("port held by another program") << 9600 << 30 << true << int(TfrmFindDevice::fePortBusy);
}

void TestFindDevice::startFailures()
{
    QFETCH(int, speed);
    QFETCH(int, timeout);
    QFETCH(bool, holdPort);
    QFETCH(int, error);
    std::unique_ptr<TzFreePort> holder;
    if (holdPort) {
        holder = std::make_unique<TzFreePort>(fPath);
        QVERIFY(holder->Start());
    }
    TfrmFindDevice find;
    StartOnPty(find, timeout);
    find.SetBaudRate(speed);
    QVERIFY(!find.Start());
    QCOMPARE(int(find.LastError()), error);
    QVERIFY(!find.InFindProgress());
    QVERIFY(!find.ScanPort());
    QCOMPARE(find.PendingProbes(), 0);
}

void TestFindDevice::stopEndsTheScanAtOnce()
{
    TfrmFindDevice find;
    StartOnPty(find, 30);
    find.Cycled = true;
    int outcomes = 0;
    find.OnFindProcess = [&outcomes](int) { ++outcomes; };
    QVERIFY(find.Start());
    QTRY_VERIFY_WITH_TIMEOUT(outcomes >= 5, Generous);
    find.Stop();
    QVERIFY(!find.InFindProgress());
    QVERIFY(!find.ScanPort());
    QCOMPARE(find.PendingProbes(), 0);
    // The port is free again at once: the engine closed it and its worker has ended.
    TzFreePort next(fPath);
    QVERIFY(next.Start());
    next.Stop();
    // No outcome of the stopped scan is reported later.
    const int reported = outcomes;
    QTest::qWait(300);
    QCOMPARE(outcomes, reported);
}

void TestFindDevice::destroyedDuringAScan()
{
    auto find = std::make_unique<TfrmFindDevice>();
    StartOnPty(*find, 30);
    find->Cycled = true;
    int outcomes = 0;
    find->OnFindProcess = [&outcomes](int) { ++outcomes; };
    QVERIFY(find->Start());
    QTRY_VERIFY_WITH_TIMEOUT(outcomes >= 3, Generous);
    // An outcome may already be posted to the event loop: it must find the component gone.
    find.reset();
    const int reported = outcomes;
    QTest::qWait(300);
    QCOMPARE(outcomes, reported);
    TzFreePort next(fPath);
    QVERIFY(next.Start());
}

QTEST_GUILESS_MAIN(TestFindDevice)
#include "tst_FindDevice.moc"
