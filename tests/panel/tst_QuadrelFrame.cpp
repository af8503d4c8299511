// The panel frame without a line: construction, validation, screen rules, answer dispatch.

#include "app/uApplication.h"
#include "common/uGlobVar.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uBlinker.h"
#include "panel/uPictureLabel.h"
#include "panel/uPulseWidthPanel.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "port/uFreePort.h"
#include "tests/panel/PanelTestKit.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QtTest>

namespace {

// The in-place editor of a description, while one is open.
QLineEdit *OpenEditor(TzRelayGrid *aGrid)
{
    for (QLineEdit *editor : aGrid->viewport()->findChildren<QLineEdit *>())
        if (editor->isVisible())
            return editor;
    return nullptr;
}

void SetTag(TfrQuadrel &aFrame, int aID, double aValue)
{
    TzTag *tag = aFrame.Link()->Device()->GetTagByID(aID);
    QVERIFY2(tag, qPrintable(QString::number(aID)));
    tag->SetValue(aValue);
}

} // namespace

class TestQuadrelFrame : public TestPanelCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void constructionBuildsTheModel();
    void perOutputTags_data();
    void perOutputTags();
    void addressOutOfRangeIsCorrectedAndNothingStarts_data();
    void addressOutOfRangeIsCorrectedAndNothingStarts();
    void shortTimeoutIsRaisedAndTheAttemptGoesOn();
    void ethernetFieldsAreValidated();
    void afterFirstUpdateShowsTheModule();
    void afterFirstUpdateLeavesAnIdlePanelAlone();
    void identifierNeedsAllThreeWords();
    void valueReadBackRefusesStaleOrFailedTags();
    void interfaceTimerShowsStatesAndVoltage();
    void sequenceRunningFreezesTheGrid();
    void safeStatesFromTheirRegisters();
    void pulseParametersFromTheBlocks();
    void gridPicturesAndClicksOffline();
    void gridDragTypingAndWheel();
    void unknownAnswerNumberIsLogged();
    void linkTellsTheScreen();
    void testModeShowsTheTestFeatures();
    void animations();
    void popupPanels();
    void exceptionsReachTheLog();
    void gridIsAccessible();
    void wheelAddsUpPartsOfANotch_data();
    void wheelAddsUpPartsOfANotch();
    void clicksInsideAPanelKeepItOpen();
    void panelButtonsToggleThroughTheirAccessibleAction_data();
    void panelButtonsToggleThroughTheirAccessibleAction();
    void pictureButtonsTakeTheKeyboard_data();
    void pictureButtonsTakeTheKeyboard();
    void descriptionsEditFromTheKeyboard();
    void picturesAreDrawnAtThePixelRatio();

private:
    // Marks the frame connected (or not) without a module, as the probe's answer would: the frame
    // and the outputs it shows.
    void MarkConnected(bool aConnected)
    {
        // The link's probe answer is what connects the frame.
        emit Frame() -> Link()->ProbeAnswered(aConnected);
    }
};

void TestQuadrelFrame::init()
{
    TestMode = false;
    fPanel.CreateFrame({.Silent = true});
}

void TestQuadrelFrame::cleanup()
{
    fPanel.Close();
}

void TestQuadrelFrame::constructionBuildsTheModel()
{
    QVERIFY(Frame()->Link()->Device()->Ready);
    QCOMPARE(int(Frame()->Link()->Device()->Tags.size()), 19 + 100);
    QVERIFY(!Frame()->Initialising());
    QVERIFY(!fPanel.IsConnected());
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("..."));
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("16"));
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentText(), QStringLiteral("9600"));
    QCOMPARE(Frame()->LineSpeed(), 9600);
    QCOMPARE(Control<QComboBox>("cbLineFormat")->currentText(), QStringLiteral("MODBUS RTU 8N1"));
    QVERIFY(Control<QComboBox>("cbComPort")->count() > 0);
    for (int n = 1; n <= 20; ++n) {
        QVERIFY(ShimButton(n));
        QCOMPARE(ShimButton(n)->text(), QStringLiteral("#%1").arg(n));
        QVERIFY(ShimButton(n)->isEnabled());
    }
    // Four rows of five selector buttons.
    QCOMPARE(ShimButton(6)->x(), ShimButton(1)->x());
    QVERIFY(ShimButton(6)->y() > ShimButton(1)->y());
    QCOMPARE(ShimButton(2)->x(), ShimButton(1)->x() + ShimButton(1)->width() + 8);
    QCOMPARE(ShimButton(3)->x(), ShimButton(2)->x() + ShimButton(2)->width() + 6);
    // The wider gap only after #1: the later rows keep the narrow one throughout.
    for (const int n : {7, 12, 17})
        QCOMPARE(ShimButton(n)->x(), ShimButton(n - 1)->x() + ShimButton(n - 1)->width() + 6);
    // The command buttons are off from construction, before any timer has run.
    for (QPushButton *button :
         {Control<QPushButton>("btnRS485"), Control<QPushButton>("btnReset"), Control<QPushButton>("btnDOUT"),
          Control<QPushButton>("btnAllOn"), Control<QPushButton>("btnAllOff"), Control<QPushButton>("btnAllOnSlow"),
          Control<QPushButton>("btnAllOffSlow"), Control<QPushButton>("btnSnakeOn"), Control<QPushButton>("btnRunner")})
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
}

void TestQuadrelFrame::perOutputTags_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("readCmd");
    QTest::addColumn<int>("writeCmd");
    QTest::addColumn<int>("valType");
    QTest::newRow("first coil") << 4096 << "Реле #1" << 1 << 5 << 8;
    QTest::newRow("coil 12") << 5504 << "Реле #12" << 1 << 5 << 8;
    QTest::newRow("scale 1") << 4099 << "DOUT Shim Scale #1" << 3 << 6 << 2;
    QTest::newRow("period 20") << 6532 << "DOUT Shim Period #20" << 3 << 6 << 2;
    QTest::newRow("koef 2") << 4229 << "DOUT Shim Koef #2" << 3 << 6 << 2;
    QTest::newRow("last safe coil") << 6536 << "DOUT State Safe #20" << 1 << 5 << 8;
}

void TestQuadrelFrame::perOutputTags()
{
    QFETCH(int, id);
    QFETCH(QString, name);
    QFETCH(int, readCmd);
    QFETCH(int, writeCmd);
    QFETCH(int, valType);
    const TzTag *tag = Frame()->Link()->Device()->GetTagByID(id);
    QVERIFY(tag);
    QCOMPARE(tag->Reg, id);
    QCOMPARE(tag->OPCName, name);
    QCOMPARE(tag->ReadCmd, readCmd);
    QCOMPARE(tag->WriteCmd, writeCmd);
    QCOMPARE(tag->ValType, valType);
    QVERIFY(!tag->Enabled);
    QVERIFY(!tag->CanRead);
    QVERIFY(tag->Force);
    QCOMPARE(tag->WritePriority, 1);
    QVERIFY(QRegularExpression("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$")
                .match(tag->GUID)
                .hasMatch());
}

void TestQuadrelFrame::addressOutOfRangeIsCorrectedAndNothingStarts_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("corrected");
    QTest::newRow("0") << "0" << "1";
    QTest::newRow("248") << "248" << "247";
    QTest::newRow("empty") << "" << "";
}

void TestQuadrelFrame::addressOutOfRangeIsCorrectedAndNothingStarts()
{
    QFETCH(QString, typed);
    QFETCH(QString, corrected);
    Control<QLineEdit>("txtLineAddr")->setText(typed);
    fPanel.ClickConnect();
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), corrected);
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), Control<QLineEdit>("txtLineAddr"));
    QVERIFY(!Frame()->Link()->Engine());
    QVERIFY(Control<QPushButton>("btnConnect")->isEnabled());
    QVERIFY(!Frame()->Link()->findChild<QTimer *>("ConnectBtnTimer")->isActive());
}

void TestQuadrelFrame::shortTimeoutIsRaisedAndTheAttemptGoesOn()
{
    Frame()->AddPortOnTop(QStringLiteral("/dev/quadrel-no-such-port"));
    Control<QLineEdit>("txtLineTimeout")->setText("5");
    fPanel.ClickConnect();
    QCOMPARE(Control<QLineEdit>("txtLineTimeout")->text(), QStringLiteral("30"));
    QVERIFY(Frame()->Link()->Engine()); // the attempt went on
    QVERIFY(!Control<QPushButton>("btnConnect")->isEnabled());
    // The port does not exist: in silent mode the notice becomes a log line, then the maroon line.
    const QStringList lines = Log()->Lines();
    QCOMPARE(lines[0], QStringLiteral("/dev/quadrel-no-such-port занят или недоступен"));
    QCOMPARE(Log()->LineColor(0), LogMaroon);
    QCOMPARE(lines[1], QStringLiteral("Выбранный СОМ-порт занят или недоступен"));
    // The one-second check gives the button back and reports the failed attempt.
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), 10000);
    QCOMPARE(Log()->Lines()[0], QStringLiteral("Неудачное подключение: [Адр:16, /dev/quadrel-no-such-port, 9600, "
                                               "MODBUS RTU 8N1]"));
    QVERIFY(!Frame()->Link()->findChild<QTimer *>("ConnectBtnTimer")->isActive());
}

void TestQuadrelFrame::ethernetFieldsAreValidated()
{
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    Control<QLineEdit>("txtEthernetAddr")->setText("0.1.2.3");
    fPanel.ClickConnect();
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), Control<QLineEdit>("txtEthernetAddr"));
    QVERIFY(!Frame()->Link()->Engine());

    Control<QLineEdit>("txtEthernetAddr")->setText("127.0.0.2");
    Control<QLineEdit>("txtEthernetTimeout")->setText("20");
    fPanel.ClickConnect();
    QCOMPARE(Control<QLineEdit>("txtEthernetTimeout")->text(), QStringLiteral("50"));
    QVERIFY(!Frame()->Link()->Engine());

    Control<QLineEdit>("txtEthernetTimeout")->setText("200");
    Control<QLineEdit>("txtEthernetPort")->setText("70000");
    fPanel.ClickConnect();
    QCOMPARE(Control<QLineEdit>("txtEthernetPort")->text(), QStringLiteral("65535"));
    QVERIFY(!Frame()->Link()->Engine());
}

void TestQuadrelFrame::afterFirstUpdateShowsTheModule()
{
    emit Frame() -> Link()->ProbeAnswered(true);
    SetTag(*Frame(), 36864, 73);
    SetTag(*Frame(), 36869, 100);
    SetTag(*Frame(), 36866, 0x0102);
    SetTag(*Frame(), 36867, 0x0304);
    SetTag(*Frame(), 36868, 0x0506);
    SetTag(*Frame(), 28676, 16);
    SetTag(*Frame(), 28672, 3);
    SetTag(*Frame(), 28673, 2);
    fPanel.Control<QComboBox>("cbFormat")->setCurrentIndex(1);
    // The window's labels and the device settings panel both fill themselves at the first cycle's end.
    emit Frame() -> Link()->FirstCycleDone();
    QCOMPARE(Control<QLabel>("labVerPO")->text(), QStringLiteral("1.00"));
    QCOMPARE(fPanel.Control<QLabel>("txtMAC")->text(), QStringLiteral("01-02-03-04-05-06"));
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("16"));
    QCOMPARE(fPanel.Control<QLineEdit>("txtAddr")->text(), QStringLiteral("16"));
    QCOMPARE(Control<QLabel>("labBaudRate")->text(), QStringLiteral("9600"));
    QCOMPARE(fPanel.Control<QComboBox>("cbBaudRate")->currentIndex(), 3);
    QCOMPARE(Control<QLabel>("labFormat")->text(), QStringLiteral("ASCII 7E1"));
    QCOMPARE(fPanel.Control<QComboBox>("cbFormat")->currentIndex(), -1);
    QVERIFY(Control<QPushButton>("btnRS485")->isEnabled());
    QCOMPARE(Frame()->PulseWidth().Current(), 1);
    Frame()->Link()->StopPoll();
}

void TestQuadrelFrame::afterFirstUpdateLeavesAnIdlePanelAlone()
{
    SetTag(*Frame(), 28676, 20);
    emit Frame() -> Link()->FirstCycleDone();
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("..."));
    QCOMPARE(fPanel.Control<QLineEdit>("txtAddr")->text(), QStringLiteral("16"));
    QVERIFY(!fPanel.IsPolling());
}

void TestQuadrelFrame::identifierNeedsAllThreeWords()
{
    emit Frame() -> Link()->ProbeAnswered(true);
    fPanel.Control<QLabel>("txtMAC")->setText("AA-BB-CC-DD-EE-FF");
    SetTag(*Frame(), 36866, 0x0102);
    SetTag(*Frame(), 36867, 0x0304);
    emit Frame() -> Link()->FirstCycleDone();
    QCOMPARE(fPanel.Control<QLabel>("txtMAC")->text(), QStringLiteral("AA-BB-CC-DD-EE-FF"));
    QCOMPARE(Control<QLabel>("labVerPO")->text(), QStringLiteral("..."));
    Frame()->Link()->StopPoll();
}

void TestQuadrelFrame::valueReadBackRefusesStaleOrFailedTags()
{
    int value = 0;
    QVERIFY(!Frame()->TryValueByID(60016, value)); // never answered: quality 32
    SetTag(*Frame(), 60016, 7.9);
    QVERIFY(Frame()->TryValueByID(60016, value));
    QCOMPARE(value, 7);
    Frame()->Link()->Device()->GetTagByID(60016)->ModbusError = true;
    QVERIFY(!Frame()->TryValueByID(60016, value));
    Frame()->Link()->Device()->GetTagByID(60016)->ModbusError = false;
    Frame()->Link()->Device()->GetTagByID(60016)->SetQuality(QualityRejected);
    QVERIFY(!Frame()->TryValueByID(60016, value));
    SetTag(*Frame(), 4096, 1); // per-output tags are disabled: never read back
    QVERIFY(!Frame()->TryValueByID(4096, value));
    QVERIFY(!Frame()->TryValueByID(123456, value));
}

void TestQuadrelFrame::interfaceTimerShowsStatesAndVoltage()
{
    MarkConnected(true);
    SetTag(*Frame(), 60016, 0x8001);
    SetTag(*Frame(), 60015, 0x0008);
    SetTag(*Frame(), 24582, 24582);
    SetTag(*Frame(), 36881, 0x8000);
    Frame()->Outputs().CommandSent(5, false);
    RefreshScreen();
    for (int n = 1; n <= 20; ++n)
        QCOMPARE(Frame()->Outputs().Output(n).IsOn(), n == 1 || n == 16 || n == 20);
    QVERIFY(!Frame()->Outputs().Output(5).IsWait);
    QCOMPARE(Control<QLabel>("labPower1")->text(), QStringLiteral("24.58 В"));
    QCOMPARE(Control<QLabel>("labPower1")->palette().color(QPalette::Window), QColor(255, 0, 0));
    QCOMPARE(Control<QLabel>("labPower1")->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    QCOMPARE(Control<QPushButton>("btnConnect")->text(), QStringLiteral("Отключиться"));
    QVERIFY(Control<QPushButton>("btnPortObserver")->isVisibleTo(Frame()));
    QCOMPARE(Control<QLabel>("labTest")->text(), QStringLiteral("0"));
    QCOMPARE(fPanel.OutputPicture(1), QStringLiteral("dout_on"));
    QCOMPARE(fPanel.OutputPicture(2), QStringLiteral("dout_off"));

    SetTag(*Frame(), 36881, 0x0001);
    RefreshScreen();
    QCOMPARE(Control<QLabel>("labPower1")->palette().color(QPalette::Window), QColor(166, 202, 240));
    QCOMPARE(Control<QLabel>("labPower1")->palette().color(QPalette::WindowText), QColor(0, 0, 128));

    MarkConnected(false);
    RefreshScreen();
    QCOMPARE(Control<QPushButton>("btnConnect")->text(), QStringLiteral("Подключиться"));
    QVERIFY(!Control<QPushButton>("btnPortObserver")->isVisibleTo(Frame()));
    QCOMPARE(fPanel.OutputPicture(1), QStringLiteral("dout_off")); // offline: always the off picture
}

void TestQuadrelFrame::sequenceRunningFreezesTheGrid()
{
    MarkConnected(true);
    SetTag(*Frame(), 60016, 0xFFFF);
    Control<QPushButton>("btnRunner")->setChecked(true);
    RefreshScreen();
    QVERIFY(!Frame()->Outputs().Output(1).IsOn());
    Control<QPushButton>("btnRunner")->setChecked(false);
    RefreshScreen();
    QVERIFY(Frame()->Outputs().Output(1).IsOn());
}

void TestQuadrelFrame::safeStatesFromTheirRegisters()
{
    TzTag *safe17to20 = Frame()->Link()->Device()->GetTagByID(60013);
    safe17to20->SetValue(0x0002);
    emit Frame() -> Link()->SafeStatesRead(safe17to20);
    QCOMPARE(Frame()->Outputs().Output(18).ShimSafe, 1);
    QCOMPARE(Frame()->Outputs().Output(17).ShimSafe, 0);
    QCOMPARE(Frame()->Outputs().Output(1).ShimSafe, 0); // 60014 not read yet: outputs 1..16 untouched
    TzTag *safe1to16 = Frame()->Link()->Device()->GetTagByID(60014);
    safe1to16->SetValue(0x0001);
    emit Frame() -> Link()->SafeStatesRead(safe1to16);
    QCOMPARE(Frame()->Outputs().Output(1).ShimSafe, 1);
    QCOMPARE(Frame()->Outputs().Output(2).ShimSafe, 0);
    QCOMPARE(Frame()->Outputs().Output(18).ShimSafe, 1);
}

void TestQuadrelFrame::pulseParametersFromTheBlocks()
{
    TzTag *second = Frame()->Link()->Device()->GetTagByID(600470);
    QByteArray data(60, '\0');
    data[0] = 0x00, data[1] = 0x0A;         // output 11: unit 10
    data[2] = 0x03, data[3] = 0xE8;         // period 1000
    data[4] = 0x01, data[5] = char(0xF4);   // fill 500
    data[58] = 0x03, data[59] = char(0xE8); // output 20: fill 1000
    second->Data = data;
    emit Frame() -> Link()->PulseWidthBlockRead(second);
    QCOMPARE(Frame()->Outputs().Output(11).ShimScale, 10);
    QCOMPARE(Frame()->Outputs().Output(11).ShimPeriod, 1000);
    QCOMPARE(Frame()->Outputs().Output(11).ShimKoef, 500);
    QCOMPARE(Frame()->Outputs().Output(20).ShimKoef, 1000);
    second->Data = data.left(59);
    Frame()->Outputs().SetFill(11, 7);
    emit Frame() -> Link()->PulseWidthBlockRead(second);
    QCOMPARE(Frame()->Outputs().Output(11).ShimKoef, 7); // short data changes nothing
}

void TestQuadrelFrame::gridPicturesAndClicksOffline()
{
    fPanel.Show();
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    auto press = [grid](int aCol, int aRow) {
        const QPoint centre = grid->visualItemRect(grid->item(aRow - 1, aCol)).center();
        QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre);
    };
    press(4, 2); // output 12
    QVERIFY(Frame()->Outputs().Output(12).IsWait);
    QCOMPARE(Frame()->Outputs().Output(12).ShimKoef, 1000);
    QCOMPARE(fPanel.OutputPicture(12), QStringLiteral("dout_off"));
    MarkConnected(true);
    QCOMPARE(fPanel.OutputPicture(12), QStringLiteral("dout_wait"));
    Frame()->Outputs().SetFill(3, 500);
    QCOMPARE(fPanel.OutputPicture(3), QStringLiteral("dout_pulse"));
    press(0, 3); // number column: nothing
    QVERIFY(!Frame()->Outputs().Output(3).IsWait);
    QVERIFY(!Frame()->Link()->Engine());
}

void TestQuadrelFrame::gridDragTypingAndWheel()
{
    fPanel.Show();
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    auto centre = [grid](int aCol, int aRow) { return grid->visualItemRect(grid->item(aRow - 1, aCol)).center(); };

    // Dragging down the picture column toggles every output passed over.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre(1, 1));
    for (const int row : {2, 3}) {
        QMouseEvent move(QEvent::MouseMove, centre(1, row), grid->viewport()->mapToGlobal(centre(1, row)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grid->viewport(), &move);
    }
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre(1, 3));
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(Frame()->Outputs().Output(n).IsWait, n <= 3);

    // Typing lands only in descriptions; an edit there starts the five-second project save.
    grid->setCurrentCell(0, 0);
    QTest::keyClicks(grid, "x");
    QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("1"));
    QVERIFY(!fPanel.Control<QTimer>(QStringLiteral("ProjSaveTimer"))->isActive());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre(2, 1));
    QLineEdit *editor = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((editor = grid->viewport()->findChild<QLineEdit *>()) != nullptr, 5000);
    QTest::keyClicks(editor, "Pump 3");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(grid->Description(1), QStringLiteral("Pump 3"), 5000);
    QVERIFY(fPanel.Control<QTimer>(QStringLiteral("ProjSaveTimer"))->isActive());
    QCOMPARE(fPanel.Control<QTimer>(QStringLiteral("ProjSaveTimer"))->interval(), 5000);

    // Each wheel step scrolls five lines.
    grid->resize(grid->width(), 160);
    QTRY_VERIFY_WITH_TIMEOUT(grid->verticalScrollBar()->maximum() >= 5, 5000);
    grid->verticalScrollBar()->setValue(0);
    QWheelEvent wheel(QPointF(10, 10), grid->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid->viewport(), &wheel);
    QCOMPARE(grid->verticalScrollBar()->value(), std::min(5, grid->verticalScrollBar()->maximum()));
}

void TestQuadrelFrame::unknownAnswerNumberIsLogged()
{
    TzAnswerRec rec;
    rec.UID = 77;
    rec.Answer = QByteArray::fromHex("01030200058443");
    Frame()->Link()->ModbusAsyncAnswer(rec);
    QCOMPARE(Log()->Lines()[0], QStringLiteral("Неизвестный UID (77):   Ответ: 1.3.2.0.5.132"));
    QCOMPARE(Log()->LineColor(0), LogMaroon);
}

void TestQuadrelFrame::linkTellsTheScreen()
{
    // The pulse-width blocks and the safe states reach the panel's outputs; the states registers
    // are shown by the screen refresh instead.
    TzTag *block = Frame()->Link()->Device()->GetTagByID(600170);
    QByteArray data(60, '\0');
    data[4] = 0x01, data[5] = char(0xF4); // output 1: fill 500
    block->Data = data;
    emit Frame() -> Link()->PulseWidthBlockRead(block);
    QCOMPARE(Frame()->Outputs().Output(1).ShimKoef, 500);
    TzTag *safe = Frame()->Link()->Device()->GetTagByID(60013);
    safe->SetValue(0x0001);
    emit Frame() -> Link()->SafeStatesRead(safe);
    QCOMPARE(Frame()->Outputs().Output(17).ShimSafe, 1);

    // The count of an exception code and the link's own lines go to the log.
    emit Frame() -> Link()->ExceptionCounted(2, 1);
    QVERIFY(Log()->Lines().contains(QStringLiteral("Ошибок 02h: 1")));
    emit Frame() -> Link()->LogLine(QStringLiteral("строка связи"), TzLinkLogKind::Failure);
    QCOMPARE(Log()->Lines()[0], QStringLiteral("строка связи"));
    QCOMPARE(Log()->LineColor(0), LogMaroon);
}

void TestQuadrelFrame::testModeShowsTheTestFeatures()
{
    RefreshScreen();
    QVERIFY(!Control<QFrame>("panSnake")->isVisibleTo(Frame()));
    QVERIFY(!Control<QCheckBox>("chkRemoteControl")->isVisibleTo(Frame()));
    TestMode = true;
    RefreshScreen();
    QVERIFY(Control<QFrame>("panSnake")->isVisibleTo(Frame()));
    QVERIFY(Control<QComboBox>("cbStyles")->isVisibleTo(Frame()));
    QVERIFY(fPanel.Control<QCheckBox>("chkRemoteControl")->isVisibleTo(Frame()));
    // Placed once, at the bottom-right corner.
    QCOMPARE(Control<QFrame>("panSnake")->x() + Control<QFrame>("panSnake")->width(), Frame()->width() - 12);
    TestMode = false;
}

void TestQuadrelFrame::animations()
{
    // A connection attempt on a bus without the module: the dots run until the attempt fails.
    // The timers' ticks are driven here one by one, through the timers themselves.
    fPanel.StartSim(false);
    fPanel.ChooseSerial();
    fPanel.ClickConnect();
    QVERIFY(!Control<QPushButton>("btnConnect")->isEnabled());
    auto tick = [](QTimer *aTimer) { QVERIFY(QMetaObject::invokeMethod(aTimer, "timeout")); };
    QTimer *aniTimer = Control<QTimer>("AniTimer");
    QStringList shown;
    for (int i = 0; i < 21; ++i) {
        tick(aniTimer);
        shown << QString::number(Control<QLabel>("labAni")->text().size());
    }
    QCOMPARE(shown.join(','), QStringLiteral("2,3,4,5,6,7,8,9,10,9,8,7,6,5,4,3,2,1,0,1,2"));
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), 15000);
    QVERIFY(!aniTimer->isActive());
    // The next attempt starts the dots from the beginning.
    fPanel.ClickConnect();
    tick(aniTimer);
    QCOMPARE(Control<QLabel>("labAni")->text().size(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), 15000);

    QList<int> lefts;
    for (int i = 0; i < 30; ++i) {
        tick(Control<QTimer>("ArrowTimer"));
        lefts << Control<TzPictureLabel>("imgArrow")->x();
    }
    QCOMPARE(*std::min_element(lefts.begin(), lefts.end()), 127);
    QCOMPARE(*std::max_element(lefts.begin(), lefts.end()), 136);
}

void TestQuadrelFrame::popupPanels()
{
    Frame()->show();
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QCOMPARE(Control<QFrame>("panComPort")->x(),
             Control<QPushButton>("btnComPort")->x() + Control<QPushButton>("btnComPort")->width());
    auto *results = fPanel.Control<QFrame>(QStringLiteral("panFind"));
    QVERIFY(!results->isVisible()); // nothing found yet
    fPanel.Control<QListWidget>(QStringLiteral("FindListBox"))->addItem("16");
    // Something found: the result panel opens beside the connection panel with it.
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    QVERIFY(!results->isVisible());
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QVERIFY(results->isVisible());
    QCOMPARE(results->x(), Control<QFrame>("panComPort")->x() + Control<QFrame>("panComPort")->width() + 1);
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton); // second click closes
    QVERIFY(!Control<QFrame>("panComPort")->isVisible());
    Control<QPushButton>("btnRS485")->setEnabled(true);
    QTest::mouseClick(Control<QPushButton>("btnRS485"), Qt::LeftButton);
    QVERIFY(fPanel.Control<QFrame>("panRS485")->isVisible());
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton); // one panel at a time
    QVERIFY(!fPanel.Control<QFrame>("panRS485")->isVisible());
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    // A press on the frame's own bare surface closes the pop-up panels.
    QPoint bare;
    for (int y = 2; y < Frame()->height() && bare.isNull(); y += 4)
        for (int x = 2; x < Frame()->width() && bare.isNull(); x += 4)
            if (!Frame()->childAt(x, y))
                bare = QPoint(x, y);
    QVERIFY(!bare.isNull());
    QTest::mouseClick(Frame(), Qt::LeftButton, {}, bare);
    QVERIFY(!Control<QFrame>("panComPort")->isVisible());
    QVERIFY(!results->isVisible());
    QVERIFY(!Control<QPushButton>("btnComPort")->isChecked());
}

void TestQuadrelFrame::exceptionsReachTheLog()
{
    QPushButton thrower;
    connect(&thrower, &QPushButton::clicked, [] { throw ERangeError(); });
    QTest::mouseClick(&thrower, Qt::LeftButton);
    QCOMPARE(Log()->Lines()[0], QStringLiteral("Ошибка: range check error"));
    QCOMPARE(Log()->LineColor(0), LogNavy);
}

void TestQuadrelFrame::gridIsAccessible()
{
    MarkConnected(true);
    SetTag(*Frame(), 60016, 0x0001);
    RefreshScreen();
    QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(Control<TzRelayGrid>("SG_Relays"));
    QVERIFY(grid);
    QAccessibleTableInterface *table = grid->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 10);
    QCOMPARE(table->columnCount(), 6);
    QAccessibleInterface *cell = table->cellAt(0, 1);
    QVERIFY(cell);
    QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("Выход 1: включён"));
    QCOMPARE(table->cellAt(1, 4)->text(QAccessible::Name), QStringLiteral("Выход 12: выключен"));
    QCOMPARE(grid->text(QAccessible::Name), QStringLiteral("Дискретные выходы"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control<QLineEdit>("txtLineAddr"))->text(QAccessible::Name),
             QStringLiteral("Адрес прибора"));
}

void TestQuadrelFrame::wheelAddsUpPartsOfANotch_data()
{
    QTest::addColumn<QList<int>>("deltas");
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("positions");
    QTest::newRow("four quarter notches down") << QList<int>{-30, -30, -30, -30} << 0 << QList<int>{0, 0, 0, 5};
    QTest::newRow("a notch down, then parts up") << QList<int>{-120, 60, 60} << 0 << QList<int>{5, 5, 0};
    QTest::newRow("a notch and a half up") << QList<int>{180, 60} << 8 << QList<int>{3, 0};
    QTest::newRow("two notches in one event") << QList<int>{-240} << 0 << QList<int>{8};
}

void TestQuadrelFrame::wheelAddsUpPartsOfANotch()
{
    QFETCH(QList<int>, deltas);
    QFETCH(int, start);
    QFETCH(QList<int>, positions);
    fPanel.Show();
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    // Two rows in view, so the grid scrolls by up to eight.
    grid->resize(grid->width(), 40 + 2 * 40 + 2 * grid->frameWidth());
    QTRY_COMPARE_WITH_TIMEOUT(grid->verticalScrollBar()->maximum(), 8, 5000);
    grid->verticalScrollBar()->setValue(start);
    for (int i = 0; i < deltas.size(); ++i) {
        QWheelEvent wheel(QPointF(10, 10), grid->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, deltas[i]), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid->viewport(), &wheel);
        QCOMPARE(grid->verticalScrollBar()->value(), positions[i]);
    }
}

void TestQuadrelFrame::clicksInsideAPanelKeepItOpen()
{
    fPanel.Show();
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QLabel *caption = nullptr;
    for (QLabel *label : Control<QWidget>("PageConnCOM")->findChildren<QLabel *>())
        if (label->text() == QStringLiteral("Скорость:"))
            caption = label;
    QVERIFY(caption);
    QTest::mouseClick(caption, Qt::LeftButton);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QTest::mouseClick(Control<TzPictureLabel>("imgRefreshPortList"), Qt::LeftButton);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QTest::mouseClick(Control<QFrame>("panComPort"), Qt::LeftButton, {}, QPoint(1, 1)); // the panel's own margin
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QVERIFY(Control<QPushButton>("btnComPort")->isChecked());
    // The frame's bare surface, right of the status block, closes it.
    const QPoint bare(Control<QFrame>("panComPort")->geometry().right() + 20, 120);
    QVERIFY(!Frame()->childAt(bare));
    QTest::mouseClick(Frame(), Qt::LeftButton, {}, bare);
    QVERIFY(!Control<QFrame>("panComPort")->isVisible());
    QVERIFY(!Control<QPushButton>("btnComPort")->isChecked());
}

void TestQuadrelFrame::panelButtonsToggleThroughTheirAccessibleAction_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("panel");
    QTest::newRow("СОМ-порт") << "btnComPort" << "panComPort";
    QTest::newRow("Устройство") << "btnRS485" << "panRS485";
    QTest::newRow("ШИМ") << "btnDOUT" << "panDOUT";
}

void TestQuadrelFrame::panelButtonsToggleThroughTheirAccessibleAction()
{
    QFETCH(QString, button);
    QFETCH(QString, panel);
    fPanel.Show();
    auto *pushButton = Frame()->findChild<QPushButton *>(button);
    auto *popup = Frame()->findChild<QWidget *>(panel);
    QVERIFY(pushButton && popup);
    pushButton->setEnabled(true); // as the first cycle's end enables it
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(pushButton);
    QVERIFY(accessible && accessible->actionInterface());
    QAccessibleActionInterface *actions = accessible->actionInterface();
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(popup->isVisible());
    QVERIFY(pushButton->isChecked());
    QVERIFY(accessible->state().checked);
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(!popup->isVisible());
    QVERIFY(!pushButton->isChecked());
    // Space does what the mouse does.
    QTest::keyClick(pushButton, Qt::Key_Space);
    QVERIFY(popup->isVisible());
    Frame()->CloseAllPanel();
    QVERIFY(!popup->isVisible());
    QVERIFY(!pushButton->isChecked());
}

void TestQuadrelFrame::pictureButtonsTakeTheKeyboard_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Space") << int(Qt::Key_Space);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("accessible press") << 0;
}

void TestQuadrelFrame::pictureButtonsTakeTheKeyboard()
{
    QFETCH(int, key);
    fPanel.Show();
    for (TzPictureLabel *picture :
         {Control<TzPictureLabel>("imgRefreshPortList"), Control<TzPictureLabel>("imgFindDevice"),
          Control<TzPictureLabel>("imgFindDeviceEth"), fPanel.Control<TzPictureLabel>("imgProxySettings"),
          fPanel.Control<TzPictureLabel>("imgOpenNano")}) {
        QCOMPARE(picture->focusPolicy(), Qt::StrongFocus);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(picture);
        QCOMPARE(accessible->role(), QAccessible::Button);
        QCOMPARE(accessible->text(QAccessible::Name), picture->toolTip());
        QVERIFY(accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    }
    QCOMPARE(Control<TzPictureLabel>("imgArrow")->focusPolicy(), Qt::NoFocus);

    // The refresh picture, pressed without the mouse, refills the port list; the panel stays open.
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    Frame()->AddPortOnTop(QStringLiteral("/dev/quadrel-gone"));
    QCOMPARE(Control<QComboBox>("cbComPort")->itemText(0), QStringLiteral("/dev/quadrel-gone"));
    if (key == 0)
        QAccessible::queryAccessibleInterface(Control<TzPictureLabel>("imgRefreshPortList"))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
    else
        QTest::keyClick(Control<TzPictureLabel>("imgRefreshPortList"), Qt::Key(key));
    QCOMPARE(Control<QComboBox>("cbComPort")->findText(QStringLiteral("/dev/quadrel-gone")), -1);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
}

void TestQuadrelFrame::descriptionsEditFromTheKeyboard()
{
    fPanel.Show();
    Frame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Frame()));
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    grid->setFocus();

    // F2 on output 2's description opens it.
    grid->setCurrentCell(1, 2);
    QTest::keyClick(grid, Qt::Key_F2);
    QLineEdit *editor = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((editor = OpenEditor(grid)) != nullptr, 5000);
    editor->selectAll();
    QTest::keyClicks(editor, "Pump");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(grid->Description(2), QStringLiteral("Pump"), 5000);
    QVERIFY(fPanel.Control<QTimer>(QStringLiteral("ProjSaveTimer"))->isActive());

    // Typing on output 14's description starts editing with the typed letter.
    grid->setFocus();
    grid->setCurrentCell(3, 5);
    QTest::keyClick(grid, 'v');
    QWidget *typing = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((typing = OpenEditor(grid)) != nullptr, 5000);
    QCOMPARE(qobject_cast<QLineEdit *>(typing)->text(), QStringLiteral("v"));
    QTest::keyClicks(typing, "alve");
    QTest::keyClick(typing, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(grid->Description(14), QStringLiteral("valve"), 5000);

    // F2 and typing on a picture cell open nothing and switch nothing.
    grid->setFocus();
    grid->setCurrentCell(0, 1);
    QTest::keyClick(grid, Qt::Key_F2);
    QTest::keyClick(grid, 'x');
    QVERIFY(!OpenEditor(grid));
    QVERIFY(!Frame()->Outputs().Output(1).IsWait);
    // Space there is a press on the picture: the same rule as a click.
    QTest::keyClick(grid, Qt::Key_Space);
    QVERIFY(Frame()->Outputs().Output(1).IsWait);
    QCOMPARE(Frame()->Outputs().Output(1).ShimKoef, 1000);
}

void TestQuadrelFrame::picturesAreDrawnAtThePixelRatio()
{
    // The reference: the SVG drawn straight at 64 device pixels.
    auto reference = [](const QString &aName, int aPixels) {
        QImage image(aPixels, aPixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QSvgRenderer(QStringLiteral(":/pictures/%1.svg").arg(aName)).render(&painter);
        return image;
    };
    const QImage sharp = reference(QStringLiteral("dout_off"), 64);
    // What a picture drawn once at 32 pixels and enlarged would look like: not the same.
    QVERIFY(reference(QStringLiteral("dout_off"), 32).scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            != sharp);

    const QPixmap icon = PanelIcon(QStringLiteral("dout_off")).pixmap(QSize(32, 32), 2.0);
    QCOMPARE(icon.size(), QSize(64, 64));
    QCOMPARE(icon.devicePixelRatio(), 2.0);
    QImage iconImage = icon.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    iconImage.setDevicePixelRatio(1.0);
    QCOMPARE(iconImage, sharp);

    // A grid cell painted for a 200 % screen: the picture at (-1, 4) in the 40 x 40 cell.
    QImage canvas(QSize(40, 40) * 2, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2.0);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        QStyleOptionViewItem option;
        option.rect = QRect(1, 0, 40, 40);
        Control<TzRelayGrid>("SG_Relays")
            ->itemDelegate()
            ->paint(&painter, option, Control<TzRelayGrid>("SG_Relays")->model()->index(0, 1));
    }
    canvas.setDevicePixelRatio(1.0);
    QCOMPARE(canvas.copy(0, 8, 64, 64), sharp);

    // A picture button on the same screen.
    TzPictureLabel *refresh = Control<TzPictureLabel>("imgRefreshPortList");
    const QImage refreshSharp = reference(QStringLiteral("refresh"), refresh->width() * 2);
    QImage label(refresh->size() * 2, QImage::Format_ARGB32_Premultiplied);
    label.setDevicePixelRatio(2.0);
    label.fill(Qt::transparent);
    refresh->render(&label, QPoint(), QRegion(), QWidget::DrawChildren);
    label.setDevicePixelRatio(1.0);
    QCOMPARE(label.copy(0, 0, refreshSharp.width(), refreshSharp.height()), refreshSharp);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelFrame test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuadrelFrame.moc"
