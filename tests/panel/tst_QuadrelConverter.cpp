// The panel through a converter that misbehaves at the datagram level, as the simulated converter
// can: it keeps no sequence numbers (00 00 in every answer) and loses the first datagram, sends
// every answer twice, or holds answers back. Whatever it does, every value the panel shows is the
// module's own.

#include "app/uApplication.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "sim/uSimulator.h"
#include "tests/panel/PanelTestKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <map>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr int LineTimeout = 30000;

// Every status value decoded, checked against what the module holds there.
TestValueWatch StatusWatch(TzDevice &aDevice, TzSimulator &aSim)
{
    std::map<int, TestValueWatch::TRule> rules;
    for (const int id : {36881, 60013, 60014, 60015, 60016})
        rules[id] = TestValueWatch::ModuleHolds(aSim, ModuleAddress, uint16_t(id));
    return TestValueWatch(aDevice, rules);
}

} // namespace

class TestQuadrelConverter : public TestPanelCase
{
    Q_OBJECT

public:
    TestQuadrelConverter() : TestPanelCase(LineTimeout) {}

private slots:
    void init();
    void cleanup();

    void valuesAreTheModulesOwn_data();
    void valuesAreTheModulesOwn();

private:
};

void TestQuadrelConverter::init()
{
    fPanel.StartSim();
    // Values that differ from one another, so one read's answer taken for another's shows.
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t aNow) {
        m.SetOutputState(3, true, aNow);
        m.SetOutputState(18, true, aNow);
        m.SetSafeState(4, true);
        m.SetSafeState(20, true);
        m.SetPowerStatus(1);
    });
    fPanel.Open();
}

void TestQuadrelConverter::cleanup()
{
    fPanel.Close();
}

void TestQuadrelConverter::valuesAreTheModulesOwn_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<int>("loseFirst");
    QTest::addColumn<int>("duplicateMs");
    QTest::addColumn<bool>("reorder");
    QTest::newRow("00 00 in every answer, the first datagram lost") << false << 1 << -1 << false;
    QTest::newRow("00 00 in every answer, each answer twice") << false << 0 << 3 << false;
    QTest::newRow("00 00 in every answer, answers held back") << false << 0 << -1 << true;
    QTest::newRow("numbers echoed, each answer twice") << true << 0 << 3 << false;
}

void TestQuadrelConverter::valuesAreTheModulesOwn()
{
    QFETCH(bool, echo);
    QFETCH(int, loseFirst);
    QFETCH(int, duplicateMs);
    QFETCH(bool, reorder);
    Sim()->Udp().SetEchoNumbers(echo);
    // The converter's serial side takes its time: answers come after the receive has begun.
    Sim()->Faults().SetAnswerDelay(30);
    Sim()->Faults().SetLoseFirst(loseFirst);
    Sim()->Faults().SetDuplicateAfter(duplicateMs);
    Sim()->Faults().SetReorder(reorder);
    fPanel.ChooseConverter();
    fPanel.ClickConnect();
    fPanel.WaitConnected();

    // The outputs as the module has them, and the module's settings as it holds them.
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(3), QStringLiteral("dout_on"), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(18), QStringLiteral("dout_on"), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>("labVerPO")->text(), QStringLiteral("2.15"), LineTimeout);
    QCOMPARE(fPanel.OutputPicture(2), QStringLiteral("dout_off"));
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("16"));
    QCOMPARE(Control<QLabel>("labFormat")->text(), QStringLiteral("RTU 8N1"));

    // Polling goes on, and every status value decoded is the module's own.
    const TestValueWatch values = StatusWatch(*Frame()->Link()->Device(), *Sim());
    QTRY_VERIFY_WITH_TIMEOUT(values.Decoded() >= 40, LineTimeout);
    QVERIFY2(values.Wrong().isEmpty(), qPrintable(values.Wrong().join(", ")));
    QCOMPARE(fPanel.OutputPicture(3), QStringLiteral("dout_on"));
    QCOMPARE(fPanel.OutputPicture(2), QStringLiteral("dout_off"));
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("16"));
    QCOMPARE(Control<QLabel>("labFormat")->text(), QStringLiteral("RTU 8N1"));
    QCOMPARE(Control<QLabel>("labVerPO")->text(), QStringLiteral("2.15"));
    QVERIFY(fPanel.IsConnected());
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelConverter test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_QuadrelConverter.moc"
