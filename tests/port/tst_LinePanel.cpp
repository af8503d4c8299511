// The line engine under the real panel frame: connecting and polling at the speeds that have no
// termios code, and a module that answers later than the panel waits, over the line and through
// the converter: no tag ever shows another tag's value, and good values return with the module.

#include "app/uApplication.h"
#include "diagnostics/uTempLog.h"
#include "panel/uQuadrel.h"
#include "sim/uSimulator.h"
#include "tests/panel/PanelTestKit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr int LineTimeout = 20000;
const QColor AlarmColour(255, 0, 0);

} // namespace

class TestLinePanel : public TestPanelCase
{
    Q_OBJECT

public:
    TestLinePanel() : TestPanelCase(LineTimeout) {}

private slots:
    void init();
    void cleanup();
    void pollsAtSpeedsWithoutATermiosCode_data();
    void pollsAtSpeedsWithoutATermiosCode();
    void lateAnswersNeverReachAnotherTag_data();
    void lateAnswersNeverReachAnotherTag();

private:
    void WaitForPolling();
};

void TestLinePanel::init()
{
    fPanel.StartSim();
    fPanel.Open();
}

void TestLinePanel::cleanup()
{
    fPanel.Close();
}

void TestLinePanel::WaitForPolling()
{
    fPanel.WaitForPolling();
}

void TestLinePanel::pollsAtSpeedsWithoutATermiosCode_data()
{
    QTest::addColumn<int>("speed");
    QTest::newRow("14400") << 14400;
    QTest::newRow("28800") << 28800;
}

void TestLinePanel::pollsAtSpeedsWithoutATermiosCode()
{
    QFETCH(int, speed);
    // The simulator answers only at the module's own speed, which it compares with the line's.
    Sim()->Bus().WithModule(ModuleAddress, [&](TzSimModule &m, uint64_t) { QVERIFY(m.SetLineSettings(speed, 4)); });
    fPanel.ChooseSerial();
    Control<QComboBox>("cbLineBaudRate")->setCurrentText(QString::number(speed));
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentText(), QString::number(speed));
    fPanel.ClickConnect();
    WaitForPolling();
    QCOMPARE(Control<QLabel>("labBaudRate")->text(), QString::number(speed));
    const size_t sent = fPanel.FrameLog().SentCount();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.FrameLog().SentCount() >= sent + 16, LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(
        QRegularExpression("^2\\d\\.\\d\\d В$").match(Control<QLabel>("labPower1")->text()).hasMatch(), LineTimeout);
}

void TestLinePanel::lateAnswersNeverReachAnotherTag_data()
{
    QTest::addColumn<bool>("converter");
    QTest::newRow("line") << false;
    QTest::newRow("converter") << true;
}

void TestLinePanel::lateAnswersNeverReachAnotherTag()
{
    QFETCH(bool, converter);
    // Output 1 on, outputs 17-20 off, no power fault; the supply of about 24 V (0x5DC0) would
    // read as a power fault if it reached the power-status tag.
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t now) {
        m.SetOutputState(1, true, now);
        m.SetPowerStatus(0);
        m.SetSupply(24000, 0);
    });
    if (converter) {
        fPanel.ChooseConverter();
    } else {
        fPanel.ChooseSerial();
    }
    fPanel.ClickConnect();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(1), QStringLiteral("dout_on"), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(
        QRegularExpression("^2\\d\\.\\d\\d В$").match(Control<QLabel>("labPower1")->text()).hasMatch(), LineTimeout);

    // Watch the screen as the operator would, all along.
    QStringList wrong;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (Control<QLabel>("labPower1")->palette().color(QPalette::Window) == AlarmColour)
            wrong << QStringLiteral("false power alarm");
        if (fPanel.OutputPicture(1) == QStringLiteral("dout_off"))
            wrong << QStringLiteral("output 1 shown off");
        if (fPanel.OutputPicture(17) == QStringLiteral("dout_on"))
            wrong << QStringLiteral("output 17 shown on");
    });
    watch.start(10);

    // Every answer now leaves later than the panel waits for it (over the converter: its three
    // attempts of 200 ms).
    Sim()->Faults().SetAnswerDelay(700);
    const size_t received = fPanel.FrameLog().ReceivedCount();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.FrameLog().ReceivedCount() >= received + 16, 60000);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 3).join(", ")));

    // The module is quick again: the panel shows good values again.
    Sim()->Faults().SetAnswerDelay(0);
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &m, uint64_t) { m.SetSupply(23000, 0); });
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>("labPower1")->text(), QStringLiteral("23.00 В"), 60000);
    QCOMPARE(fPanel.OutputPicture(1), QStringLiteral("dout_on"));
    watch.stop();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 3).join(", ")));
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestLinePanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_LinePanel.moc"
