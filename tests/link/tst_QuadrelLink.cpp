// The module link alone, without a window (a QCoreApplication): connecting to the simulated
// module over a pseudo-terminal, the probe and its decision, the first cycle, the poll, writes
// plain and in order, Modbus exceptions, a module that goes silent (stale values) and comes back,
// a line that goes away and comes back, and a module that never answers. The simulator's frame log shows what crossed
// the line.

#include "link/uQuadrelLink.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"
#include "port/uFreePort.h"
#include "sim/uSimulator.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr int LineTimeout = 20000;

// The register a request of the frame log asks for (functions 1..6), or -1.
int RegisterOf(const TSimBytes &aFrame)
{
    if (aFrame.size() < 4)
        return -1;
    return (aFrame[2] << 8) | aFrame[3];
}

// How many requests for aRegister with function aFunction the module has received so far.
int RequestsFor(const TzSimulator &aSim, int aFunction, int aRegister)
{
    const auto frames = const_cast<TzSimulator &>(aSim).Log().Frames(TzSimDirection::Received);
    return int(std::count_if(frames.begin(), frames.end(), [&](const TSimBytes &aFrame) {
        return aFrame.size() >= 4 && aFrame[1] == aFunction && RegisterOf(aFrame) == aRegister;
    }));
}

// A tag of the link's device for one holding register, read with function 3.
TzTag *HoldingTag(TzDevice &aDevice, int aID, int aRegister)
{
    TzTag *tag = aDevice.AddRegisterTag(aID, {});
    tag->Reg = aRegister;
    tag->Enabled = false; // not part of the first cycle
    return tag;
}

} // namespace

class TestQuadrelLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectsReadsTheModuleAndPolls();
    void writesReachTheModuleInTheirOrder();
    void exceptionIsCountedAndALaterAnswerDecodesAgain();
    void silentModuleMakesValuesStaleUntilItAnswers();
    void lateAnswersNeverReachAnotherTag();
    void lostLineGoesStaleAndComesBack();
    void moduleThatNeverAnswersFailsTheAttempt();
    void disconnectStopsEverything();

private:
    // Connects the link to the simulator's pty and waits for the first cycle and the poll.
    void ConnectAndWaitForPoll();
    TzLinkSettings SerialSettings() const;

    std::unique_ptr<TzSimulator> fSim;
    std::unique_ptr<TzQuadrelLink> fLink;
    QString fPtyPath;
};

void TestQuadrelLink::init()
{
    fSim = std::make_unique<TzSimulator>();
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fPtyPath = QString::fromStdString(fSim->StartPty());
    QVERIFY(!fPtyPath.isEmpty());
    fLink = std::make_unique<TzQuadrelLink>();
    QVERIFY(fLink->LoadTemplate(ModuleAddress));
}

void TestQuadrelLink::cleanup()
{
    fLink.reset();
    fSim.reset();
}

TzLinkSettings TestQuadrelLink::SerialSettings() const
{
    TzLinkSettings settings;
    settings.PortName = fPtyPath;
    settings.BaudRate = 9600;
    settings.FormatItem = 0;
    settings.Address = ModuleAddress;
    return settings;
}

void TestQuadrelLink::ConnectAndWaitForPoll()
{
    QSignalSpy probe(fLink.get(), &TzQuadrelLink::ProbeAnswered);
    QSignalSpy firstCycle(fLink.get(), &TzQuadrelLink::FirstCycleDone);
    QVERIFY(fLink->Connect(SerialSettings()));
    QTRY_COMPARE_WITH_TIMEOUT(probe.count(), 1, LineTimeout);
    QCOMPARE(probe.at(0).at(0).toBool(), true);
    QVERIFY(fLink->IsConnected());
    QTRY_COMPARE_WITH_TIMEOUT(firstCycle.count(), 1, LineTimeout);
    QVERIFY(fLink->Polling());
}

void TestQuadrelLink::connectsReadsTheModuleAndPolls()
{
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t aNow) {
        aModule.SetOutputState(3, true, aNow);
        aModule.SetSafeState(18, true);
    });
    QSignalSpy outputs(fLink.get(), &TzQuadrelLink::OutputsRead);
    QSignalSpy blocks(fLink.get(), &TzQuadrelLink::PulseWidthBlockRead);
    QSignalSpy safe(fLink.get(), &TzQuadrelLink::SafeStatesRead);
    QSignalSpy status(fLink.get(), &TzQuadrelLink::StatusRead);
    QSignalSpy requests(fLink.get(), &TzQuadrelLink::RequestQueued);
    QSignalSpy answers(fLink.get(), &TzQuadrelLink::AnswerHandled);
    ConnectAndWaitForPoll();

    // The first cycle filled the device's identity from the module.
    QCOMPARE(fLink->Device()->DevVersion, QuadrelMap::DeviceType);
    int firmware = 0;
    QVERIFY(fLink->TryValueByID(QuadrelMap::RegFirmware, firmware));
    QCOMPARE(fLink->Device()->DevPOVersion, firmware);
    QCOMPARE(fLink->Device()->DevPOVersionStr, FirmwareVersionText(firmware));

    // The poll reads every status register again and again.
    const int supplyReads = RequestsFor(*fSim, 4, QuadrelMap::RegSupplyMillivolts)
                            + RequestsFor(*fSim, 3, QuadrelMap::RegSupplyMillivolts);
    QTRY_VERIFY_WITH_TIMEOUT(RequestsFor(*fSim, 4, QuadrelMap::RegSupplyMillivolts)
                                     + RequestsFor(*fSim, 3, QuadrelMap::RegSupplyMillivolts)
                                 >= supplyReads + 3,
                             LineTimeout);
    int states = 0;
    QVERIFY(fLink->TryValueByID(QuadrelMap::RegStates1to16, states));
    QCOMPARE(states, 1 << 2);
    QVERIFY(fLink->TryValueByID(QuadrelMap::RegSafe17to20, states));
    QCOMPARE(states, 1 << 1);

    // Everyone listening was told: each kind of answer, and the traffic for the observers.
    QVERIFY(outputs.count() >= 2);
    QVERIFY(blocks.count() >= 2);
    QVERIFY(safe.count() >= 2);
    QVERIFY(status.count() >= 2);
    QVERIFY(requests.count() > 0);
    QVERIFY(answers.count() >= requests.count() - fLink->PendingAnswers());
    QCOMPARE(requests.at(0).at(0).value<TzPortObsRec>().Addr, int(ModuleAddress));
}

void TestQuadrelLink::writesReachTheModuleInTheirOrder()
{
    ConnectAndWaitForPoll();
    fLink->SendDOUT(5, true);
    bool on = false;
    QTRY_VERIFY_WITH_TIMEOUT((fSim->Bus().WithModule(ModuleAddress,
                                                     [&](TzSimModule &aModule, uint64_t aNow) {
                                                         on = aModule.OutputState(5, aNow);
                                                     }),
                              on),
                             LineTimeout);

    // A batch handed over in order arrives in that order, one write at a time.
    fSim->Log().Clear();
    const int base = QuadrelMap::OutputCoil(7);
    fLink->SetRegInOrder(base + QuadrelMap::OffsetScale, 10);
    fLink->SetRegInOrder(base + QuadrelMap::OffsetPeriod, 1000);
    fLink->SetRegInOrder(base + QuadrelMap::OffsetFill, 500);
    fLink->SetRegInOrder(base + QuadrelMap::OffsetSafe, 1);
    QVERIFY(fLink->OrderedWritesWaiting() >= 2); // the rest wait for the first one's answer
    QTRY_COMPARE_WITH_TIMEOUT(fLink->OrderedWritesWaiting(), 0, LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(RequestsFor(*fSim, 5, base + QuadrelMap::OffsetSafe) == 1, LineTimeout);
    std::vector<int> written;
    for (const TSimBytes &frame : fSim->Log().Frames(TzSimDirection::Received))
        if (frame.size() >= 4 && (frame[1] == 5 || frame[1] == 6) && RegisterOf(frame) >= base
            && RegisterOf(frame) <= base + QuadrelMap::OffsetSafe)
            written.push_back(RegisterOf(frame) - base);
    QCOMPARE(written, (std::vector<int>{QuadrelMap::OffsetScale, QuadrelMap::OffsetPeriod, QuadrelMap::OffsetFill,
                                        QuadrelMap::OffsetSafe}));
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t) {
        QCOMPARE(int(aModule.PwmUnit(7)), 10);
        QCOMPARE(int(aModule.PwmPeriod(7)), 1000);
        QCOMPARE(int(aModule.FillFactor(7)), 500);
        QVERIFY(aModule.SafeState(7));
    });
}

void TestQuadrelLink::exceptionIsCountedAndALaterAnswerDecodesAgain()
{
    ConnectAndWaitForPoll();
    fLink->StopPoll();
    QTRY_COMPARE_WITH_TIMEOUT(fLink->PendingAnswers(), 0, LineTimeout);
    // A holding register the module does not have: it answers with exception 02.
    TzTag *tag = HoldingTag(*fLink->Device(), 990001, 1);
    QSignalSpy counted(fLink.get(), &TzQuadrelLink::ExceptionCounted);
    QVERIFY(fLink->GetModbusRegRTU(tag));
    QTRY_COMPARE_WITH_TIMEOUT(counted.count(), 1, LineTimeout);
    QCOMPARE(counted.at(0).at(0).toInt(), 2);
    QCOMPARE(counted.at(0).at(1).toInt(), 1);
    QVERIFY(tag->ModbusError);
    QCOMPARE(tag->Quality(), QualityRejected);
    QCOMPARE(fLink->ModbusErrors()[2], 1);
    QCOMPARE(fLink->PendingAnswers(), 0);

    // No answer at all: quality 0, nothing decoded.
    fSim->Faults().SetSilent(true);
    QVERIFY(fLink->GetModbusRegRTU(tag));
    QTRY_COMPARE_WITH_TIMEOUT(tag->Quality(), QualityFailed, LineTimeout);
    QCOMPARE(fLink->ModbusErrors()[2], 1); // no second exception for an answer that never came
    QCOMPARE(counted.count(), 1);
    fSim->Faults().SetSilent(false);

    // The next regular answer is decoded again and clears the exception.
    tag->Reg = QuadrelMap::RegSpeed;
    QTRY_COMPARE_WITH_TIMEOUT(fLink->PendingAnswers(), 0, LineTimeout);
    QVERIFY(fLink->GetModbusRegRTU(tag));
    QTRY_COMPARE_WITH_TIMEOUT(tag->Quality(), QualityGood, LineTimeout);
    QVERIFY(!tag->ModbusError);
    QCOMPARE(fLink->Device()->Status, dsGood);
    QCOMPARE(fLink->ModbusErrors()[2], 1);
    QCOMPARE(fLink->PendingAnswers(), 0);
}

void TestQuadrelLink::silentModuleMakesValuesStaleUntilItAnswers()
{
    ConnectAndWaitForPoll();
    QSignalSpy stale(fLink.get(), &TzQuadrelLink::StaleChanged);
    fLink->CheckStale();
    QVERIFY(!fLink->ValuesStale());

    fSim->Faults().SetSilent(true);
    // The rule is asked as the panel's screen refresh asks it, every half second.
    QTRY_VERIFY_WITH_TIMEOUT((fLink->CheckStale(), fLink->ValuesStale()), LineTimeout);
    QCOMPARE(stale.count(), 1);
    QCOMPARE(stale.at(0).at(0).toBool(), true);
    QVERIFY(stale.at(0).at(1).toString().startsWith(QStringLiteral("Нет ответа от модуля с ")));
    QVERIFY(fLink->IsConnected());
    QVERIFY(fLink->Polling());
    int value = 0;
    QVERIFY(!fLink->TryValueByID(QuadrelMap::RegSupplyMillivolts, value)); // failed reads hold no value

    fSim->Faults().SetSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(!fLink->ValuesStale(), LineTimeout);
    QCOMPARE(stale.count(), 2);
    QCOMPARE(stale.at(1).at(0).toBool(), false);
    QTRY_VERIFY_WITH_TIMEOUT(fLink->TryValueByID(QuadrelMap::RegSupplyMillivolts, value), LineTimeout);
}

void TestQuadrelLink::lateAnswersNeverReachAnotherTag()
{
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t aNow) {
        aModule.SetSupply(23000, 0);
        aModule.SetOutputState(1, true, aNow);
    });
    ConnectAndWaitForPoll();
    // Every answer now comes later than the link waits for it.
    fSim->Faults().SetAnswerDelay(700);
    bool wrong = false;
    auto watch = [this, &wrong](int aID) {
        int value = 0;
        if (!fLink->TryValueByID(aID, value))
            return;
        if (aID == QuadrelMap::RegSupplyMillivolts && value != 23000)
            wrong = true;
        if (aID == QuadrelMap::RegStates1to16 && value != 1)
            wrong = true;
    };
    connect(fLink.get(), &TzQuadrelLink::StatusRead, this, watch);
    connect(fLink.get(), &TzQuadrelLink::OutputsRead, this, watch);
    QTRY_VERIFY_WITH_TIMEOUT((fLink->CheckStale(), fLink->ValuesStale()), LineTimeout);
    fSim->Faults().SetAnswerDelay(0);
    QTRY_VERIFY_WITH_TIMEOUT(!fLink->ValuesStale(), LineTimeout);
    int supply = 0;
    QTRY_VERIFY_WITH_TIMEOUT(fLink->TryValueByID(QuadrelMap::RegSupplyMillivolts, supply), LineTimeout);
    QCOMPARE(supply, 23000);
    QVERIFY(!wrong);
}

void TestQuadrelLink::lostLineGoesStaleAndComesBack()
{
    // The module reached through a link that a later pty re-points: an adapter pulled and plugged
    // in again under the same name.
    QTemporaryDir folder;
    const std::string stable = folder.filePath(QStringLiteral("ttyQuadrel")).toStdString();
    fSim->Serial().Stop();
    fPtyPath = QString::fromStdString(fSim->StartPty(stable));
    QCOMPARE(fPtyPath, QString::fromStdString(stable));
    ConnectAndWaitForPoll();

    fSim->Serial().Stop();
    QTRY_VERIFY_WITH_TIMEOUT(fLink->Engine()->LineLost(), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT((fLink->CheckStale(), fLink->ValuesStale()), LineTimeout);
    QVERIFY(fLink->IsConnected());
    QVERIFY(fLink->Polling());

    fSim->Bus().WithModule(ModuleAddress,
                           [](TzSimModule &aModule, uint64_t aNow) { aModule.SetOutputState(9, true, aNow); });
    QCOMPARE(QString::fromStdString(fSim->StartPty(stable)), fPtyPath);
    QTRY_VERIFY_WITH_TIMEOUT(!fLink->ValuesStale(), LineTimeout);
    QVERIFY(!fLink->Engine()->LineLost());
    int states = 0;
    QTRY_VERIFY_WITH_TIMEOUT(fLink->TryValueByID(QuadrelMap::RegStates1to16, states) && (states & (1 << 8)),
                             LineTimeout);
}

void TestQuadrelLink::moduleThatNeverAnswersFailsTheAttempt()
{
    fSim->Faults().SetSilent(true);
    QSignalSpy probe(fLink.get(), &TzQuadrelLink::ProbeAnswered);
    QSignalSpy failed(fLink.get(), &TzQuadrelLink::ConnectFailed);
    QVERIFY(fLink->Connect(SerialSettings()));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, LineTimeout);
    QVERIFY(!fLink->IsConnected());
    QVERIFY(!fLink->Polling());
    QCOMPARE(probe.count(), 0);

    // A port that cannot be opened is refused at once; the second still runs out.
    TzLinkSettings missing = SerialSettings();
    missing.PortName = QStringLiteral("/dev/quadrel-no-such-port");
    QVERIFY(!fLink->Connect(missing));
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, LineTimeout);
}

void TestQuadrelLink::disconnectStopsEverything()
{
    ConnectAndWaitForPoll();
    const quint64 serial = fLink->ConnectionSerial();
    fLink->SetRegInOrder(QuadrelMap::OutputCoil(1), 1);
    fLink->SetRegInOrder(QuadrelMap::OutputCoil(2), 1);
    fLink->Disconnect();
    QVERIFY(!fLink->IsConnected());
    QVERIFY(!fLink->Polling());
    QCOMPARE(fLink->OrderedWritesWaiting(), 0);
    // Nothing more goes out on the line once the engine is closed.
    QTest::qWait(300);
    const size_t heard = fSim->Log().Frames(TzSimDirection::Received).size();
    QTest::qWait(600);
    QCOMPARE(fSim->Log().Frames(TzSimDirection::Received).size(), heard);
    // Writes are refused while disconnected; a new connection counts as a new one.
    fLink->SetRegInOrder(QuadrelMap::OutputCoil(3), 1);
    QCOMPARE(fLink->OrderedWritesWaiting(), 0);
    ConnectAndWaitForPoll();
    QCOMPARE(fLink->ConnectionSerial(), serial + 1);
}

QTEST_GUILESS_MAIN(TestQuadrelLink)
#include "tst_QuadrelLink.moc"
