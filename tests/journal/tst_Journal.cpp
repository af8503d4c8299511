// The journal's rows as the module and the panel's commands make them: the link connected to the
// simulated module on a pseudo-terminal, commands given as the operator, a light sequence, an
// all-outputs command and the web bridge give them, changes the module makes by itself (another
// master, the safe states after its network time-out), the power alarm, applied settings, and one
// sample a second.

#include "journal/uJournal.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "sim/uSimulator.h"

#include <QtTest>

#include <atomic>
#include <memory>

using namespace QuadrelMap;

namespace {

constexpr int Module = 16;

// An event as the tests compare it: "output 3 0->1 operator".
QString Brief(const TzJournalEvent &aEvent)
{
    QString text = aEvent.Kind;
    if (aEvent.Output > 0)
        text += QStringLiteral(" %1").arg(aEvent.Output);
    if (aEvent.Old || aEvent.New)
        text += QStringLiteral(" %1->%2")
                    .arg(aEvent.Old ? QString::number(*aEvent.Old) : QStringLiteral("?"))
                    .arg(aEvent.New ? QString::number(*aEvent.New) : QStringLiteral("?"));
    if (!aEvent.Source.isEmpty())
        text += u' ' + aEvent.Source;
    return text;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void outputChangesCarryWhoAskedForThem();
    void safeStatesAfterTheNetworkTimeoutAreTheModules();
    void powerAlarmAndAppliedSettings();
    void samplesOnceASecondWhileConnected();
    void connectionEvents();

private:
    void Connect();
    // The events collected so far, brief, of the kinds given (all when none).
    QStringList Events(const QStringList &aKinds = {}) const;
    std::vector<TzJournalSample> Samples() const;

    std::atomic<uint64_t> fSkewMs{0};
    std::unique_ptr<TzSimulator> fSim;
    std::unique_ptr<TzQuadrelLink> fLink;
    std::unique_ptr<TzJournal> fJournal;
    std::vector<TzJournalBatch> fBatches;
};

void TestJournal::init()
{
    fSkewMs = 0;
    // The module's clock can be moved on, for its network time-out.
    fSim = std::make_unique<TzSimulator>([this] { return SimSteadyMs() + fSkewMs.load(); });
    QVERIFY(fSim->Bus().AddModule(Module));
    fLink = std::make_unique<TzQuadrelLink>();
    QVERIFY(fLink->LoadTemplate(Module));
    fBatches.clear();
    fJournal = std::make_unique<TzJournal>(*fLink,
                                           [this](TzJournalBatch aBatch) { fBatches.push_back(std::move(aBatch)); });
}

void TestJournal::cleanup()
{
    fJournal.reset();
    fLink.reset();
    fSim.reset();
}

void TestJournal::Connect()
{
    const std::string pty = fSim->StartPty();
    QVERIFY(!pty.empty());
    TzLinkSettings settings;
    settings.PortName = QString::fromStdString(pty);
    settings.Address = Module;
    QVERIFY(fLink->Connect(settings));
    QTRY_VERIFY_WITH_TIMEOUT(fLink->Polling(), 20000);
    // Both state registers read at least once by the poll: changes from now on are compared.
    QTRY_VERIFY_WITH_TIMEOUT(!Samples().empty(), 20000);
}

QStringList TestJournal::Events(const QStringList &aKinds) const
{
    QStringList events;
    for (const TzJournalBatch &batch : fBatches)
        for (const TzJournalEvent &event : batch.Events)
            if (aKinds.isEmpty() || aKinds.contains(event.Kind))
                events << Brief(event);
    return events;
}

std::vector<TzJournalSample> TestJournal::Samples() const
{
    std::vector<TzJournalSample> samples;
    for (const TzJournalBatch &batch : fBatches)
        samples.insert(samples.end(), batch.Samples.begin(), batch.Samples.end());
    return samples;
}

void TestJournal::outputChangesCarryWhoAskedForThem()
{
    Connect();
    fLink->SendDOUT(3, true);
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).contains("output 3 0->1 operator"), 20000);
    {
        const TzCommandSourceScope source(*fLink, TzCommandSource::Sequence);
        fLink->SendDOUTInOrder(4, true);
    }
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).contains("output 4 0->1 sequence"), 20000);
    {
        const TzCommandSourceScope source(*fLink, TzCommandSource::WebBridge);
        fLink->SendDOUT(3, false);
    }
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).contains("output 3 1->0 web"), 20000);
    {
        const TzCommandSourceScope source(*fLink, TzCommandSource::AllOutputs);
        fLink->SetRegInOrder(RegStates17to20, 15);
        fLink->SetRegInOrder(RegStates1to16, 65535);
    }
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).size() == 3 + 19, 20000);
    for (int n = 1; n <= 20; ++n)
        if (n != 4)
            QVERIFY2(Events({"output"}).contains(QStringLiteral("output %1 0->1 all_outputs").arg(n)),
                     qPrintable(QString::number(n)));
    // The scope ended: the operator again.
    QCOMPARE(fLink->CommandSource(), TzCommandSource::Operator);

    // Another master switches output 9 off: nobody here asked.
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t aNow) { m.SetOutputState(9, false, aNow); });
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).contains("output 9 1->0 module"), 20000);
    // Every change once.
    QCOMPARE(Events({"output"}).size(), 3 + 19 + 1);
}

void TestJournal::safeStatesAfterTheNetworkTimeoutAreTheModules()
{
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t aNow) {
        QCOMPARE(m.WriteRegister(RegTimeout, 5, aNow), uint8_t(0));
        m.Restart(aNow); // the stored time-out takes effect
        m.SetSafeState(7, true);
        m.SetOutputState(2, true, aNow);
    });
    Connect();
    // An operator's command still expected when the module falls back does not take the credit.
    fLink->SendDOUT(12, true);
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).contains("output 12 0->1 operator"), 20000);
    // The module hears nothing for longer than its time-out (its clock jumps ahead).
    fSkewMs += 6000;
    QTRY_VERIFY_WITH_TIMEOUT(fSim->Bus().OutputOn(Module, 7), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(Events({"output"}).size() == 4, 20000);
    QCOMPARE(Events({"output"}).mid(1),
             (QStringList{"output 2 1->0 module", "output 7 0->1 module", "output 12 1->0 module"}));
}

void TestJournal::powerAlarmAndAppliedSettings()
{
    Connect();
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetPowerStatus(0x4000); });
    QTRY_VERIFY_WITH_TIMEOUT(Events().contains("power_alarm_raised 0->1"), 20000);
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetPowerStatus(0); });
    QTRY_VERIFY_WITH_TIMEOUT(Events().contains("power_alarm_cleared 1->0"), 20000);

    // A pulse-width apply (four writes) and a network apply (four writes): one event each.
    const int base = OutputCoil(5);
    fLink->SetRegInOrder(base + OffsetScale, 2);
    fLink->SetRegInOrder(base + OffsetPeriod, 100);
    fLink->SetRegInOrder(base + OffsetFill, 500);
    fLink->SetRegInOrder(base + OffsetSafe, 1);
    fLink->SetRegInOrder(RegAddress, 16);
    fLink->SetRegInOrder(RegSpeed, 3);
    fLink->SetRegInOrder(RegFormat, 4);
    fLink->SetRegInOrder(RegTimeout, 7);
    QTRY_VERIFY_WITH_TIMEOUT(Events({"network_settings"}).size() == 1 && Events({"pulse_width_settings"}).size() == 1,
                             20000);
    QCOMPARE(Events({"pulse_width_settings"}), QStringList{"pulse_width_settings 5"});
    QString pulseText, networkText;
    for (const TzJournalBatch &batch : fBatches)
        for (const TzJournalEvent &event : batch.Events) {
            if (event.Kind == "pulse_width_settings")
                pulseText = event.Text;
            if (event.Kind == "network_settings")
                networkText = event.Text;
        }
    QCOMPARE(pulseText,
             QStringLiteral("Выход 5, ШИМ: единица 2, период 100, заполнение 500, безопасное состояние замкнуто"));
    QCOMPARE(networkText, QStringLiteral("Сетевые настройки: скорость 9600, формат RTU 8N1, адрес 16, таймаут 7 с"));
    // Output 5 now pulses by itself: its switching is no event of its own.
    const int before = int(Events({"output"}).size());
    QTest::qWait(1500);
    QCOMPARE(int(Events({"output"}).size()), before);

    // A refused write applies nothing.
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetRefuseWrites(4); });
    fLink->SetRegInOrder(RegCommand, RestartCommand);
    QTRY_COMPARE_WITH_TIMEOUT(fLink->OrderedWritesWaiting(), 0, 20000);
    fJournal->Tick();
    QVERIFY(Events({"restart"}).isEmpty());
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t) { m.SetRefuseWrites(0); });
    fLink->SetRegInOrder(RegCommand, RestartCommand);
    QTRY_COMPARE_WITH_TIMEOUT(Events({"restart"}), QStringList{"restart"}, 20000);
}

void TestJournal::samplesOnceASecondWhileConnected()
{
    Connect();
    fSim->Bus().WithModule(Module, [](TzSimModule &m, uint64_t aNow) { m.SetOutputState(20, true, aNow); });
    QTRY_VERIFY_WITH_TIMEOUT(Samples().size() >= 4, 20000);
    const std::vector<TzJournalSample> samples = Samples();
    for (size_t i = 1; i < samples.size(); ++i) {
        const qint64 step = samples[i].TimeMs - samples[i - 1].TimeMs;
        QVERIFY2(step >= 500 && step <= 3000, qPrintable(QString::number(step))); // the timer's second, loosely
        QVERIFY2(samples[i].SupplyMv > 20000 && samples[i].SupplyMv < 28000,
                 qPrintable(QString::number(samples[i].SupplyMv)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(Samples().back().Outputs == (1u << 19), 20000);
    // Disconnected: no more samples.
    fLink->Disconnect();
    fJournal->Tick();
    const size_t count = Samples().size();
    QTest::qWait(1500);
    QCOMPARE(Samples().size(), count);
}

void TestJournal::connectionEvents()
{
    // Nobody at address 30: the attempt fails after its second.
    const std::string pty = fSim->StartPty();
    QVERIFY(!pty.empty());
    TzLinkSettings settings;
    settings.PortName = QString::fromStdString(pty);
    settings.Address = 30;
    QVERIFY(fLink->Connect(settings));
    QTRY_VERIFY_WITH_TIMEOUT(Events().contains("connection_failed"), 20000);
    // The module, then it falls silent and comes back, then the operator disconnects.
    settings.Address = Module;
    QVERIFY(fLink->Connect(settings));
    QTRY_VERIFY_WITH_TIMEOUT(fLink->Polling(), 20000);
    fSim->Faults().SetSilent(true);
    // The panel asks the link about stale values with its screen's timer; here the test asks.
    QTRY_VERIFY_WITH_TIMEOUT((fLink->CheckStale(), fLink->ValuesStale()), 20000);
    fSim->Faults().SetSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(!fLink->ValuesStale(), 20000);
    fLink->Disconnect();
    fJournal->Tick();
    QCOMPARE(Events({"connection_made", "connection_lost", "connection_failed", "connection_ended"}),
             (QStringList{"connection_failed", "connection_made", "connection_lost", "connection_made",
                          "connection_ended"}));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_Journal.moc"
