// The panel through a converter that misbehaves at the datagram level, as the simulated converter
// can: it keeps no sequence numbers (00 00 in every answer) and loses the first datagram, sends
// every answer twice, or holds answers back. Whatever it does, every value the panel shows is the
// module's own.

#include "app/uApplication.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "sim/uSimulator.h"
#include "tests/TestSettings.h"
#include "tests/TestUdpPort.h"

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
class TStatusWatch
{
public:
    TStatusWatch(TzDevice &aDevice, TzSimulator &aSim)
    {
        for (const int id : {36881, 60013, 60014, 60015, 60016}) {
            TzTag *tag = aDevice.GetTagByID(id);
            if (!tag)
                continue;
            tag->OnResponse = [this, id, &aSim, previous = tag->OnResponse](TzTag *aTag) {
                if (aTag->Quality() == QualityGood && !aTag->ModbusError) {
                    ++fDecoded;
                    if (aTag->Value() != aSim.Bus().ReadRegister(ModuleAddress, uint16_t(id)).value_or(-1))
                        fWrong << QStringLiteral("%1 = %2").arg(id).arg(aTag->Value());
                }
                if (previous)
                    previous(aTag);
            };
        }
    }
    int Decoded() const { return fDecoded; }
    QStringList Wrong() const { return fWrong; }

private:
    int fDecoded = 0;
    QStringList fWrong;
};

} // namespace

class TestQuadrelConverter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void valuesAreTheModulesOwn_data();
    void valuesAreTheModulesOwn();

private:
    std::unique_ptr<TzSimulator> fSim;
    TfrmTempLog *fLog = nullptr;
    TfrQuadrel *fFrame = nullptr;
};

void TestQuadrelConverter::init()
{
    fSim = std::make_unique<TzSimulator>();
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    // Values that differ from one another, so one read's answer taken for another's shows.
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t aNow) {
        m.SetOutputState(3, true, aNow);
        m.SetOutputState(18, true, aNow);
        m.SetSafeState(4, true);
        m.SetSafeState(20, true);
        m.SetPowerStatus(1);
    });
    fLog = new TfrmTempLog;
    fFrame = new TfrQuadrel;
    fFrame->resize(800, 750);
    fFrame->show();
    QVERIFY(QTest::qWaitForWindowExposed(fFrame));
}

void TestQuadrelConverter::cleanup()
{
    delete fFrame;
    delete fLog;
    fSim.reset();
    fFrame = nullptr;
    fLog = nullptr;
    ClearTestSettings();
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
    fSim->Udp().SetEchoNumbers(echo);
    // The converter's serial side takes its time: answers come after the receive has begun.
    fSim->Faults().SetAnswerDelay(30);
    fSim->Faults().SetLoseFirst(loseFirst);
    fSim->Faults().SetDuplicateAfter(duplicateMs);
    fSim->Faults().SetReorder(reorder);
    const uint16_t port = FreeUdpPort("127.0.0.2");
    QVERIFY(port != 0);
    QVERIFY(fSim->StartUdp("127.0.0.2", port));
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    fFrame->txtEthernetAddr->setText(QStringLiteral("127.0.0.2"));
    fFrame->txtEthernetPort->setText(QString::number(port));
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(fFrame->Connected, qPrintable(fLog->Lines().mid(0, 5).join(" | ")), LineTimeout);

    // The outputs as the module has them, and the module's settings as it holds them.
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(3), QStringLiteral("dout_on"), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(18), QStringLiteral("dout_on"), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->labVerPO->text(), QStringLiteral("2.15"), LineTimeout);
    QCOMPARE(fFrame->RelayPicture(2), QStringLiteral("dout_off"));
    QCOMPARE(fFrame->labAddr->text(), QStringLiteral("16"));
    QCOMPARE(fFrame->labFormat->text(), QStringLiteral("RTU 8N1"));

    // Polling goes on, and every status value decoded is the module's own.
    TStatusWatch values(*fFrame->Link()->Device(), *fSim);
    QTRY_VERIFY_WITH_TIMEOUT(values.Decoded() >= 40, LineTimeout);
    QVERIFY2(values.Wrong().isEmpty(), qPrintable(values.Wrong().join(", ")));
    QCOMPARE(fFrame->RelayPicture(3), QStringLiteral("dout_on"));
    QCOMPARE(fFrame->RelayPicture(2), QStringLiteral("dout_off"));
    QCOMPARE(fFrame->labAddr->text(), QStringLiteral("16"));
    QCOMPARE(fFrame->labFormat->text(), QStringLiteral("RTU 8N1"));
    QCOMPARE(fFrame->labVerPO->text(), QStringLiteral("2.15"));
    QVERIFY(fFrame->Connected);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelConverter test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_QuadrelConverter.moc"
