// The panel against the simulated module, over a pseudo-terminal and through the simulated
// converter: the real widgets are clicked, and what crossed the line is read from the simulator's
// frame log.

#include "app/uApplication.h"
#include "common/uGlobVar.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uWebBridgePanel.h"
#include "port/uFreePort.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"
#include "tests/TestBigTemplate.h"
#include "tests/panel/PanelTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr int LineTimeout = 15000;

using Request = TestRequest;

// The requests to the module received from the mark on, in order.
QList<Request> ReceivedRequests(TzSimulator &aSim, size_t aFrom = 0)
{
    return TestFrameLog(aSim).Requests(aFrom, ModuleAddress);
}

size_t ReceivedCount(TzSimulator &aSim)
{
    return TestFrameLog(aSim).ReceivedCount();
}

// The readable template tags, in template order. The device-type read is the probe's own frame,
// which the engine still holds while the probe's answer is being handled, so it is refused as a
// duplicate and the cycle goes on without it.
const QList<Request> FirstCycle{{16, 3, 28672, 1}, {16, 3, 28673, 1}, {16, 3, 28676, 1}, {16, 3, 28680, 1},
                                {16, 4, 36865, 1}, {16, 4, 36866, 1}, {16, 4, 36867, 1}, {16, 4, 36868, 1},
                                {16, 4, 36869, 1}, {16, 4, 24582, 1}, {16, 4, 36881, 1}, {16, 3, 60013, 1},
                                {16, 3, 60014, 1}, {16, 3, 60015, 1}, {16, 3, 60016, 1}, {16, 3, 60017, 30},
                                {16, 3, 60047, 30}};
const QList<Request> PollCycle{{16, 4, 24582, 1}, {16, 4, 36881, 1}, {16, 3, 60013, 1},  {16, 3, 60014, 1},
                               {16, 3, 60015, 1}, {16, 3, 60016, 1}, {16, 3, 60017, 30}, {16, 3, 60047, 30}};

QPoint CellCentre(TzRelayGrid *aGrid, int aCol, int aRow)
{
    return aGrid->visualItemRect(aGrid->item(aRow - 1, aCol)).center();
}

// A pointer move with the left button held, as a drag delivers it.
void DragTo(TzRelayGrid *aGrid, const QPoint &aPos)
{
    QMouseEvent move(QEvent::MouseMove, aPos, aGrid->viewport()->mapToGlobal(aPos), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(aGrid->viewport(), &move);
}

int OutputCoil(int aOutput)
{
    return 4096 + 128 * (aOutput - 1);
}

// The coil writes the simulator received, in order.
QList<Request> CoilWrites(TzSimulator &aSim, size_t aFrom)
{
    QList<Request> writes;
    for (const Request &r : ReceivedRequests(aSim, aFrom))
        if (r.Function == 5)
            writes << r;
    return writes;
}

int LinesStartingWith(const QStringList &aLines, const QString &aStart)
{
    return int(
        std::count_if(aLines.begin(), aLines.end(), [&aStart](const QString &l) { return l.startsWith(aStart); }));
}

const QList<QPushButton *> CommandButtons(TfrQuadrel *aFrame)
{
    QList<QPushButton *> buttons{aFrame->findChild<QPushButton *>("btnRS485"),
                                 aFrame->findChild<QPushButton *>("btnReset"),
                                 aFrame->findChild<QPushButton *>("btnDOUT")};
    for (const char *name : {"btnAllOn", "btnAllOff", "btnAllOnSlow", "btnAllOffSlow", "btnSnakeOn", "btnRunner"})
        buttons << aFrame->findChild<QPushButton *>(QString::fromLatin1(name));
    return buttons;
}

} // namespace

class TestQuadrelLine : public TestPanelCase
{
    Q_OBJECT

public:
    TestQuadrelLine() : TestPanelCase(LineTimeout) {}

private slots:
    void init();
    void cleanup();

    void connectsOverAPseudoTerminal();
    void clickSwitchesAnOutputAheadOfPolls();
    void headerClickWritesTenCoils();
    void pulsingOutputShowsThePulsePicture();
    void powerAlarmPaintsTheVoltage();
    void deviceOfAnotherTypeFails();
    void busyPortIsReported();
    void connectsThroughTheConverter();
    void reconnectAfterDisconnectDuringTheFirstCycle();
    void largeTemplateQueuesWhileTheInterfaceRuns();

    void heldPressInOneCellWritesOnce();
    void dragAcrossFiveOutputsWritesOneValue();
    void commandButtonsWaitForTheFirstCycle();
    void converterLinesNameTheConverter();
    void silentModuleMarksValuesStale();
    void healthyDisconnectIsNotAFailure();
    void statusReadsGoOutInWholeCycles_data();
    void statusReadsGoOutInWholeCycles();
    void restartWaitActsOnlyOnItsConnection_data();
    void restartWaitActsOnlyOnItsConnection();
    void brokenTemplateRefusesToConnect();
    void gridFromTheKeyboard();
    void timersRunOnlyWhileTheyShowSomething();

private:
    void ConnectSerial();
    void WaitForPolling();
    // Waits until the module has been polled for its output states after aFrom: any command
    // queued before would have gone out first.
    void WaitForStateRead(size_t aFrom);

    QString fPath;
};

void TestQuadrelLine::init()
{
    fPanel.StartSim(false);
    fPanel.Open();
}

void TestQuadrelLine::cleanup()
{
    fPanel.Close();
}

void TestQuadrelLine::timersRunOnlyWhileTheyShowSomething()
{
    // Disconnected and on screen: the arrow points at the connect button and moves.
    QVERIFY(Control<QTimer>("ArrowTimer")->isActive());
    QVERIFY(Control<TzPictureLabel>("imgArrow")->isVisible());
    const int left = Control<TzPictureLabel>("imgArrow")->x();
    QTRY_VERIFY_WITH_TIMEOUT(Control<TzPictureLabel>("imgArrow")->x() != left, LineTimeout);
    // A waiting panel runs no sequence and asks no web service.
    QVERIFY(!Control<QTimer>("Runner_Timer")->isActive());
    QVERIFY(!Control<QTimer>("PHP_Call_Timer")->isActive());
    // Off the screen, hidden or minimised, there is nothing to move.
    Frame()->hide();
    QVERIFY(!Control<QTimer>("ArrowTimer")->isActive());
    Frame()->show();
    QVERIFY(Control<QTimer>("ArrowTimer")->isActive());
    Frame()->showMinimized();
    QVERIFY(!Control<QTimer>("ArrowTimer")->isActive());
    Frame()->showNormal();
    QVERIFY(Control<QTimer>("ArrowTimer")->isActive());

    // Connected: the arrow is gone and stands still.
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    QVERIFY(!Control<QTimer>("ArrowTimer")->isActive());
    QVERIFY(!Control<TzPictureLabel>("imgArrow")->isVisible());
    QVERIFY(!fPanel.Control<QTimer>("PHP_Call_Timer")->isActive());

    // The web poll runs while remote control is ticked (a test feature), the runner's timer while
    // it runs.
    TestMode = true;
    const auto testModeOff = qScopeGuard([] { TestMode = false; });
    Frame()->WebBridge().SetHttpBase(QStringLiteral("http://127.0.0.1:9/"));
    Control<QCheckBox>("chkRemoteControl")->setChecked(true);
    QVERIFY(Control<QTimer>("PHP_Call_Timer")->isActive());
    Control<QCheckBox>("chkRemoteControl")->setChecked(false);
    QVERIFY(!Control<QTimer>("PHP_Call_Timer")->isActive());
    Control<QCheckBox>("chkRemoteControl")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnRunner")->isEnabled(), LineTimeout);
    Control<QPushButton>("btnRunner")->click();
    QVERIFY(Control<QTimer>("Runner_Timer")->isActive());
    Control<QPushButton>("btnRunner")->click();
    QVERIFY(!Control<QTimer>("Runner_Timer")->isActive());
    Control<QPushButton>("btnRunner")->click();

    // Disconnecting stops both, remote control still ticked, and the arrow moves again.
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(!Control<QTimer>("Runner_Timer")->isActive());
    QVERIFY(!Control<QTimer>("PHP_Call_Timer")->isActive());
    QVERIFY(Control<QTimer>("ArrowTimer")->isActive());
    QVERIFY(Control<TzPictureLabel>("imgArrow")->isVisible());
    fPanel.Control<QCheckBox>("chkRemoteControl")->setChecked(false);
}

void TestQuadrelLine::ConnectSerial()
{
    fPanel.ChooseSerial();
    fPath = fPanel.Path();
    fPanel.ClickConnect();
}

void TestQuadrelLine::WaitForPolling()
{
    fPanel.WaitForPolling();
}

void TestQuadrelLine::connectsOverAPseudoTerminal()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t) {
        aModule.SetFirmwareVersion(215);
        aModule.SetIdentifier(0x0102, 0x0304, 0x0506);
    });
    ConnectSerial();
    WaitForPolling();

    // The probe first, then the whole template once, then the periodic reads.
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*Sim()).size() >= 1 + FirstCycle.size() + PollCycle.size(), LineTimeout);
    const QList<Request> requests = ReceivedRequests(*Sim());
    QCOMPARE(requests.front(), (Request{ModuleAddress, 4, 36864, 1}));
    QCOMPARE(Describe(requests.mid(1, FirstCycle.size())), Describe(FirstCycle));
    QCOMPARE(Describe(requests.mid(1 + FirstCycle.size(), PollCycle.size())), Describe(PollCycle));

    QVERIFY(Log()->Lines().contains(QStringLiteral("Успешное подключение: [Адр:16, %1, 9600, RTU 8N1]").arg(fPath)));
    QCOMPARE(Log()->LineColor(int(Log()->Lines().indexOf(
                 QStringLiteral("Успешное подключение: [Адр:16, %1, 9600, RTU 8N1]").arg(fPath)))),
             LogGreen);
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("16"));
    QCOMPARE(Control<QLabel>("labBaudRate")->text(), QStringLiteral("9600"));
    QCOMPARE(Control<QLabel>("labFormat")->text(), QStringLiteral("RTU 8N1"));
    QCOMPARE(Control<QLabel>("labVerPO")->text(), QStringLiteral("2.15"));
    QCOMPARE(fPanel.Control<QLabel>("txtMAC")->text(), QStringLiteral("01-02-03-04-05-06"));
    QTRY_VERIFY_WITH_TIMEOUT(
        QRegularExpression("^2\\d\\.\\d\\d В$").match(Control<QLabel>("labPower1")->text()).hasMatch(), LineTimeout);
    QCOMPARE(Control<QLabel>("labPower1")->palette().color(QPalette::Window), QColor(166, 202, 240));
    QVERIFY(Control<QPushButton>("btnRS485")->isEnabled());
    QCOMPARE(Control<QPushButton>("btnConnect")->text(), QStringLiteral("Отключиться"));

    // Disconnecting stops the traffic.
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(!fPanel.IsPolling());
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("..."));
    QVERIFY(Control<QPushButton>("btnConnect")->isEnabled());
}

void TestQuadrelLine::clickSwitchesAnOutputAheadOfPolls()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    // Let the queue fill with polls, then switch output 12 (row 2 of the right half).
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.PendingAnswers() >= 4, LineTimeout);
    const size_t mark = ReceivedCount(*Sim());
    QTest::mouseClick(Control<TzRelayGrid>("SG_Relays")->viewport(), Qt::LeftButton, {},
                      CellCentre(Control<TzRelayGrid>("SG_Relays"), 4, 2));
    QVERIFY(Frame()->Outputs().Output(12).IsWait);
    QCOMPARE(fPanel.OutputPicture(12), QStringLiteral("dout_wait"));

    const Request write{ModuleAddress, 5, 5504, 0xFF00};
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*Sim(), mark).contains(write), LineTimeout);
    // Forced: at most the exchange already on the line goes before it.
    QVERIFY2(ReceivedRequests(*Sim(), mark).indexOf(write) <= 1, qPrintable(Describe(ReceivedRequests(*Sim(), mark))));
    const auto frames = Sim()->Log().Frames(TzSimDirection::Received);
    const TSimBytes expected{0x10, 0x05, 0x15, 0x80, 0xFF, 0x00};
    QVERIFY(std::any_of(frames.begin() + long(mark), frames.end(), [&expected](const TSimBytes &f) {
        return f.size() == 8 && std::equal(expected.begin(), expected.end(), f.begin());
    }));

    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(12), QStringLiteral("dout_on"), LineTimeout);
    bool on = false;
    Sim()->Bus().WithModule(ModuleAddress,
                            [&on](TzSimModule &aModule, uint64_t aNow) { on = aModule.OutputState(12, aNow); });
    QVERIFY(on);
}

void TestQuadrelLine::headerClickWritesTenCoils()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    const size_t mark = ReceivedCount(*Sim());
    QHeaderView *header = Control<TzRelayGrid>("SG_Relays")->horizontalHeader();
    const QPoint section(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, section);
    // The header switched its ten outputs on: every write below is "on"; a second click switches
    // them off again.
    for (int n = 1; n <= 10; ++n) {
        const Request write{ModuleAddress, 5, 4096 + 128 * (n - 1), 0xFF00};
        QTRY_VERIFY2_WITH_TIMEOUT(ReceivedRequests(*Sim(), mark).contains(write), qPrintable(QString::number(n)),
                                  LineTimeout);
    }
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(10), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fPanel.OutputPicture(11), QStringLiteral("dout_off"));
    const size_t markOff = ReceivedCount(*Sim());
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, section);
    for (int n = 1; n <= 10; ++n) {
        const Request write{ModuleAddress, 5, 4096 + 128 * (n - 1), 0x0000};
        QTRY_VERIFY2_WITH_TIMEOUT(ReceivedRequests(*Sim(), markOff).contains(write), qPrintable(QString::number(n)),
                                  LineTimeout);
    }
}

void TestQuadrelLine::pulsingOutputShowsThePulsePicture()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t aNow) {
        QVERIFY(aModule.SetPwm(3, 10, 1000, 500, aNow));
    });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(3), QStringLiteral("dout_pulse"), LineTimeout);
    QCOMPARE(Frame()->Outputs().Output(3).ShimKoef, 500);
    QCOMPARE(Frame()->Outputs().Output(3).ShimPeriod, 1000);
    QCOMPARE(fPanel.OutputPicture(4), QStringLiteral("dout_off"));
    // A click shows the wait picture until the state is read back.
    QTest::mouseClick(Control<TzRelayGrid>("SG_Relays")->viewport(), Qt::LeftButton, {},
                      CellCentre(Control<TzRelayGrid>("SG_Relays"), 1, 3));
    QCOMPARE(fPanel.OutputPicture(3), QStringLiteral("dout_wait"));
}

void TestQuadrelLine::powerAlarmPaintsTheVoltage()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    Sim()->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t) { aModule.SetPowerStatus(0x8000); });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>("labPower1")->palette().color(QPalette::Window), QColor(255, 0, 0),
                              LineTimeout);
    QCOMPARE(Control<QLabel>("labPower1")->palette().color(QPalette::WindowText), QColor(255, 255, 0));
}

void TestQuadrelLine::deviceOfAnotherTypeFails()
{
    QVERIFY(Sim()->Bus().AddForeignDevice(ModuleAddress, 42));
    ConnectSerial();
    QVERIFY(!Control<QPushButton>("btnConnect")->isEnabled());
    const QString failed = QStringLiteral("Неудачное подключение: [Адр:16, %1, 9600, MODBUS RTU 8N1]");
    QTRY_VERIFY_WITH_TIMEOUT(Log()->Lines().contains(failed.arg(fPath)), LineTimeout);
    QCOMPARE(Log()->LineColor(int(Log()->Lines().indexOf(failed.arg(fPath)))), LogMaroon);
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(Control<QPushButton>("btnConnect")->isEnabled());
    // Only the probe went out.
    QCOMPARE(Describe(ReceivedRequests(*Sim())), Describe({{ModuleAddress, 4, 36864, 1}}));
}

void TestQuadrelLine::busyPortIsReported()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    fPanel.ChooseSerial();
    fPath = fPanel.Path();
    TzFreePort holder(fPath);
    QVERIFY(holder.Start());

    QString notice;
    QTimer::singleShot(0, this, [&notice] {
        // The notice is modal: read it and close it as the operator would.
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()), 10000);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        notice = box->windowTitle() + '|' + box->text();
        box->accept();
    });
    fPanel.ClickConnect();
    QCOMPARE(notice, QStringLiteral("Уведомление|Выбранный СОМ-порт занят или недоступен"));
    QCOMPARE(Log()->Lines().front(), QStringLiteral("%1 занят или недоступен").arg(fPath));
    QCOMPARE(Log()->LineColor(0), LogMaroon);
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), LineTimeout);
    QVERIFY(!fPanel.IsConnected());
    holder.Stop();
}

void TestQuadrelLine::connectsThroughTheConverter()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    fPanel.ConnectConverter();
    QCOMPARE(Control<QLabel>("labBaudRate")->text(), QStringLiteral("Ethernet"));
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*Sim()).size() >= 1 + FirstCycle.size(), LineTimeout);
    QCOMPARE(Describe(ReceivedRequests(*Sim()).mid(1, FirstCycle.size())), Describe(FirstCycle));
    QVERIFY(Sim()->Log().Entries().front().Channel.rfind("udp", 0) == 0);
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
}

void TestQuadrelLine::reconnectAfterDisconnectDuringTheFirstCycle()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    // Slow answers keep the first cycle going long enough to cut it short.
    Sim()->Faults().SetAnswerDelay(40);
    ConnectSerial();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), LineTimeout);
    QVERIFY(!fPanel.IsPolling());
    QVERIFY(Frame()->Link()->Device()->IsLocked);
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());

    // Let the stopped engine report what it still held, and the module finish the answer it was
    // working on, so no stale answer meets the next probe on the line.
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.PendingAnswers(), 0, LineTimeout);
    QVERIFY(!Frame()->Link()->Device()->IsLocked);
    QVERIFY(!fPanel.IsPolling());
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("..."));
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.FrameLog().SentCount(), fPanel.FrameLog().ReceivedCount(), LineTimeout);
    Sim()->Faults().SetAnswerDelay(0);
    fPanel.ClickConnect();
    WaitForPolling();
}

void TestQuadrelLine::largeTemplateQueuesWhileTheInterfaceRuns()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    constexpr int Extra = 30000;
    QVERIFY(Frame()->Link()->Device()->LoadFromData(BigTemplate(Extra)));
    TzQuadrelLink::AddOtherQuadrelTags(Frame()->Link()->Device());
    TzTag *lastReadable = nullptr;
    for (const auto &tag : Frame()->Link()->Device()->Tags)
        if (tag->Enabled && !tag->Force && tag->CanRead)
            lastReadable = tag.get();
    QVERIFY(lastReadable);

    // A timer of the interface thread keeps its turns while the first cycle is being queued; on
    // the second connection it disconnects in the middle of the queuing.
    int turnsWhileQueuing = 0;
    bool disconnectWhileQueuing = false;
    uint32_t uidAtDisconnect = 0;
    QTimer ticker;
    ticker.setInterval(0);
    connect(&ticker, &QTimer::timeout, [&] {
        if (!Frame()->Link()->FirstCycleQueuing())
            return;
        ++turnsWhileQueuing;
        if (disconnectWhileQueuing) {
            disconnectWhileQueuing = false;
            fPanel.ClickConnect();
            uidAtDisconnect = Frame()->Link()->Engine()->Port->IssuedUID();
        }
    });
    ticker.start();
    ConnectSerial();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected() && !Frame()->Link()->FirstCycleQueuing(), LineTimeout);
    QVERIFY2(turnsWhileQueuing > 1, "the interface waited for the whole first cycle to be queued");
    // Every tag queued, and the last readable one ends the first cycle.
    QVERIFY(lastReadable->IsLast);
    QVERIFY2(fPanel.PendingAnswers() > Extra - 1000, qPrintable(QString::number(fPanel.PendingAnswers())));
    qInfo("first cycle of %zu tags queued over %d interface turns", Frame()->Link()->Device()->Tags.size(),
          turnsWhileQueuing);

    // A disconnect while the cycle is still being queued ends the queuing for good.
    fPanel.ClickConnect();
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.PendingAnswers(), 0, LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.FrameLog().SentCount(), fPanel.FrameLog().ReceivedCount(), LineTimeout);
    disconnectWhileQueuing = true;
    fPanel.ClickConnect();
    QTRY_VERIFY_WITH_TIMEOUT(!disconnectWhileQueuing, LineTimeout);
    QVERIFY(!fPanel.IsConnected());
    QTest::qWait(200);
    QVERIFY(!Frame()->Link()->FirstCycleQueuing());
    QCOMPARE(Frame()->Link()->Engine()->Port->IssuedUID(), uidAtDisconnect);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.PendingAnswers(), 0, LineTimeout);
    QVERIFY(!lastReadable->IsLast);
}

void TestQuadrelLine::WaitForStateRead(size_t aFrom)
{
    const Request stateRead{ModuleAddress, 3, 60016, 1};
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*Sim(), aFrom).contains(stateRead), LineTimeout);
}

void TestQuadrelLine::heldPressInOneCellWritesOnce()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    const QPoint centre = CellCentre(grid, 1, 3);
    const size_t mark = ReceivedCount(*Sim());
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre);
    DragTo(grid, centre + QPoint(1, 0));
    // Still held while the module switches and the panel reads the new state back: moves after
    // that must not turn the output off again.
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(3), QStringLiteral("dout_on"), LineTimeout);
    for (const QPoint &nudge : {QPoint(2, 1), QPoint(-2, 2), QPoint(0, -1), QPoint(3, 3)})
        DragTo(grid, centre + nudge);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre + QPoint(3, 3));
    WaitForStateRead(ReceivedCount(*Sim()));
    QCOMPARE(Describe(CoilWrites(*Sim(), mark)), Describe({{ModuleAddress, 5, OutputCoil(3), 0xFF00}}));
    QCOMPARE(fPanel.OutputPicture(3), QStringLiteral("dout_on"));
}

void TestQuadrelLine::dragAcrossFiveOutputsWritesOneValue()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    // Output 2 is on already: the drag still gives it the command chosen on output 1.
    Sim()->Bus().WithModule(ModuleAddress,
                            [](TzSimModule &aModule, uint64_t aNow) { aModule.SetOutputState(2, true, aNow); });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(2), QStringLiteral("dout_on"), LineTimeout);
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    const size_t mark = ReceivedCount(*Sim());
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 1, 1));
    // Down to output 5 with several moves in every cell, then back up over the same outputs.
    for (const int row : {1, 2, 2, 3, 3, 3, 4, 5, 5, 4, 3, 2, 1})
        DragTo(grid, CellCentre(grid, 1, row) + QPoint(row % 2, 1));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 1, 1));
    QTRY_COMPARE_WITH_TIMEOUT(int(CoilWrites(*Sim(), mark).size()), 5, LineTimeout);
    WaitForStateRead(ReceivedCount(*Sim()));
    // Output commands go ahead of the queue, so their order on the line is the engine's; each
    // output once, all with the value chosen at the press.
    QList<Request> writes = CoilWrites(*Sim(), mark);
    std::sort(writes.begin(), writes.end(), [](const Request &a, const Request &b) { return a.Reg < b.Reg; });
    QList<Request> expected;
    for (int n = 1; n <= 5; ++n)
        expected << Request{ModuleAddress, 5, OutputCoil(n), 0xFF00};
    QCOMPARE(Describe(writes), Describe(expected));
    for (int n = 1; n <= 5; ++n)
        QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(n), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fPanel.OutputPicture(6), QStringLiteral("dout_off"));
}

void TestQuadrelLine::commandButtonsWaitForTheFirstCycle()
{
    // Disabled in the first frame shown, before any timer has run.
    for (QPushButton *button : CommandButtons(Frame()))
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    // Slow answers hold the panel between the probe and the end of the first cycle.
    Sim()->Faults().SetAnswerDelay(40);
    ConnectSerial();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), LineTimeout);
    QVERIFY(!fPanel.IsPolling());
    for (QPushButton *button : CommandButtons(Frame()))
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    WaitForPolling();
    for (QPushButton *button : CommandButtons(Frame()))
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
}

void TestQuadrelLine::converterLinesNameTheConverter()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    // The serial page holds other values; none of them may appear in the converter's lines.
    Frame()->AddPortOnTop(QStringLiteral("/dev/quadrel-serial-page"));
    Control<QLineEdit>("txtLineAddr")->setText(QStringLiteral("5"));
    Control<QComboBox>("cbLineFormat")->setCurrentIndex(2);
    fPanel.ChooseConverter();
    const QString endpoint = QStringLiteral("127.0.0.2:%1").arg(fPanel.UdpPort());

    // No module at 17: the failure line names the converter and the address tried.
    Control<QLineEdit>("txtLineAddrEth")->setText(QStringLiteral("17"));
    fPanel.ClickConnect();
    const QString failed =
        QStringLiteral("Неудачное подключение: [Адр:17, %1, Ethernet, MODBUS RTU 8N1]").arg(endpoint);
    QTRY_VERIFY2_WITH_TIMEOUT(Log()->Lines().contains(failed), qPrintable(fPanel.RecentLog(3)), LineTimeout);

    Control<QLineEdit>("txtLineAddrEth")->setText(QStringLiteral("16"));
    fPanel.ClickConnect();
    WaitForPolling();
    const QString success = QStringLiteral("Успешное подключение: [Адр:16, %1, Ethernet, RTU 8N1]").arg(endpoint);
    QVERIFY2(Log()->Lines().contains(success), qPrintable(fPanel.RecentLog(3)));
    QCOMPARE(Control<QLabel>("labBaudRate")->text(), QStringLiteral("Ethernet"));
    QCOMPARE(Control<QLabel>("labAddr")->text(), QStringLiteral("16"));
}

void TestQuadrelLine::silentModuleMarksValuesStale()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    Sim()->Bus().WithModule(ModuleAddress,
                            [](TzSimModule &aModule, uint64_t aNow) { aModule.SetOutputState(4, true, aNow); });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(4), QStringLiteral("dout_on"), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Control<QLabel>("labPower1")->text().endsWith(QStringLiteral(" В")), LineTimeout);
    QVERIFY(Control<QLabel>("labPower1")->isEnabled());
    QVERIFY(!fPanel.ValuesStale());

    Sim()->Faults().SetSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.ValuesStale(), LineTimeout);
    const QString voltage = Control<QLabel>("labPower1")->text();
    QVERIFY(voltage.endsWith(QStringLiteral(" В")));
    const QString since = QStringLiteral("Нет ответа от модуля с ");
    for (QLabel *label : {Control<QLabel>("labPower1"), Control<QLabel>("labAddr"), Control<QLabel>("labVerPO")}) {
        QVERIFY2(!label->isEnabled(), qPrintable(label->objectName()));
        QVERIFY(QRegularExpression("^Нет ответа от модуля с \\d\\d:\\d\\d:\\d\\d$").match(label->toolTip()).hasMatch());
    }
    // The last values stay in view, greyed: the voltage text, the output picture.
    QCOMPARE(Control<QLabel>("labPower1")->text(), voltage);
    QCOMPARE(fPanel.OutputPicture(4), QStringLiteral("dout_on"));
    QVERIFY(Control<TzRelayGrid>("SG_Relays")->IsStale());
    QCOMPARE(Control<TzRelayGrid>("SG_Relays")->item(3, 1)->data(Qt::ToolTipRole).toString(),
             Control<QLabel>("labPower1")->toolTip());
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>("labPower1")->palette().color(QPalette::WindowText),
                              QColor(128, 128, 128), LineTimeout);
    // Said once, however long the silence lasts; the connection itself stays as it was.
    const size_t mark = ReceivedCount(*Sim());
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedCount(*Sim()) >= mark + 6, LineTimeout);
    QCOMPARE(LinesStartingWith(Log()->Lines(), since), 1);
    QCOMPARE(Control<QLabel>("labPower1")->text(), voltage);
    const QStringList lines = Log()->Lines();
    const auto staleLine = std::find_if(lines.begin(), lines.end(),
                                        [&since](const QString &l) { return l.startsWith(since); });
    QVERIFY(staleLine->endsWith(QStringLiteral(": значения на экране устарели")));
    QCOMPARE(Log()->LineColor(int(staleLine - lines.begin())), LogMaroon);
    QVERIFY(fPanel.IsConnected());
    QVERIFY(fPanel.IsPolling());
    QCOMPARE(Control<QPushButton>("btnConnect")->text(), QStringLiteral("Отключиться"));

    // The next good answer restores the display.
    Sim()->Faults().SetSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(!fPanel.ValuesStale(), LineTimeout);
    QVERIFY(Control<QLabel>("labPower1")->isEnabled());
    QVERIFY(Control<QLabel>("labPower1")->toolTip().isEmpty());
    QVERIFY(!Control<TzRelayGrid>("SG_Relays")->IsStale());
    QVERIFY(Control<TzRelayGrid>("SG_Relays")->item(3, 1)->data(Qt::ToolTipRole).toString().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>("labPower1")->palette().color(QPalette::Window), QColor(166, 202, 240),
                              LineTimeout);
    QVERIFY(Log()->Lines().contains(QStringLiteral("Модуль снова отвечает")));
    QCOMPARE(LinesStartingWith(Log()->Lines(), since), 1);
}

void TestQuadrelLine::healthyDisconnectIsNotAFailure()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    QVERIFY(!Frame()->Link()->findChild<QTimer *>("ConnectBtnTimer")->isActive());
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    // Well past the one-second check: four screen refreshes.
    QSignalSpy refreshes(Control<QTimer>("InterfaceTimer"), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(refreshes.count() >= 4, LineTimeout);
    QCOMPARE(LinesStartingWith(Log()->Lines(), QStringLiteral("Неудачное подключение")), 0);
    QCOMPARE(LinesStartingWith(Log()->Lines(), QStringLiteral("Успешное подключение")), 1);
}

void TestQuadrelLine::statusReadsGoOutInWholeCycles_data()
{
    QTest::addColumn<int>("baudRate");
    // The eight reads take about 0.31 s on the line, longer than the 250 ms poll timer.
    QTest::newRow("9600: a cycle outlasts the timer") << 9600;
    QTest::newRow("115200") << 115200;
}

void TestQuadrelLine::statusReadsGoOutInWholeCycles()
{
    QFETCH(int, baudRate);
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    Sim()->Bus().WithModule(ModuleAddress,
                            [baudRate](TzSimModule &m, uint64_t) { QVERIFY(m.SetLineSettings(baudRate, 4)); });
    // Every character takes its bit times on the line.
    Sim()->Serial().SetPacing({true, 'N', 1, 500});
    Control<QComboBox>("cbLineBaudRate")->setCurrentText(QString::number(baudRate));
    ConnectSerial();
    WaitForPolling();

    // A tick that found part of a cycle still queued used to queue the reads already answered
    // again (the rest refused as duplicates), which scrambles the order on the line. Each cycle
    // now goes out whole, the next one right behind the last answer of a slow one.
    const size_t mark = ReceivedCount(*Sim());
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*Sim(), mark).size() >= 7 * PollCycle.size(), LineTimeout);
    QList<Request> reads = ReceivedRequests(*Sim(), mark);
    reads = reads.mid(reads.indexOf(PollCycle.front()));
    const qsizetype cycles = reads.size() / PollCycle.size();
    QList<Request> expected;
    for (qsizetype i = 0; i < cycles; ++i)
        expected += PollCycle;
    QVERIFY(cycles >= 6);
    QCOMPARE(Describe(reads.mid(0, expected.size())), Describe(expected));
}

void TestQuadrelLine::restartWaitActsOnlyOnItsConnection_data()
{
    // What the operator does with the connect button after "Перезагрузить", and when (ms after
    // the restart click; -1: the moment the panel has let go of the module).
    QTest::addColumn<QList<int>>("clicksAt");
    QTest::newRow("disconnects during the wait") << QList<int>{300};
    QTest::newRow("disconnects and connects again during the wait") << QList<int>{200, 400};
    QTest::newRow("clicks as the wait ends") << QList<int>{-1};
}

void TestQuadrelLine::restartWaitActsOnlyOnItsConnection()
{
    QFETCH(QList<int>, clicksAt);
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    const Request probe{ModuleAddress, 4, 36864, 1};

    // Each click does what the button says at that moment; the probes it must cause are counted.
    int probesWanted = 0;
    bool lastSaidDisconnect = false;
    size_t lastClickMark = 0;
    auto clickConnectButton = [&] {
        lastSaidDisconnect = Control<QPushButton>("btnConnect")->text() == QStringLiteral("Отключиться");
        lastClickMark = ReceivedCount(*Sim());
        probesWanted += lastSaidDisconnect ? 0 : 1;
        fPanel.ClickConnect();
        if (lastSaidDisconnect)
            QVERIFY(!fPanel.IsConnected());
    };
    for (const int at : clicksAt)
        if (at >= 0)
            QTimer::singleShot(at, Frame(), clickConnectButton);

    const size_t mark = ReceivedCount(*Sim());
    QTest::mouseClick(fPanel.Control<QPushButton>("btnReset"), Qt::LeftButton);
    if (clicksAt.contains(-1)) {
        QTRY_VERIFY_WITH_TIMEOUT(!fPanel.IsConnected(), LineTimeout);
        clickConnectButton();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!fPanel.Control<QTimer>("RestartWait_Timer")->isActive(), LineTimeout);
    QCOMPARE(ReceivedRequests(*Sim(), mark).count(Request{ModuleAddress, 6, 60000, 21930}), 1);

    if (probesWanted > 0) {
        // The connection made after the restart stays: it is polled well past the restart's wait.
        WaitForPolling();
        const size_t after = ReceivedCount(*Sim());
        QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*Sim(), after).count(Request{ModuleAddress, 3, 60016, 1}) >= 4,
                                 LineTimeout);
        QVERIFY(fPanel.IsConnected());
        QCOMPARE(LinesStartingWith(Log()->Lines(), QStringLiteral("Успешное подключение")), 2);
    } else {
        // "Отключиться" disconnects for good: no probe follows, however long one waits.
        QVERIFY(lastSaidDisconnect);
        QSignalSpy refreshes(Control<QTimer>("InterfaceTimer"), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(refreshes.count() >= 4, LineTimeout);
        QVERIFY(!fPanel.IsConnected());
        QCOMPARE(ReceivedRequests(*Sim(), lastClickMark).count(probe), 0);
        QCOMPARE(Control<QPushButton>("btnConnect")->text(), QStringLiteral("Подключиться"));
        QVERIFY(Control<QPushButton>("btnConnect")->isEnabled());
    }
    QCOMPARE(ReceivedRequests(*Sim(), mark).count(probe), probesWanted);
    QCOMPARE(LinesStartingWith(Log()->Lines(), QStringLiteral("Неудачное подключение")), 0);
}

void TestQuadrelLine::brokenTemplateRefusesToConnect()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    fPath = QString::fromStdString(Sim()->StartPty());
    QVERIFY2(!fPath.isEmpty(), Sim()->Serial().LastError().c_str());

    QStringList notices;
    auto closeNotice = [&notices] {
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()), 10000);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        notices << box->text();
        box->accept();
    };
    QuadrelTemplateResource = QStringLiteral("BROKEN_TEMPLATE");
    QTimer::singleShot(0, this, closeNotice);
    auto frame = std::make_unique<TfrQuadrel>();
    QuadrelTemplateResource = QStringLiteral("XMLDATA");
    QVERIFY(!frame->TemplateLoaded());
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices[0].startsWith(QStringLiteral("Ошибка загрузки таблицы регистров")));

    frame->AddPortOnTop(fPath);
    frame->show();
    QTimer::singleShot(0, this, closeNotice);
    QTest::mouseClick(frame->findChild<QPushButton *>("btnConnect"), Qt::LeftButton);
    const QString refusal = QStringLiteral("Подключение невозможно: таблица регистров не загружена");
    QCOMPARE(notices.value(1), refusal);
    QCOMPARE(Log()->Lines().front(), refusal);
    QVERIFY(!frame->Link()->Engine());
    QVERIFY(!TestPanelState::IsConnected(*frame));
    QVERIFY(frame->findChild<QPushButton *>("btnConnect")->isEnabled());
    QVERIFY(!frame->Link()->findChild<QTimer *>("ConnectBtnTimer")->isActive());
    QCOMPARE(ReceivedCount(*Sim()), size_t(0));
}

void TestQuadrelLine::gridFromTheKeyboard()
{
    QVERIFY(Sim()->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    Frame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Frame()));
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    grid->setFocus();
    grid->setCurrentCell(0, 1); // output 1's picture
    const size_t mark = ReceivedCount(*Sim());

    // Down twice to output 3, Space switches it.
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(grid->currentRow(), 2);
    QTest::keyClick(grid, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(CoilWrites(*Sim(), mark).contains(Request{ModuleAddress, 5, OutputCoil(3), 0xFF00}),
                             LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(3), QStringLiteral("dout_on"), LineTimeout);
    // Space again: the same rule as a click, so it switches the output back off.
    QTest::keyClick(grid, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(CoilWrites(*Sim(), mark).contains(Request{ModuleAddress, 5, OutputCoil(3), 0x0000}),
                             LineTimeout);

    // Right three times to output 13's picture; Space on the number column does nothing.
    QTest::keyClick(grid, Qt::Key_Right);
    QTest::keyClick(grid, Qt::Key_Right);
    QCOMPARE(grid->currentColumn(), 3);
    QTest::keyClick(grid, Qt::Key_Space);
    QTest::keyClick(grid, Qt::Key_Right);
    QCOMPARE(grid->currentColumn(), 4);
    QTest::keyClick(grid, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(CoilWrites(*Sim(), mark).contains(Request{ModuleAddress, 5, OutputCoil(13), 0xFF00}),
                             LineTimeout);
    // Read back first: until then the engine still holds that write and would refuse a copy.
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(13), QStringLiteral("dout_on"), LineTimeout);

    // Up out of the first row into the header; Space there switches outputs 11 to 20.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(grid, Qt::Key_Up);
    TzRelayGridHeader *header = grid->Header();
    QTRY_VERIFY_WITH_TIMEOUT(header->hasFocus(), 5000);
    QCOMPARE(header->CurrentSection(), 4);
    const size_t beforeHeader = ReceivedCount(*Sim());
    QTest::keyClick(header, Qt::Key_Space);
    // Space switched outputs 11 to 20 on: every write below is "on".
    for (int n = 11; n <= 20; ++n)
        QTRY_VERIFY2_WITH_TIMEOUT(
            CoilWrites(*Sim(), beforeHeader).contains(Request{ModuleAddress, 5, OutputCoil(n), 0xFF00}),
            qPrintable(QString::number(n)), LineTimeout);
    // The number column wrote nothing.
    for (const Request &write : CoilWrites(*Sim(), mark))
        QVERIFY(write.Reg == OutputCoil(3) || write.Reg >= OutputCoil(11));
    // Down goes back into the grid, same column.
    QTest::keyClick(header, Qt::Key_Down);
    QVERIFY(grid->hasFocus());
    QCOMPARE(grid->currentRow(), 0);
    QCOMPARE(grid->currentColumn(), 4);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuadrelLine.moc"
