// The output features against the simulated module over a pseudo-terminal: the pulse-width panel
// with its duration calculator, the light sequences, the device settings with restart and the
// identifier. The real widgets are clicked and typed into; what crossed the line is read from the
// simulator's frame log.

#include "app/uApplication.h"
#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uBlinker.h"
#include "panel/uDeviceSettingsPanel.h"
#include "panel/uPulseWidthPanel.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSequencePanel.h"
#include "port/uFreePort.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"
#include "tests/panel/PanelTestKit.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int LineTimeout = 15000;

using Request = TestRequest;

QList<Request> Received(TzSimulator &aSim, size_t aFrom = 0)
{
    return TestFrameLog(aSim).Requests(aFrom);
}

// Writes only (functions 5 and 6), polls left out.
QList<Request> Writes(TzSimulator &aSim, size_t aFrom = 0)
{
    return TestFrameLog(aSim).Writes(aFrom);
}

// Outputs whose state coil was switched on, in order.
QList<int> CoilsOn(const QList<Request> &aWrites)
{
    QList<int> outputs;
    for (const Request &r : aWrites)
        if (r.Function == 5 && r.Word == 0xFF00)
            outputs << (r.Reg - 4096) / 128 + 1;
    return outputs;
}

// The writes after the first "all outputs open" (0 to 60015, then 0 to 60016); none before it.
QList<Request> AfterAllOpen(const QList<Request> &aWrites)
{
    const qsizetype open = aWrites.indexOf(Request{16, 6, 60016, 0});
    return open < 0 ? QList<Request>() : aWrites.mid(open + 1);
}

size_t LogMark(TzSimulator &aSim)
{
    return TestFrameLog(aSim).ReceivedCount();
}

void TypeInto(QLineEdit *aEdit, const QString &aText)
{
    aEdit->setFocus();
    aEdit->selectAll();
    QTest::keyClick(aEdit, Qt::Key_Delete);
    aEdit->home(false);
    QTest::keyClicks(aEdit, aText);
}

bool Flashing(QWidget *aWidget)
{
    return TBlinkTimerObj::Instance()->Flashing() == aWidget;
}

} // namespace

class TestQuadrelOutputs : public TestPanelCase
{
    Q_OBJECT

public:
    TestQuadrelOutputs() : TestPanelCase(LineTimeout) {}

private slots:
    void init();
    void cleanup();

    // pulse-width panel
    void blockAnswersFillTheOutputs();
    void applyWritesFourTargetsInOrder();
    void applyRefusesAWrongField_data();
    void applyRefusesAWrongField();
    void durationDisplay_data();
    void durationDisplay();
    void calculatorFillsTheParameters_data();
    void calculatorFillsTheParameters();

    // light sequences
    void snakeWalksDownAndBackUp();
    void runnerPausesWhileTheSnakeRuns();
    void allOutputsButtons();
    void stepTimeScrollBarAndCaptionDrag();
    void sequencesStopOnDisconnectAndClose();

    // device settings, restart, identifier
    void networkSettingsApplyRestartAndReconnect();
    void networkSettingsRefuseWrongInput_data();
    void networkSettingsRefuseWrongInput();
    void identifierAndCopy();

    // output grid
    void outputsAreUnknownUntilRead();
    void gridShowsAStateAsSoonAsItIsRead();

private:
    void ConnectSerial();
    void OpenPulsePanel();
    // Waits until the periodic poll has read both pulse-width blocks again since aMark, so any
    // write queued before would have gone out (writes go ahead of polls).
    void WaitForPollAfter(size_t aMark);

    QString fPath;
};

void TestQuadrelOutputs::init()
{
    TestMode = true;
    fPanel.StartSim();
    // Silent: a failure becomes a log line, never a dialog that waits.
    fPanel.Open({.Size = {900, 760}, .Silent = true});
}

void TestQuadrelOutputs::cleanup()
{
    fPanel.Close();
    TestMode = false;
}

void TestQuadrelOutputs::ConnectSerial()
{
    fPanel.ConnectSerial();
    fPath = fPanel.Path();
}

void TestQuadrelOutputs::OpenPulsePanel()
{
    QTest::mouseClick(Control<QPushButton>("btnDOUT"), Qt::LeftButton);
    QVERIFY(Control<QFrame>("panDOUT")->isVisible());
    QVERIFY(Control<QFrame>("panShim")->isVisible());
}

void TestQuadrelOutputs::WaitForPollAfter(size_t aMark)
{
    QTRY_VERIFY_WITH_TIMEOUT(Received(*Sim(), aMark).count(Request{16, 3, 60047, 30}) >= 2, LineTimeout);
}

// --- pulse-width panel ---------------------------------------------------------------------

void TestQuadrelOutputs::blockAnswersFillTheOutputs()
{
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) {
        QVERIFY(m.SetPwm(1, 3, 777, 333, now));
        QVERIFY(m.SetPwm(10, 7, 100, 10, now));
        QVERIFY(m.SetPwm(11, 2, 60, 500, now));
        QVERIFY(m.SetPwm(20, 240, 36000, 999, now));
    });
    ConnectSerial();
    const TzDiscretOutParams &out11 = Frame()->Outputs().Output(11);
    QCOMPARE(out11.ShimScale, 2);
    QCOMPARE(out11.ShimPeriod, 60);
    QCOMPARE(out11.ShimKoef, 500);
    QCOMPARE(Frame()->Outputs().Output(10).ShimPeriod, 100);
    QCOMPARE(Frame()->Outputs().Output(10).ShimKoef, 10);
    QCOMPARE(Frame()->Outputs().Output(20).ShimScale, 240);
    QCOMPARE(Frame()->Outputs().Output(20).ShimKoef, 999);
    QVERIFY(Frame()->Outputs().Output(20).ShimOn());
    QCOMPARE(Frame()->Outputs().Output(12).ShimScale, 1); // the module's factory values
    QCOMPARE(Frame()->Outputs().Output(12).ShimPeriod, 50);

    // Output 1 is selected on connection; the panel shows it with its durations.
    OpenPulsePanel();
    QCOMPARE(Control<QLineEdit>("txtShimScale")->text(), QStringLiteral("3"));
    QCOMPARE(Control<QLineEdit>("txtShimPeriod")->text(), QStringLiteral("777"));
    QCOMPARE(Control<QLineEdit>("txtShimKoef")->text(), QStringLiteral("333"));
    QCOMPARE(Control<QLineEdit>("txtShimOn")->text(), QStringLiteral("00:00:07.740"));
    QCOMPARE(Control<QLineEdit>("txtShimOff")->text(), QStringLiteral("00:00:15.570"));
    QCOMPARE(Control<QPushButton>("btnDOUT_Apply")->text(), QStringLiteral("Применить #1"));

    // Selecting #11 loads its record.
    QTest::mouseClick(ShimButton(11), Qt::LeftButton);
    QCOMPARE(Frame()->PulseWidth().Current(), 11);
    QVERIFY(ShimButton(11)->isChecked());
    QVERIFY(!ShimButton(1)->isChecked());
    QCOMPARE(Control<QLineEdit>("txtShimScale")->text(), QStringLiteral("2"));
    QCOMPARE(Control<QLineEdit>("txtShimPeriod")->text(), QStringLiteral("60"));
    QCOMPARE(Control<QLineEdit>("txtShimKoef")->text(), QStringLiteral("500"));
    QCOMPARE(Control<QPushButton>("btnDOUT_Apply")->text(), QStringLiteral("Применить #11"));

    // A later poll does not touch the fields an operator may be editing.
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) { QVERIFY(m.SetPwm(11, 5, 70, 100, now)); });
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->Outputs().Output(11).ShimScale, 5, LineTimeout);
    QCOMPARE(Control<QLineEdit>("txtShimScale")->text(), QStringLiteral("2"));

    // A block answer shorter than 30 registers changes nothing.
    Frame()->Link()->StopPoll();
    TzTag *block = Frame()->Link()->Device()->GetTagByID(600470);
    QVERIFY(block);
    const QByteArray full = block->Data;
    QCOMPARE(full.size(), 60);
    block->Data = QByteArray(58, '\x01');
    emit Frame() -> Link()->PulseWidthBlockRead(block);
    QCOMPARE(Frame()->Outputs().Output(11).ShimScale, 5);
    QCOMPARE(Frame()->Outputs().Output(20).ShimPeriod, 36000);
    block->Data = full;
}

void TestQuadrelOutputs::applyWritesFourTargetsInOrder()
{
    ConnectSerial();
    OpenPulsePanel();
    QTest::mouseClick(ShimButton(3), Qt::LeftButton);
    TypeInto(Control<QLineEdit>("txtShimScale"), QStringLiteral("3"));
    TypeInto(Control<QLineEdit>("txtShimPeriod"), QStringLiteral("777"));
    TypeInto(Control<QLineEdit>("txtShimKoef"), QStringLiteral("333"));
    Control<QCheckBox>("chkShimSecure")->setFocus();
    QTest::keyClick(Control<QCheckBox>("chkShimSecure"), Qt::Key_Space);
    QVERIFY(Control<QCheckBox>("chkShimSecure")->isChecked());
    const size_t mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnDOUT_Apply"), Qt::LeftButton);

    const QList<Request> expected{{16, 6, 4355, 3}, {16, 6, 4356, 777}, {16, 6, 4357, 333}, {16, 5, 4360, 0xFF00}};
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), mark).size(), expected.size(), LineTimeout);
    QCOMPARE(Describe(Writes(*Sim(), mark)), Describe(expected));
    QCOMPARE(Frame()->Outputs().Output(3).ShimKoef, 333);
    QCOMPARE(Frame()->Outputs().Output(3).ShimSafe, 1);
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t) {
        QCOMPARE(m.PwmUnit(3), uint16_t(3));
        QCOMPARE(m.PwmPeriod(3), uint16_t(777));
        QCOMPARE(m.FillFactor(3), uint16_t(333));
        QVERIFY(m.SafeState(3));
    });

    // Enter in a field applies too; factory values reach the module only through apply.
    QTest::mouseClick(Control<QPushButton>("btnDOUT_Default"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>("txtShimScale")->text(), QStringLiteral("1"));
    QCOMPARE(Control<QLineEdit>("txtShimPeriod")->text(), QStringLiteral("50"));
    QCOMPARE(Control<QLineEdit>("txtShimKoef")->text(), QStringLiteral("0"));
    QVERIFY(!Control<QCheckBox>("chkShimSecure")->isChecked());
    QCOMPARE(Frame()->Outputs().Output(3).ShimKoef, 333);
    const size_t beforeEnter = LogMark(*Sim());
    QTest::keyClick(Control<QLineEdit>("txtShimKoef"), Qt::Key_Return);
    const QList<Request> factory{{16, 6, 4355, 1}, {16, 6, 4356, 50}, {16, 6, 4357, 0}, {16, 5, 4360, 0}};
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), beforeEnter).size(), factory.size(), LineTimeout);
    QCOMPARE(Describe(Writes(*Sim(), beforeEnter)), Describe(factory));
}

void TestQuadrelOutputs::applyRefusesAWrongField_data()
{
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("koef");
    QTest::addColumn<QString>("field"); // the one that flashes
    QTest::addColumn<QString>("corrected");
    QTest::newRow("period 49") << "1" << "49" << "500" << "txtShimPeriod" << "50";
    QTest::newRow("period 36001") << "1" << "36001" << "500" << "txtShimPeriod" << "36000";
    QTest::newRow("unit 0, period not examined") << "0" << "49" << "500" << "txtShimScale" << "1";
    QTest::newRow("unit 241") << "241" << "50" << "500" << "txtShimScale" << "240";
    QTest::newRow("fill 1001") << "1" << "50" << "1001" << "txtShimKoef" << "1000";
    QTest::newRow("empty fill") << "1" << "50" << "" << "txtShimKoef" << "";
}

void TestQuadrelOutputs::applyRefusesAWrongField()
{
    QFETCH(QString, scale);
    QFETCH(QString, period);
    QFETCH(QString, koef);
    QFETCH(QString, field);
    QFETCH(QString, corrected);
    ConnectSerial();
    OpenPulsePanel();
    QTest::mouseClick(ShimButton(2), Qt::LeftButton);
    TypeInto(Control<QLineEdit>("txtShimScale"), scale);
    TypeInto(Control<QLineEdit>("txtShimPeriod"), period);
    TypeInto(Control<QLineEdit>("txtShimKoef"), koef);
    const TzDiscretOutParams before = Frame()->Outputs().Output(2);
    const size_t mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnDOUT_Apply"), Qt::LeftButton);

    auto *flashed = Frame()->findChild<QLineEdit *>(field);
    QVERIFY(flashed);
    QVERIFY(Flashing(flashed));
    QCOMPARE(flashed->text(), corrected);
    if (field == QStringLiteral("txtShimScale"))
        QCOMPARE(Control<QLineEdit>("txtShimPeriod")->text(), period); // the later fields are not examined
    QCOMPARE(Frame()->Outputs().Output(2).ShimScale, before.ShimScale);
    QCOMPARE(Frame()->Outputs().Output(2).ShimPeriod, before.ShimPeriod);
    QCOMPARE(Frame()->Outputs().Output(2).ShimKoef, before.ShimKoef);
    WaitForPollAfter(mark);
    QCOMPARE(Describe(Writes(*Sim(), mark)), QString());
}

void TestQuadrelOutputs::durationDisplay_data()
{
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("koef");
    QTest::addColumn<QString>("on");
    QTest::addColumn<QString>("off");
    QTest::newRow("half") << "1" << "50" << "500" << "00:00:00.250" << "00:00:00.250";
    QTest::newRow("whole units") << "3" << "777" << "333" << "00:00:07.740" << "00:00:15.570";
    QTest::newRow("fill 1") << "1" << "50" << "1" << "00:00:00.000" << "00:00:00.500";
    QTest::newRow("a day") << "240" << "36000" << "1000" << "24:00:00.000" << "00:00:00.000";
    QTest::newRow("fill 0") << "1" << "50" << "0" << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("period 49") << "1" << "49" << "500" << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("unit empty") << "" << "50" << "500" << "00:00:00.000" << "00:00:00.000";
}

void TestQuadrelOutputs::durationDisplay()
{
    QFETCH(QString, scale);
    QFETCH(QString, period);
    QFETCH(QString, koef);
    QFETCH(QString, on);
    QFETCH(QString, off);
    // The display follows every keystroke, connected or not.
    TypeInto(Control<QLineEdit>("txtShimScale"), scale);
    TypeInto(Control<QLineEdit>("txtShimPeriod"), period);
    TypeInto(Control<QLineEdit>("txtShimKoef"), koef);
    QCOMPARE(Control<QLineEdit>("txtShimOn")->text(), on);
    QCOMPARE(Control<QLineEdit>("txtShimOff")->text(), off);
}

void TestQuadrelOutputs::calculatorFillsTheParameters_data()
{
    QTest::addColumn<QString>("on");
    QTest::addColumn<QString>("off");
    QTest::addColumn<QString>("gotOn");
    QTest::addColumn<QString>("gotOff");
    QTest::addColumn<QString>("flashes"); // empty: exact
    const QStringList exact{"00:00:00.250|00:00:00.250", "00:00:07.740|00:00:15.570", "24:00:00.000|00:00:00.000",
                            "00:00:00.000|00:00:00.500", "00:00:01.230|00:00:00.770", "01:00:00.000|00:30:00.000",
                            "06:00:00.000|06:00:00.000", "00:00:00.010|00:00:00.990"};
    for (const QString &pair : exact) {
        const QStringList d = pair.split('|');
        QTest::newRow(qPrintable(pair)) << d[0] << d[1] << d[0] << d[1] << QString();
    }
    QTest::newRow("closed below a unit") << "00:00:00.005" << "00:00:00.495" << "00:00:00.000" << "00:00:00.500"
                                         << "txtShimOn";
    QTest::newRow("cycle too short") << "00:00:00.100" << "00:00:00.100" << "00:00:00.250" << "00:00:00.250"
                                     << "txtShimOn";
    QTest::newRow("closed time exact, cycle not") << "00:00:00.260" << "00:00:00.246" << "00:00:00.260"
                                                  << "00:00:00.250" << "txtShimOff";
    QTest::newRow("more than a day") << "25:00:00.000" << "00:00:00.000" << "24:00:00.000" << "00:00:00.000"
                                     << "txtShimOn";
}

void TestQuadrelOutputs::calculatorFillsTheParameters()
{
    QFETCH(QString, on);
    QFETCH(QString, off);
    QFETCH(QString, gotOn);
    QFETCH(QString, gotOff);
    QFETCH(QString, flashes);
    ConnectSerial();
    OpenPulsePanel();
    QTest::mouseClick(ShimButton(5), Qt::LeftButton);
    const TzDiscretOutParams before = Frame()->Outputs().Output(5);
    QVERIFY(Control<QPushButton>("btnShimSet")->isVisible());
    QVERIFY(!Control<QLineEdit>("txtShimOn")->isReadOnly());

    // Typed into the masked fields, digit by digit, as an operator does.
    Control<QLineEdit>("txtShimOn")->setFocus();
    Control<QLineEdit>("txtShimOn")->clear();
    Control<QLineEdit>("txtShimOn")->home(false);
    QTest::keyClicks(Control<QLineEdit>("txtShimOn"), QString(on).remove(':').remove('.'));
    QCOMPARE(Control<QLineEdit>("txtShimOn")->text(), on);
    Control<QLineEdit>("txtShimOff")->setFocus();
    Control<QLineEdit>("txtShimOff")->clear();
    Control<QLineEdit>("txtShimOff")->home(false);
    QTest::keyClicks(Control<QLineEdit>("txtShimOff"), QString(off).remove(':').remove('.'));
    QCOMPARE(Control<QLineEdit>("txtShimOff")->text(), off);

    const size_t mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnShimSet"), Qt::LeftButton);
    QCOMPARE(Control<QLineEdit>("txtShimOn")->text(), gotOn);
    QCOMPARE(Control<QLineEdit>("txtShimOff")->text(), gotOff);
    if (flashes.isEmpty())
        QVERIFY(!Flashing(Control<QLineEdit>("txtShimOn")) && !Flashing(Control<QLineEdit>("txtShimOff")));
    else
        QVERIFY(Flashing(Frame()->findChild<QLineEdit *>(flashes)));

    // The three parameter fields give these durations when applied; nothing is written before.
    int scale = 0, period = 0, koef = 0;
    QVERIFY(TryStrToInt(Control<QLineEdit>("txtShimScale")->text(), scale));
    QVERIFY(TryStrToInt(Control<QLineEdit>("txtShimPeriod")->text(), period));
    QVERIFY(TryStrToInt(Control<QLineEdit>("txtShimKoef")->text(), koef));
    QCOMPARE(Frame()->Outputs().Output(5).ShimScale, before.ShimScale);
    WaitForPollAfter(mark);
    QCOMPARE(Describe(Writes(*Sim(), mark)), QString());

    QTest::keyClick(Control<QLineEdit>("txtShimScale"), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), mark).size(), qsizetype(4), LineTimeout);
    Sim()->Bus().WithModule(16, [&](TzSimModule &m, uint64_t) {
        QCOMPARE(int(m.PwmUnit(5)), scale);
        QCOMPARE(int(m.PwmPeriod(5)), period);
        QCOMPARE(int(m.FillFactor(5)), koef);
    });
}

// --- light sequences -----------------------------------------------------------------------

void TestQuadrelOutputs::snakeWalksDownAndBackUp()
{
    ConnectSerial();
    QTRY_VERIFY(Control<QFrame>("panSnake")->isVisible());
    Control<QScrollBar>("SnakeSpeedScroll")->setValue(1950); // 100 ms steps
    QCOMPARE(Control<QTimer>("SnakeTimer")->interval(), 100);
    const size_t mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    QCOMPARE(Control<QPushButton>("btnSnakeOn")->text(), QStringLiteral("Отключить"));
    QTRY_VERIFY_WITH_TIMEOUT(CoilsOn(Writes(*Sim(), mark)).size() >= 21, LineTimeout);
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    QCOMPARE(Control<QPushButton>("btnSnakeOn")->text(), QStringLiteral("Включить"));
    QVERIFY(!Control<QTimer>("SnakeTimer")->isActive());

    const QList<Request> writes = Writes(*Sim(), mark);
    // All outputs open first, then one output lit per step: 1..10 down the left column, 20..11
    // up the right one, and round again.
    QCOMPARE(Describe(writes.mid(0, 2)), Describe({{16, 6, 60015, 0}, {16, 6, 60016, 0}}));
    const QList<int> lit = CoilsOn(writes);
    QCOMPARE(lit.mid(0, 21), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 1}));
    // Each step writes its new output on, then the previous one off: the first step one coil.
    QCOMPARE(writes[2], (Request{16, 5, 4096, 0xFF00}));
    QCOMPARE(writes[3], (Request{16, 5, 4096 + 128, 0xFF00}));
    QCOMPARE(writes[4], (Request{16, 5, 4096, 0}));
    for (int i = 3; i + 1 < writes.size() && writes[i].Function == 5; i += 2) {
        QCOMPARE(writes[i].Word, 0xFF00);
        QCOMPARE(writes[i + 1].Word, 0);
        QCOMPARE(writes[i + 1].Reg, writes[i - (i == 3 ? 1 : 2)].Reg);
    }
    // The grid showed the sequence, not the polled states, while it ran.
    int lastLit = lit.back();
    QTRY_VERIFY_WITH_TIMEOUT(!Frame()->Outputs().Output(lastLit).IsOn(), LineTimeout); // polls show the module again
}

void TestQuadrelOutputs::runnerPausesWhileTheSnakeRuns()
{
    ConnectSerial();
    Control<QScrollBar>("SnakeSpeedScroll")->setValue(1950);
    size_t mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnRunner"), Qt::LeftButton);
    QVERIFY(Control<QPushButton>("btnRunner")->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(CoilsOn(Writes(*Sim(), mark)).size() >= 4, LineTimeout);
    QList<int> lit = CoilsOn(Writes(*Sim(), mark));
    QCOMPARE(lit.mid(0, 4), (QList<int>{1, 11, 2, 12}));
    QCOMPARE(Describe(Writes(*Sim(), mark).mid(0, 2)), Describe({{16, 6, 60015, 0}, {16, 6, 60016, 0}}));

    // The snake starts: after its "all open", only its single outputs are lit until it stops.
    // (Runner writes queued before the click still go out first, in their order.)
    mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    const int runnerNext = Frame()->Sequences().RunnerPos();
    QTRY_VERIFY_WITH_TIMEOUT(CoilsOn(AfterAllOpen(Writes(*Sim(), mark))).size() >= 5, LineTimeout);
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    lit = CoilsOn(AfterAllOpen(Writes(*Sim(), mark)));
    QCOMPARE(lit.mid(0, 5), (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(Frame()->Sequences().RunnerPos(), runnerNext);

    // Stopped, the runner goes on from its pair.
    mark = LogMark(*Sim());
    QTRY_VERIFY_WITH_TIMEOUT(CoilsOn(AfterAllOpen(Writes(*Sim(), mark))).size() >= 2, LineTimeout);
    QCOMPARE(CoilsOn(AfterAllOpen(Writes(*Sim(), mark))).mid(0, 2), (QList<int>{runnerNext, runnerNext + 10}));
    QTest::mouseClick(Control<QPushButton>("btnRunner"), Qt::LeftButton);
    QVERIFY(!Control<QPushButton>("btnRunner")->isChecked());
}

void TestQuadrelOutputs::allOutputsButtons()
{
    ConnectSerial();
    size_t mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnAllOn"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Describe(Writes(*Sim(), mark)), Describe({{16, 6, 60015, 15}, {16, 6, 60016, 65535}}),
                              LineTimeout);
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) {
        for (int n = 1; n <= 20; ++n)
            QVERIFY(m.OutputState(n, now));
    });
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Outputs().Output(20).IsOn() && Frame()->Outputs().Output(1).IsOn(), LineTimeout);

    mark = LogMark(*Sim());
    QTest::mouseClick(Control<QPushButton>("btnAllOff"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Describe(Writes(*Sim(), mark)), Describe({{16, 6, 60015, 0}, {16, 6, 60016, 0}}),
                              LineTimeout);

    for (QPushButton *button : {Control<QPushButton>("btnAllOnSlow"), Control<QPushButton>("btnAllOffSlow")}) {
        const bool on = button == Control<QPushButton>("btnAllOnSlow");
        mark = LogMark(*Sim());
        // From the keyboard this time.
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), mark).size(), qsizetype(20), LineTimeout);
        QList<Request> expected;
        for (int n = 20; n >= 1; --n)
            expected << Request{16, 5, 4096 + 128 * (n - 1), on ? 0xFF00 : 0};
        QCOMPARE(Describe(Writes(*Sim(), mark)), Describe(expected));
        Sim()->Bus().WithModule(16, [on](TzSimModule &m, uint64_t now) {
            for (int n = 1; n <= 20; ++n)
                QCOMPARE(m.OutputState(n, now), on);
        });
    }
}

void TestQuadrelOutputs::stepTimeScrollBarAndCaptionDrag()
{
    QScrollBar *scroll = Control<QScrollBar>("SnakeSpeedScroll");
    QCOMPARE(scroll->value(), 1600);
    QCOMPARE(Control<QLabel>("labSnakeSpeed")->text(), QStringLiteral("Скорость: (Шаг в 450 мс)"));
    QCOMPARE(scroll->accessibleName(), QStringLiteral("Скорость"));

    // The thumb held and moved by hand lands on multiples of 5.
    scroll->setSliderDown(true);
    scroll->setSliderPosition(1603);
    scroll->setSliderDown(false);
    QCOMPARE(scroll->value(), 1605);
    QCOMPARE(Control<QLabel>("labSnakeSpeed")->text(), QStringLiteral("Скорость: (Шаг в 445 мс)"));
    QCOMPARE(Control<QTimer>("SnakeTimer")->interval(), 445);
    QCOMPARE(Control<QTimer>("Runner_Timer")->interval(), 445);

    // A real drag of the thumb with the mouse.
    QTRY_VERIFY(Control<QFrame>("panSnake")->isVisible());
    QStyleOptionSlider option;
    option.initFrom(scroll);
    option.orientation = Qt::Horizontal;
    option.minimum = scroll->minimum();
    option.maximum = scroll->maximum();
    option.sliderPosition = scroll->sliderPosition();
    option.sliderValue = scroll->value();
    option.singleStep = scroll->singleStep();
    option.pageStep = scroll->pageStep();
    const QRect handle = scroll->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                                         scroll);
    QTest::mousePress(scroll, Qt::LeftButton, {}, handle.center());
    for (int dx = 1; dx <= 7; ++dx) {
        QTest::mouseMove(scroll, handle.center() + QPoint(-dx * 3, 0));
        QCOMPARE(scroll->value() % 5, 0);
    }
    QTest::mouseRelease(scroll, Qt::LeftButton, {}, handle.center() + QPoint(-21, 0));
    QVERIFY(scroll->value() < 1605); // the thumb went left: a longer step
    QCOMPARE(scroll->value() % 5, 0);
    QCOMPARE(Control<QLabel>("labSnakeSpeed")->text(),
             QStringLiteral("Скорость: (Шаг в %1 мс)").arg(2050 - scroll->value()));

    // And from the keyboard: one small step is 5.
    scroll->setValue(1600);
    scroll->setFocus();
    QTest::keyClick(scroll, Qt::Key_Right);
    QCOMPARE(scroll->value(), 1605);
    QCOMPARE(Control<QTimer>("SnakeTimer")->interval(), 445);

    // The caption drags the panel, with any mouse button.
    QLabel *caption = Control<QLabel>("labSnakeCaption");
    QCOMPARE(caption->text(), QStringLiteral("Тестирование"));
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        const QPoint start = Control<QFrame>("panSnake")->pos();
        const QPoint grip(20, 8);
        QTest::mousePress(caption, button, {}, grip);
        QTest::mouseMove(caption, grip + QPoint(-40, -30));
        QTest::mouseRelease(caption, button, {}, grip + QPoint(-40, -30));
        QCOMPARE(Control<QFrame>("panSnake")->pos(), start + QPoint(-40, -30));
    }
}

void TestQuadrelOutputs::sequencesStopOnDisconnectAndClose()
{
    ConnectSerial();
    Control<QScrollBar>("SnakeSpeedScroll")->setValue(2000); // 50 ms steps
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>("btnRunner"), Qt::LeftButton);
    QVERIFY(Control<QTimer>("SnakeTimer")->isActive());

    // Disconnecting stops both sequences cleanly.
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(!Control<QTimer>("SnakeTimer")->isActive());
    QVERIFY(!Control<QPushButton>("btnRunner")->isChecked());
    QCOMPARE(Control<QPushButton>("btnSnakeOn")->text(), QStringLiteral("Включить"));

    // Closing while a snake runs on a line that no longer answers, with writes queued: none of
    // them goes out after the close. The module first answers what it heard before the disconnect.
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.FrameLog().SentCount(), fPanel.FrameLog().ReceivedCount(), LineTimeout);
    fPanel.ClickConnect();
    QTRY_VERIFY2_WITH_TIMEOUT(fPanel.IsPolling(), qPrintable(fPanel.RecentLog()), LineTimeout);
    Sim()->Faults().SetSilent(true);
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Link()->Engine()->Port->RequestList.size() >= 3, LineTimeout);
    fPanel.DeleteFrame();
    const size_t mark = LogMark(*Sim());

    Sim()->Faults().SetSilent(false);
    fPanel.CreateFrame({.Size = QSize()});
    Frame()->show();
    Frame()->AddPortOnTop(fPath);
    fPanel.ClickConnect();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), LineTimeout);
    const QList<Request> after = Received(*Sim(), mark);
    const qsizetype probe = after.indexOf(Request{16, 4, 36864, 1});
    QVERIFY(probe >= 0);
    // At most the one frame already on the line when the panel closed.
    QVERIFY2(probe <= 1, qPrintable(Describe(after.mid(0, probe))));
}

// --- device settings, restart, identifier --------------------------------------------------

void TestQuadrelOutputs::networkSettingsApplyRestartAndReconnect()
{
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t) {
        m.SetSafeState(2, true);
        m.SetSafeState(19, true);
    });
    ConnectSerial();
    QTest::mouseClick(Control<QPushButton>("btnRS485"), Qt::LeftButton);
    QVERIFY(fPanel.Control<QFrame>("panRS485")->isVisible());
    QCOMPARE(fPanel.Control<QLineEdit>("txtAddr")->text(), QStringLiteral("16"));
    TypeInto(fPanel.Control<QLineEdit>("txtAddr"), QStringLiteral("20"));
    fPanel.Control<QComboBox>("cbBaudRate")->setFocus();
    QTest::keyClicks(fPanel.Control<QComboBox>("cbBaudRate"), QStringLiteral("19200"));
    QCOMPARE(fPanel.Control<QComboBox>("cbBaudRate")->currentText(), QStringLiteral("19200"));
    fPanel.Control<QComboBox>("cbFormat")
        ->setCurrentIndex(fPanel.Control<QComboBox>("cbFormat")->findText(QStringLiteral("MODBUS RTU 8E1")));
    TypeInto(fPanel.Control<QLineEdit>("txtTimeout"), QStringLiteral("5"));
    QCOMPARE(fPanel.Control<QLineEdit>("txtTimeout")->accessibleName(), QStringLiteral("Сетевой тайм-аут"));

    size_t mark = LogMark(*Sim());
    QTest::mouseClick(fPanel.Control<QPushButton>("btnRS485_Apply"), Qt::LeftButton);
    const QList<Request> expected{{16, 6, 28676, 20}, {16, 6, 28672, 5}, {16, 6, 28673, 6}, {16, 6, 28680, 5}};
    QTRY_COMPARE_WITH_TIMEOUT(Writes(*Sim(), mark).size(), expected.size(), LineTimeout);
    QCOMPARE(Describe(Writes(*Sim(), mark)), Describe(expected));
    QVERIFY(Log()->Lines().contains(QString()));
    QVERIFY(!fPanel.Control<QFrame>("panRS485")->isVisible());
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("20"));
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentText(), QStringLiteral("19200"));
    QCOMPARE(Control<QComboBox>("cbLineFormat")->currentText(), QStringLiteral("MODBUS RTU 8E1"));
    QCOMPARE(Control<QLineEdit>("txtLineAddrEth")->text(), QStringLiteral("20"));
    QCOMPARE(Frame()->LineSpeed(), 19200);
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t) {
        QCOMPARE(m.StoredNetwork().Address, uint8_t(20));
        QCOMPARE(m.ActiveNetwork().Address, uint8_t(16)); // not before a restart
    });

    // The reminder: the "!" and the restart button blinking red and back.
    QVERIFY(fPanel.Control<QLabel>("labNeedReset")->isVisible());
    QCOMPARE(fPanel.Control<QLabel>("labNeedReset")->toolTip(), QStringLiteral("Требуется перезагрузка"));
    QVERIFY(fPanel.Control<QTimer>("ResetBtn_Timer")->isActive());
    QCOMPARE(fPanel.Control<QTimer>("ResetBtn_Timer")->interval(), 350);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.Control<QPushButton>("btnReset")->palette().color(QPalette::Button),
                              QColor(255, 0, 0), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.Control<QPushButton>("btnReset")->palette().color(QPalette::Button)
                                 != QColor(255, 0, 0),
                             5000);

    // Restart: one command frame, then after 1200 ms the panel lets go of the module.
    mark = LogMark(*Sim());
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(fPanel.Control<QPushButton>("btnReset"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!fPanel.IsConnected(), LineTimeout);
    QVERIFY(clock.elapsed() >= 1200);
    const TSimBytes restart{0x10, 0x06, 0xEA, 0x60, 0x55, 0xAA};
    int restartFrames = 0;
    for (const TSimBytes &frame : fPanel.FrameLog().ReceivedFrames(mark))
        if (frame.size() == 8 && std::equal(restart.begin(), restart.end(), frame.begin())) {
            QVERIFY(CheckModbusCRC(frame.data(), 8));
            ++restartFrames;
        }
    QCOMPARE(restartFrames, 1);
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(!fPanel.IsPolling());
    QVERIFY(!fPanel.Control<QLabel>("labNeedReset")->isVisible());
    QVERIFY(!fPanel.Control<QTimer>("ResetBtn_Timer")->isActive());
    QVERIFY(fPanel.Control<QPushButton>("btnReset")->palette().color(QPalette::Button) != QColor(255, 0, 0));
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("..."));
    for (int n = 1; n <= 20; ++n) {
        QVERIFY(!Frame()->Outputs().Output(n).IsOn());
        QCOMPARE(Frame()->Outputs().Output(n).ShimKoef, 0);
    }
    Sim()->Bus().WithFirstModule([](TzSimModule &m, uint64_t now) {
        QCOMPARE(m.RestartCount(), 1);
        QCOMPARE(m.ActiveNetwork().Address, uint8_t(20));
        QCOMPARE(m.ActiveNetwork().SpeedCode, uint16_t(5));
        QCOMPARE(m.ActiveNetwork().FormatCode, uint16_t(6));
        QCOMPARE(m.ActiveNetwork().TimeoutSec, uint16_t(5));
        QVERIFY(m.OutputState(2, now) && m.OutputState(19, now) && !m.OutputState(1, now)); // safe states
    });
    // The panel lets go of the engine itself: a restart is not logged as a failed connection.
    QVERIFY(Log()->Lines().filter(QStringLiteral("Неудачное подключение")).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), LineTimeout);

    // The old settings no longer reach the module, nor the new address at the old speed.
    auto attempt = [this](const QString &aAddress, const QString &aSpeed, const QString &aFormat) {
        const qsizetype failures = Log()->Lines().filter(QStringLiteral("Неудачное подключение")).size();
        Control<QLineEdit>("txtLineAddr")->setText(aAddress);
        Control<QComboBox>("cbLineBaudRate")->setCurrentText(aSpeed);
        Control<QComboBox>("cbLineFormat")->setCurrentText(aFormat);
        fPanel.ClickConnect();
        [[maybe_unused]] const bool settled = QTest::qWaitFor(
            [&] {
                return fPanel.IsConnected()
                       || Log()->Lines().filter(QStringLiteral("Неудачное подключение")).size() > failures;
            },
            LineTimeout);
        return fPanel.IsConnected();
    };
    QVERIFY(!attempt(QStringLiteral("16"), QStringLiteral("9600"), QStringLiteral("MODBUS RTU 8N1")));
    QVERIFY(!attempt(QStringLiteral("20"), QStringLiteral("9600"), QStringLiteral("MODBUS RTU 8E1")));
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), LineTimeout);
    mark = LogMark(*Sim());
    QVERIFY(attempt(QStringLiteral("20"), QStringLiteral("19200"), QStringLiteral("MODBUS RTU 8E1")));
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsPolling(), LineTimeout);
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("20"));
    QCOMPARE(Control<QLabel>("labBaudRate")->text(), QStringLiteral("19200"));
    QCOMPARE(Control<QLabel>("labFormat")->text(), QStringLiteral("RTU 8E1"));
    QCOMPARE(Frame()->Link()->Engine()->LocDCB().BaudRate, 19200);
    QCOMPARE(int(Frame()->Link()->Engine()->LocDCB().Parity), 2); // even
    QVERIFY(Received(*Sim(), mark).contains(Request{20, 4, 36864, 1}));
    QCOMPARE(fPanel.Control<QLabel>("txtMAC")->text(), QStringLiteral("0A-1B-2C-3D-00-10"));
}

void TestQuadrelOutputs::networkSettingsRefuseWrongInput_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("timeout");
    QTest::addColumn<int>("formatCode"); // as the module reports it
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("corrected");
    QTest::newRow("address 0") << "0" << "5" << 4 << "txtAddr" << "1";
    QTest::newRow("address 300") << "300" << "5" << 4 << "txtAddr" << "247";
    QTest::newRow("address empty") << "" << "5" << 4 << "txtAddr" << "";
    QTest::newRow("time-out 700") << "20" << "700" << 4 << "txtTimeout" << "600";
    QTest::newRow("time-out empty") << "20" << "" << 4 << "txtTimeout" << "";
    QTest::newRow("module in ASCII 7E1: no format chosen") << "20" << "5" << 2 << "cbFormat" << "";
}

void TestQuadrelOutputs::networkSettingsRefuseWrongInput()
{
    QFETCH(QString, address);
    QFETCH(QString, timeout);
    QFETCH(int, formatCode);
    QFETCH(QString, field);
    QFETCH(QString, corrected);
    // The module stores the format code without taking it, so it still answers in RTU.
    QCOMPARE(Sim()->Bus().WriteRegister(16, 28673, uint16_t(formatCode)), uint8_t(0));

    // Not connected: nothing at all happens.
    const qsizetype linesBefore = Log()->Lines().size();
    fPanel.Control<QPushButton>("btnRS485_Apply")->click(); // hidden, not connected
    QCOMPARE(Log()->Lines().size(), linesBefore);
    QVERIFY(!fPanel.Control<QLabel>("labNeedReset")->isVisible());

    ConnectSerial();
    QCOMPARE(fPanel.Control<QComboBox>("cbFormat")->currentIndex(), formatCode >= 4 ? formatCode - 4 : -1);
    QTest::mouseClick(Control<QPushButton>("btnRS485"), Qt::LeftButton);
    TypeInto(fPanel.Control<QLineEdit>("txtAddr"), address);
    TypeInto(fPanel.Control<QLineEdit>("txtTimeout"), timeout);
    const size_t mark = LogMark(*Sim());
    QTest::keyClick(fPanel.Control<QLineEdit>("txtTimeout"), Qt::Key_Return);

    QWidget *flashed = Frame()->findChild<QWidget *>(field);
    QVERIFY(Flashing(flashed));
    if (auto *edit = qobject_cast<QLineEdit *>(flashed))
        QCOMPARE(edit->text(), corrected);
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("16"));
    QVERIFY(!fPanel.Control<QLabel>("labNeedReset")->isVisible());
    QVERIFY(!fPanel.Control<QTimer>("ResetBtn_Timer")->isActive());
    WaitForPollAfter(mark);
    QCOMPARE(Describe(Writes(*Sim(), mark)), QString());
}

void TestQuadrelOutputs::identifierAndCopy()
{
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t) { m.SetIdentifier(0xAABB, 0xCCDD, 0xEEFF); });
    ConnectSerial();
    QCOMPARE(fPanel.Control<QLabel>("txtMAC")->text(), QStringLiteral("AA-BB-CC-DD-EE-FF"));
    QVERIFY(fPanel.Control<QFrame>("panMAC")->isVisible());
    Frame()->DeviceSettings().SetMAC(QByteArray("\x01\x02\x03", 3)); // not six bytes: nothing changes
    QCOMPARE(fPanel.Control<QLabel>("txtMAC")->text(), QStringLiteral("AA-BB-CC-DD-EE-FF"));

    // The right button opens the menu; its one item copies the identifier.
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                fPanel.Control<QLabel>("txtMAC")->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(fPanel.Control<QLabel>("txtMAC"), &menuEvent);
    QTRY_VERIFY(fPanel.Control<QMenu>("puMAC")->isVisible());
    QCOMPARE(fPanel.Control<QMenu>("puMAC")->actions().size(), 1);
    QCOMPARE(fPanel.Control<QAction>("puMAC_Copy")->text(), QStringLiteral("Скопировать ID"));
    QTest::mouseClick(fPanel.Control<QMenu>("puMAC"), Qt::LeftButton, {},
                      fPanel.Control<QMenu>("puMAC")->actionGeometry(fPanel.Control<QAction>("puMAC_Copy")).center());
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("AA-BB-CC-DD-EE-FF"));

    // From the keyboard: the identifier takes the focus, Ctrl+C copies it.
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    Frame()->DeviceSettings().SetMAC(QByteArray("\x12\x34\x56\x78\x9A\xBC", 6));
    fPanel.Control<QLabel>("txtMAC")->setFocus();
    QTRY_VERIFY(fPanel.Control<QLabel>("txtMAC")->hasFocus());
    QTest::keyClick(fPanel.Control<QLabel>("txtMAC"), Qt::Key_C, Qt::ControlModifier);
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12-34-56-78-9A-BC"));
}

// --- output grid ---------------------------------------------------------------------------

void TestQuadrelOutputs::outputsAreUnknownUntilRead()
{
    // A slow module: a quarter of a second for every answer, so the first cycle takes seconds.
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) { m.SetOutputState(1, true, now); });
    Sim()->Faults().SetAnswerDelay(250);
    fPanel.ChooseSerial();
    fPath = fPanel.Path();
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(grid)->tableInterface();
    QVERIFY(table);
    // Picture, accessible text and hint of outputs 1 (row 1 left) and 12 (row 2 right).
    auto expectUnknown = [&] {
        int states = 0;
        QVERIFY(!Frame()->TryValueByID(60016, states)); // not read in this connection
        for (const int n : {1, 12}) {
            QCOMPARE(fPanel.OutputPicture(n), QStringLiteral("dout_unknown"));
            QCOMPARE(table->cellAt((n - 1) % 10, n <= 10 ? 1 : 4)->text(QAccessible::Name),
                     QStringLiteral("Выход %1: состояние неизвестно").arg(n));
            QCOMPARE(grid->item((n - 1) % 10, n <= 10 ? 1 : 4)->toolTip(),
                     QStringLiteral("Состояние выхода ещё не прочитано"));
        }
    };

    fPanel.ClickConnect();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), LineTimeout);
    expectUnknown();
    RefreshScreen(); // the screen refresh finds nothing read yet
    expectUnknown();
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(1), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fPanel.OutputPicture(12), QStringLiteral("dout_off"));
    QCOMPARE(table->cellAt(1, 4)->text(QAccessible::Name), QStringLiteral("Выход 12: выключен"));
    QVERIFY(grid->item(0, 1)->toolTip().isEmpty());

    // Connected again, to the module whose output 1 went off meanwhile and which falls silent once
    // it has answered the probe: the state of the last connection is not shown as this one's. A
    // fresh line, so that late answers to the last connection's polls cannot meet the probe.
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QTRY_VERIFY(Control<QPushButton>("btnConnect")->isEnabled());
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) { m.SetOutputState(1, false, now); });
    fPanel.ChooseSerial();
    fPath = fPanel.Path();
    fPanel.ClickConnect();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), LineTimeout);
    Sim()->Faults().SetSilent(true);
    expectUnknown();
    // The read of the states goes unanswered; the screen refresh still has nothing to show.
    TzTag *states = Frame()->Link()->Device()->GetTagByID(60016);
    QTRY_COMPARE_WITH_TIMEOUT(states->Quality(), QualityFailed, 60000);
    RefreshScreen();
    expectUnknown();
    QVERIFY(!Frame()->Outputs().Output(1).IsOn());
}

void TestQuadrelOutputs::gridShowsAStateAsSoonAsItIsRead()
{
    ConnectSerial();
    // Both states registers read and taken over: outputs 7 and 18 are known to be off.
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Outputs().Output(7).StateKnown && Frame()->Outputs().Output(18).StateKnown,
                             LineTimeout);
    QCOMPARE(fPanel.OutputPicture(7), QStringLiteral("dout_off"));
    // Without the half-second screen refresh, the next answer of the poll alone shows the change.
    Control<QTimer>("InterfaceTimer")->stop();
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) {
        m.SetOutputState(7, true, now);
        m.SetOutputState(18, true, now);
    });
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(7), QStringLiteral("dout_on"), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(18), QStringLiteral("dout_on"), LineTimeout);
    QAccessibleTableInterface *table =
        QAccessible::queryAccessibleInterface(Control<TzRelayGrid>("SG_Relays"))->tableInterface();
    QCOMPARE(table->cellAt(7 - 1, 1)->text(QAccessible::Name), QStringLiteral("Выход 7: включён"));
    QVERIFY(!Control<QTimer>("InterfaceTimer")->isActive());
}

QTEST_MAIN(TestQuadrelOutputs)
#include "tst_QuadrelOutputs.moc"
