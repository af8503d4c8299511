// The panel against the simulated module, over a pseudo-terminal and through the simulated
// converter: the real widgets are clicked, and what crossed the line is read from the simulator's
// frame log.

#include "app/uApplication.h"
#include "common/uGlobVar.h"
#include "diagnostics/uTempLog.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "tests/TestBigTemplate.h"
#include "tests/TestSettings.h"
#include "port/uFreePort.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"
#include "tests/TestUdpPort.h"

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

// One request as the simulator received it: function, register, count or value.
struct Request
{
    int Function = 0;
    int Reg = 0;
    int Word = 0;
    bool operator==(const Request &) const = default;
};

QString Describe(const QList<Request> &aRequests)
{
    QStringList parts;
    for (const Request &r : aRequests)
        parts << QStringLiteral("%1:%2:%3").arg(r.Function).arg(r.Reg).arg(r.Word);
    return parts.join(' ');
}

QList<Request> ReceivedRequests(TzSimulator &aSim, size_t aFrom = 0)
{
    QList<Request> requests;
    const auto frames = aSim.Log().Frames(TzSimDirection::Received);
    for (size_t i = aFrom; i < frames.size(); ++i) {
        const TSimBytes &f = frames[i];
        if (f.size() != 8 || f[0] != ModuleAddress || !CheckModbusCRC(f.data(), int(f.size())))
            continue;
        requests << Request{f[1], (f[2] << 8) | f[3], (f[4] << 8) | f[5]};
    }
    return requests;
}

size_t ReceivedCount(TzSimulator &aSim)
{
    return aSim.Log().Frames(TzSimDirection::Received).size();
}

// The readable template tags, in template order. The device-type read is the probe's own frame,
// which the engine still holds while the probe's answer is being handled, so it is refused as a
// duplicate and the cycle goes on without it.
const QList<Request> FirstCycle{{3, 28672, 1}, {3, 28673, 1}, {3, 28676, 1}, {3, 28680, 1},
                                {4, 36865, 1}, {4, 36866, 1}, {4, 36867, 1}, {4, 36868, 1}, {4, 36869, 1},
                                {4, 24582, 1}, {4, 36881, 1}, {3, 60013, 1}, {3, 60014, 1}, {3, 60015, 1},
                                {3, 60016, 1}, {3, 60017, 30}, {3, 60047, 30}};
const QList<Request> PollCycle{{4, 24582, 1}, {4, 36881, 1}, {3, 60013, 1}, {3, 60014, 1},
                               {3, 60015, 1}, {3, 60016, 1}, {3, 60017, 30}, {3, 60047, 30}};

// A UDP port number free on the address right now.

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
    return int(std::count_if(aLines.begin(), aLines.end(), [&aStart](const QString &l) { return l.startsWith(aStart); }));
}

const QList<QPushButton *> CommandButtons(TfrQuadrel *aFrame)
{
    return {aFrame->btnRS485,    aFrame->btnReset,      aFrame->btnDOUT,       aFrame->btnAllOn,  aFrame->btnAllOff,
            aFrame->btnAllOnSlow, aFrame->btnAllOffSlow, aFrame->btnSnakeOn, aFrame->btnRunner};
}

} // namespace

class TestQuadrelLine : public QObject
{
    Q_OBJECT

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

    std::unique_ptr<TzSimulator> fSim;
    TfrmTempLog *fLog = nullptr;
    TfrQuadrel *fFrame = nullptr;
    QString fPath;
};

void TestQuadrelLine::init()
{
    fSim = std::make_unique<TzSimulator>();
    fLog = new TfrmTempLog;
    fFrame = new TfrQuadrel;
    fFrame->resize(800, 750);
    fFrame->show();
    QVERIFY(QTest::qWaitForWindowExposed(fFrame));
}

void TestQuadrelLine::cleanup()
{
    delete fFrame;
    delete fLog;
    fSim.reset();
    fFrame = nullptr;
    fLog = nullptr;
    ClearTestSettings();
}

void TestQuadrelLine::timersRunOnlyWhileTheyShowSomething()
{
    // Disconnected and on screen: the arrow points at the connect button and moves.
    QVERIFY(fFrame->ArrowTimer->isActive());
    QVERIFY(fFrame->imgArrow->isVisible());
    const int left = fFrame->imgArrow->x();
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->imgArrow->x() != left, LineTimeout);
    // A waiting panel runs no sequence and asks no web service.
    QVERIFY(!fFrame->Runner_Timer->isActive());
    QVERIFY(!fFrame->PHP_Call_Timer->isActive());
    // Off the screen, hidden or minimised, there is nothing to move.
    fFrame->hide();
    QVERIFY(!fFrame->ArrowTimer->isActive());
    fFrame->show();
    QVERIFY(fFrame->ArrowTimer->isActive());
    fFrame->showMinimized();
    QVERIFY(!fFrame->ArrowTimer->isActive());
    fFrame->showNormal();
    QVERIFY(fFrame->ArrowTimer->isActive());

    // Connected: the arrow is gone and stands still.
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    QVERIFY(!fFrame->ArrowTimer->isActive());
    QVERIFY(!fFrame->imgArrow->isVisible());
    QVERIFY(!fFrame->PHP_Call_Timer->isActive());

    // The web poll runs while remote control is ticked (a test feature), the runner's timer while
    // it runs.
    TestMode = true;
    const auto testModeOff = qScopeGuard([] { TestMode = false; });
    fFrame->SetHttpBase(QStringLiteral("http://127.0.0.1:9/"));
    fFrame->chkRemoteControl->setChecked(true);
    QVERIFY(fFrame->PHP_Call_Timer->isActive());
    fFrame->chkRemoteControl->setChecked(false);
    QVERIFY(!fFrame->PHP_Call_Timer->isActive());
    fFrame->chkRemoteControl->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->btnRunner->isEnabled(), LineTimeout);
    fFrame->btnRunner->click();
    QVERIFY(fFrame->Runner_Timer->isActive());
    fFrame->btnRunner->click();
    QVERIFY(!fFrame->Runner_Timer->isActive());
    fFrame->btnRunner->click();

    // Disconnecting stops both, remote control still ticked, and the arrow moves again.
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QVERIFY(!fFrame->Connected);
    QVERIFY(!fFrame->Runner_Timer->isActive());
    QVERIFY(!fFrame->PHP_Call_Timer->isActive());
    QVERIFY(fFrame->ArrowTimer->isActive());
    QVERIFY(fFrame->imgArrow->isVisible());
    fFrame->chkRemoteControl->setChecked(false);
}

void TestQuadrelLine::ConnectSerial()
{
    fPath = QString::fromStdString(fSim->StartPty());
    QVERIFY2(!fPath.isEmpty(), fSim->Serial().LastError().c_str());
    fFrame->AddPortOnTop(fPath);
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
}

void TestQuadrelLine::WaitForPolling()
{
    QTRY_VERIFY2_WITH_TIMEOUT(fFrame->Connected, qPrintable(fLog->Lines().mid(0, 5).join(" | ")), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->OprosTimer->isActive(), LineTimeout);
}

void TestQuadrelLine::connectsOverAPseudoTerminal()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t) {
        aModule.SetFirmwareVersion(215);
        aModule.SetIdentifier(0x0102, 0x0304, 0x0506);
    });
    ConnectSerial();
    WaitForPolling();

    // The probe first, then the whole template once, then the periodic reads.
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*fSim).size() >= 1 + FirstCycle.size() + PollCycle.size(), LineTimeout);
    const QList<Request> requests = ReceivedRequests(*fSim);
    QCOMPARE(requests.front(), (Request{4, 36864, 1}));
    QCOMPARE(Describe(requests.mid(1, FirstCycle.size())), Describe(FirstCycle));
    QCOMPARE(Describe(requests.mid(1 + FirstCycle.size(), PollCycle.size())), Describe(PollCycle));

    QVERIFY(fLog->Lines().contains(QStringLiteral("Успешное подключение: [Адр:16, %1, 9600, RTU 8N1]").arg(fPath)));
    QCOMPARE(fLog->LineColor(int(fLog->Lines().indexOf(
                 QStringLiteral("Успешное подключение: [Адр:16, %1, 9600, RTU 8N1]").arg(fPath)))),
             LogGreen);
    QCOMPARE(fFrame->labAddr->text(), QStringLiteral("16"));
    QCOMPARE(fFrame->labBaudRate->text(), QStringLiteral("9600"));
    QCOMPARE(fFrame->labFormat->text(), QStringLiteral("RTU 8N1"));
    QCOMPARE(fFrame->labVerPO->text(), QStringLiteral("2.15"));
    QCOMPARE(fFrame->txtMAC->text(), QStringLiteral("01-02-03-04-05-06"));
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression("^2\\d\\.\\d\\d В$").match(fFrame->labPower1->text()).hasMatch(),
                             LineTimeout);
    QCOMPARE(fFrame->labPower1->palette().color(QPalette::Window), QColor(166, 202, 240));
    QVERIFY(fFrame->btnRS485->isEnabled());
    QCOMPARE(fFrame->btnConnect->text(), QStringLiteral("Отключиться"));

    // Disconnecting stops the traffic.
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QVERIFY(!fFrame->Connected);
    QVERIFY(!fFrame->OprosTimer->isActive());
    QCOMPARE(fFrame->labAddr->text(), QStringLiteral("..."));
    QVERIFY(fFrame->btnConnect->isEnabled());
}

void TestQuadrelLine::clickSwitchesAnOutputAheadOfPolls()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    // Let the queue fill with polls, then switch output 12 (row 2 of the right half).
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->PendingAnswers() >= 4, LineTimeout);
    const size_t mark = ReceivedCount(*fSim);
    QTest::mouseClick(fFrame->SG_Relays->viewport(), Qt::LeftButton, {}, CellCentre(fFrame->SG_Relays, 4, 2));
    QVERIFY(fFrame->DOUTs[12].IsWait);
    QCOMPARE(fFrame->RelayPicture(12), QStringLiteral("dout_wait"));

    const Request write{5, 5504, 0xFF00};
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*fSim, mark).contains(write), LineTimeout);
    // Forced: at most the exchange already on the line goes before it.
    QVERIFY2(ReceivedRequests(*fSim, mark).indexOf(write) <= 1, qPrintable(Describe(ReceivedRequests(*fSim, mark))));
    const auto frames = fSim->Log().Frames(TzSimDirection::Received);
    const TSimBytes expected{0x10, 0x05, 0x15, 0x80, 0xFF, 0x00};
    QVERIFY(std::any_of(frames.begin() + long(mark), frames.end(), [&expected](const TSimBytes &f) {
        return f.size() == 8 && std::equal(expected.begin(), expected.end(), f.begin());
    }));

    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(12), QStringLiteral("dout_on"), LineTimeout);
    bool on = false;
    fSim->Bus().WithModule(ModuleAddress, [&on](TzSimModule &aModule, uint64_t aNow) { on = aModule.OutputState(12, aNow); });
    QVERIFY(on);
}

void TestQuadrelLine::headerClickWritesTenCoils()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    const size_t mark = ReceivedCount(*fSim);
    QHeaderView *header = fFrame->SG_Relays->horizontalHeader();
    const QPoint section(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, section);
    QVERIFY(fFrame->TableRelaysA_IsOn);
    for (int n = 1; n <= 10; ++n) {
        const Request write{5, 4096 + 128 * (n - 1), 0xFF00};
        QTRY_VERIFY2_WITH_TIMEOUT(ReceivedRequests(*fSim, mark).contains(write), qPrintable(QString::number(n)),
                                  LineTimeout);
    }
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(10), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fFrame->RelayPicture(11), QStringLiteral("dout_off"));
}

void TestQuadrelLine::pulsingOutputShowsThePulsePicture()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t aNow) {
        QVERIFY(aModule.SetPwm(3, 10, 1000, 500, aNow));
    });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(3), QStringLiteral("dout_pulse"), LineTimeout);
    QCOMPARE(fFrame->DOUTs[3].ShimKoef, 500);
    QCOMPARE(fFrame->DOUTs[3].ShimPeriod, 1000);
    QCOMPARE(fFrame->RelayPicture(4), QStringLiteral("dout_off"));
    // A click shows the wait picture until the state is read back.
    QTest::mouseClick(fFrame->SG_Relays->viewport(), Qt::LeftButton, {}, CellCentre(fFrame->SG_Relays, 1, 3));
    QCOMPARE(fFrame->RelayPicture(3), QStringLiteral("dout_wait"));
}

void TestQuadrelLine::powerAlarmPaintsTheVoltage()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t) { aModule.SetPowerStatus(0x8000); });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->labPower1->palette().color(QPalette::Window), QColor(255, 0, 0), LineTimeout);
    QCOMPARE(fFrame->labPower1->palette().color(QPalette::WindowText), QColor(255, 255, 0));
}

void TestQuadrelLine::deviceOfAnotherTypeFails()
{
    QVERIFY(fSim->Bus().AddForeignDevice(ModuleAddress, 42));
    ConnectSerial();
    QVERIFY(!fFrame->btnConnect->isEnabled());
    const QString failed = QStringLiteral("Неудачное подключение: [Адр:16, %1, 9600, MODBUS RTU 8N1]");
    QTRY_VERIFY_WITH_TIMEOUT(fLog->Lines().contains(failed.arg(fPath)), LineTimeout);
    QCOMPARE(fLog->LineColor(int(fLog->Lines().indexOf(failed.arg(fPath)))), LogMaroon);
    QVERIFY(!fFrame->Connected);
    QVERIFY(fFrame->btnConnect->isEnabled());
    // Only the probe went out.
    QCOMPARE(Describe(ReceivedRequests(*fSim)), Describe({{4, 36864, 1}}));
}

void TestQuadrelLine::busyPortIsReported()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fPath = QString::fromStdString(fSim->StartPty());
    QVERIFY(!fPath.isEmpty());
    TzFreePort holder(fPath);
    QVERIFY(holder.Start());
    fFrame->AddPortOnTop(fPath);

    QString notice;
    QTimer::singleShot(0, this, [&notice] {
        // The notice is modal: read it and close it as the operator would.
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()), 10000);
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        notice = box->windowTitle() + '|' + box->text();
        box->accept();
    });
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QCOMPARE(notice, QStringLiteral("Уведомление|Выбранный СОМ-порт занят или недоступен"));
    QCOMPARE(fLog->Lines().front(), QStringLiteral("%1 занят или недоступен").arg(fPath));
    QCOMPARE(fLog->LineColor(0), LogMaroon);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->btnConnect->isEnabled(), LineTimeout);
    QVERIFY(!fFrame->Connected);
    holder.Stop();
}

void TestQuadrelLine::connectsThroughTheConverter()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    const uint16_t port = FreeUdpPort("127.0.0.2");
    QVERIFY(port != 0);
    QVERIFY(fSim->StartUdp("127.0.0.2", port));
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    fFrame->txtEthernetAddr->setText(QStringLiteral("127.0.0.2"));
    fFrame->txtEthernetPort->setText(QString::number(port));
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    WaitForPolling();
    QCOMPARE(fFrame->labBaudRate->text(), QStringLiteral("Ethernet"));
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*fSim).size() >= 1 + FirstCycle.size(), LineTimeout);
    QCOMPARE(Describe(ReceivedRequests(*fSim).mid(1, FirstCycle.size())), Describe(FirstCycle));
    QVERIFY(fSim->Log().Entries().front().Channel.rfind("udp", 0) == 0);
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QVERIFY(!fFrame->Connected);
}

void TestQuadrelLine::reconnectAfterDisconnectDuringTheFirstCycle()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    // Slow answers keep the first cycle going long enough to cut it short.
    fSim->Faults().SetAnswerDelay(40);
    ConnectSerial();
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Connected, LineTimeout);
    QVERIFY(!fFrame->OprosTimer->isActive());
    QVERIFY(fFrame->Device->IsLocked);
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QVERIFY(!fFrame->Connected);

    // Let the stopped engine report what it still held, and the module finish the answer it was
    // working on, so no stale answer meets the next probe on the line.
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->PendingAnswers(), 0, LineTimeout);
    QVERIFY(!fFrame->Device->IsLocked);
    QVERIFY(!fFrame->OprosTimer->isActive());
    QCOMPARE(fFrame->labAddr->text(), QStringLiteral("..."));
    QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Frames(TzSimDirection::Sent).size(),
                              fSim->Log().Frames(TzSimDirection::Received).size(), LineTimeout);
    fSim->Faults().SetAnswerDelay(0);
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    WaitForPolling();
}

void TestQuadrelLine::largeTemplateQueuesWhileTheInterfaceRuns()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    constexpr int Extra = 30000;
    QVERIFY(fFrame->Device->LoadFromData(BigTemplate(Extra)));
    fFrame->AddOtherQuadrelTags(fFrame->Device.get());
    TzTag *lastReadable = nullptr;
    for (const auto &tag : fFrame->Device->Tags)
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
        if (!fFrame->FirstCycleQueuing())
            return;
        ++turnsWhileQueuing;
        if (disconnectWhileQueuing) {
            disconnectWhileQueuing = false;
            QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
            uidAtDisconnect = fFrame->FreePort->Port->IssuedUID();
        }
    });
    ticker.start();
    ConnectSerial();
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Connected && !fFrame->FirstCycleQueuing(), LineTimeout);
    QVERIFY2(turnsWhileQueuing > 1, "the interface waited for the whole first cycle to be queued");
    // Every tag queued, and the last readable one ends the first cycle.
    QVERIFY(lastReadable->IsLast);
    QVERIFY2(fFrame->PendingAnswers() > Extra - 1000, qPrintable(QString::number(fFrame->PendingAnswers())));
    qInfo("first cycle of %zu tags queued over %d interface turns", fFrame->Device->Tags.size(), turnsWhileQueuing);

    // A disconnect while the cycle is still being queued ends the queuing for good.
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->PendingAnswers(), 0, LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Frames(TzSimDirection::Sent).size(),
                              fSim->Log().Frames(TzSimDirection::Received).size(), LineTimeout);
    disconnectWhileQueuing = true;
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!disconnectWhileQueuing, LineTimeout);
    QVERIFY(!fFrame->Connected);
    QTest::qWait(200);
    QVERIFY(!fFrame->FirstCycleQueuing());
    QCOMPARE(fFrame->FreePort->Port->IssuedUID(), uidAtDisconnect);
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->PendingAnswers(), 0, LineTimeout);
    QVERIFY(!lastReadable->IsLast);
}

void TestQuadrelLine::WaitForStateRead(size_t aFrom)
{
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*fSim, aFrom).contains(Request{3, 60016, 1}), LineTimeout);
}

void TestQuadrelLine::heldPressInOneCellWritesOnce()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    TzRelayGrid *grid = fFrame->SG_Relays;
    const QPoint centre = CellCentre(grid, 1, 3);
    const size_t mark = ReceivedCount(*fSim);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre);
    DragTo(grid, centre + QPoint(1, 0));
    // Still held while the module switches and the panel reads the new state back: moves after
    // that must not turn the output off again.
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(3), QStringLiteral("dout_on"), LineTimeout);
    for (const QPoint &nudge : {QPoint(2, 1), QPoint(-2, 2), QPoint(0, -1), QPoint(3, 3)})
        DragTo(grid, centre + nudge);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre + QPoint(3, 3));
    WaitForStateRead(ReceivedCount(*fSim));
    QCOMPARE(Describe(CoilWrites(*fSim, mark)), Describe({{5, OutputCoil(3), 0xFF00}}));
    QCOMPARE(fFrame->RelayPicture(3), QStringLiteral("dout_on"));
}

void TestQuadrelLine::dragAcrossFiveOutputsWritesOneValue()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    // Output 2 is on already: the drag still gives it the command chosen on output 1.
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t aNow) { aModule.SetOutputState(2, true, aNow); });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(2), QStringLiteral("dout_on"), LineTimeout);
    TzRelayGrid *grid = fFrame->SG_Relays;
    const size_t mark = ReceivedCount(*fSim);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 1, 1));
    // Down to output 5 with several moves in every cell, then back up over the same outputs.
    for (const int row : {1, 2, 2, 3, 3, 3, 4, 5, 5, 4, 3, 2, 1})
        DragTo(grid, CellCentre(grid, 1, row) + QPoint(row % 2, 1));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 1, 1));
    QTRY_COMPARE_WITH_TIMEOUT(int(CoilWrites(*fSim, mark).size()), 5, LineTimeout);
    WaitForStateRead(ReceivedCount(*fSim));
    // Output commands go ahead of the queue, so their order on the line is the engine's; each
    // output once, all with the value chosen at the press.
    QList<Request> writes = CoilWrites(*fSim, mark);
    std::sort(writes.begin(), writes.end(), [](const Request &a, const Request &b) { return a.Reg < b.Reg; });
    QList<Request> expected;
    for (int n = 1; n <= 5; ++n)
        expected << Request{5, OutputCoil(n), 0xFF00};
    QCOMPARE(Describe(writes), Describe(expected));
    for (int n = 1; n <= 5; ++n)
        QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(n), QStringLiteral("dout_on"), LineTimeout);
    QCOMPARE(fFrame->RelayPicture(6), QStringLiteral("dout_off"));
}

void TestQuadrelLine::commandButtonsWaitForTheFirstCycle()
{
    // Disabled in the first frame shown, before any timer has run.
    for (QPushButton *button : CommandButtons(fFrame))
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    // Slow answers hold the panel between the probe and the end of the first cycle.
    fSim->Faults().SetAnswerDelay(40);
    ConnectSerial();
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Connected, LineTimeout);
    QVERIFY(!fFrame->OprosTimer->isActive());
    for (QPushButton *button : CommandButtons(fFrame))
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    WaitForPolling();
    for (QPushButton *button : CommandButtons(fFrame))
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
}

void TestQuadrelLine::converterLinesNameTheConverter()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    const uint16_t port = FreeUdpPort("127.0.0.2");
    QVERIFY(port != 0);
    QVERIFY(fSim->StartUdp("127.0.0.2", port));
    // The serial page holds other values; none of them may appear in the converter's lines.
    fFrame->AddPortOnTop(QStringLiteral("/dev/quadrel-serial-page"));
    fFrame->txtLineAddr->setText(QStringLiteral("5"));
    fFrame->cbLineFormat->setCurrentIndex(2);
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    fFrame->txtEthernetAddr->setText(QStringLiteral("127.0.0.2"));
    fFrame->txtEthernetPort->setText(QString::number(port));
    const QString endpoint = QStringLiteral("127.0.0.2:%1").arg(port);

    // No module at 17: the failure line names the converter and the address tried.
    fFrame->txtLineAddrEth->setText(QStringLiteral("17"));
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    const QString failed = QStringLiteral("Неудачное подключение: [Адр:17, %1, Ethernet, MODBUS RTU 8N1]").arg(endpoint);
    QTRY_VERIFY2_WITH_TIMEOUT(fLog->Lines().contains(failed), qPrintable(fLog->Lines().mid(0, 3).join(" | ")),
                              LineTimeout);

    fFrame->txtLineAddrEth->setText(QStringLiteral("16"));
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    WaitForPolling();
    const QString success = QStringLiteral("Успешное подключение: [Адр:16, %1, Ethernet, RTU 8N1]").arg(endpoint);
    QVERIFY2(fLog->Lines().contains(success), qPrintable(fLog->Lines().mid(0, 3).join(" | ")));
    QCOMPARE(fFrame->labBaudRate->text(), QStringLiteral("Ethernet"));
    QCOMPARE(fFrame->labAddr->text(), QStringLiteral("16"));
}

void TestQuadrelLine::silentModuleMarksValuesStale()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fSim->Bus().WithModule(ModuleAddress, [](TzSimModule &aModule, uint64_t aNow) { aModule.SetOutputState(4, true, aNow); });
    ConnectSerial();
    WaitForPolling();
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(4), QStringLiteral("dout_on"), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->labPower1->text().endsWith(QStringLiteral(" В")), LineTimeout);
    QVERIFY(fFrame->labPower1->isEnabled());
    QVERIFY(!fFrame->ValuesStale());

    fSim->Faults().SetSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->ValuesStale(), LineTimeout);
    const QString voltage = fFrame->labPower1->text();
    QVERIFY(voltage.endsWith(QStringLiteral(" В")));
    const QString since = QStringLiteral("Нет ответа от модуля с ");
    for (QLabel *label : {fFrame->labPower1, fFrame->labAddr, fFrame->labVerPO}) {
        QVERIFY2(!label->isEnabled(), qPrintable(label->objectName()));
        QVERIFY(QRegularExpression("^Нет ответа от модуля с \\d\\d:\\d\\d:\\d\\d$").match(label->toolTip()).hasMatch());
    }
    // The last values stay in view, greyed: the voltage text, the output picture.
    QCOMPARE(fFrame->labPower1->text(), voltage);
    QCOMPARE(fFrame->RelayPicture(4), QStringLiteral("dout_on"));
    QVERIFY(fFrame->SG_Relays->IsStale());
    QCOMPARE(fFrame->SG_Relays->item(3, 1)->data(Qt::ToolTipRole).toString(), fFrame->labPower1->toolTip());
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->labPower1->palette().color(QPalette::WindowText), QColor(128, 128, 128),
                              LineTimeout);
    // Said once, however long the silence lasts; the connection itself stays as it was.
    const size_t mark = ReceivedCount(*fSim);
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedCount(*fSim) >= mark + 6, LineTimeout);
    QCOMPARE(LinesStartingWith(fLog->Lines(), since), 1);
    QCOMPARE(fFrame->labPower1->text(), voltage);
    const QStringList lines = fLog->Lines();
    const auto staleLine = std::find_if(lines.begin(), lines.end(), [&since](const QString &l) { return l.startsWith(since); });
    QVERIFY(staleLine->endsWith(QStringLiteral(": значения на экране устарели")));
    QCOMPARE(fLog->LineColor(int(staleLine - lines.begin())), LogMaroon);
    QVERIFY(fFrame->Connected);
    QVERIFY(fFrame->OprosTimer->isActive());
    QCOMPARE(fFrame->btnConnect->text(), QStringLiteral("Отключиться"));

    // The next good answer restores the display.
    fSim->Faults().SetSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(!fFrame->ValuesStale(), LineTimeout);
    QVERIFY(fFrame->labPower1->isEnabled());
    QVERIFY(fFrame->labPower1->toolTip().isEmpty());
    QVERIFY(!fFrame->SG_Relays->IsStale());
    QVERIFY(fFrame->SG_Relays->item(3, 1)->data(Qt::ToolTipRole).toString().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->labPower1->palette().color(QPalette::Window), QColor(166, 202, 240), LineTimeout);
    QVERIFY(fLog->Lines().contains(QStringLiteral("Модуль снова отвечает")));
    QCOMPARE(LinesStartingWith(fLog->Lines(), since), 1);
}

void TestQuadrelLine::healthyDisconnectIsNotAFailure()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    QVERIFY(!fFrame->ConnectBtnTimer->isActive());
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QVERIFY(!fFrame->Connected);
    // Well past the one-second check: four screen refreshes.
    QSignalSpy refreshes(fFrame->InterfaceTimer, &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(refreshes.count() >= 4, LineTimeout);
    QCOMPARE(LinesStartingWith(fLog->Lines(), QStringLiteral("Неудачное подключение")), 0);
    QCOMPARE(LinesStartingWith(fLog->Lines(), QStringLiteral("Успешное подключение")), 1);
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
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fSim->Bus().WithModule(ModuleAddress, [baudRate](TzSimModule &m, uint64_t) { QVERIFY(m.SetLineSettings(baudRate, 4)); });
    // Every character takes its bit times on the line.
    fSim->Serial().SetPacing({true, 'N', 1, 500});
    fFrame->cbLineBaudRate->setCurrentText(QString::number(baudRate));
    ConnectSerial();
    WaitForPolling();

    // A tick that found part of a cycle still queued used to queue the reads already answered
    // again (the rest refused as duplicates), which scrambles the order on the line. Each cycle
    // now goes out whole, the next one right behind the last answer of a slow one.
    const size_t mark = ReceivedCount(*fSim);
    QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*fSim, mark).size() >= 7 * PollCycle.size(), LineTimeout);
    QList<Request> reads = ReceivedRequests(*fSim, mark);
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
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    const Request probe{4, 36864, 1};

    // Each click does what the button says at that moment; the probes it must cause are counted.
    int probesWanted = 0;
    bool lastSaidDisconnect = false;
    size_t lastClickMark = 0;
    auto clickConnectButton = [&] {
        lastSaidDisconnect = fFrame->btnConnect->text() == QStringLiteral("Отключиться");
        lastClickMark = ReceivedCount(*fSim);
        probesWanted += lastSaidDisconnect ? 0 : 1;
        QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
        if (lastSaidDisconnect)
            QVERIFY(!fFrame->Connected);
    };
    for (const int at : clicksAt)
        if (at >= 0)
            QTimer::singleShot(at, fFrame, clickConnectButton);

    const size_t mark = ReceivedCount(*fSim);
    QTest::mouseClick(fFrame->btnReset, Qt::LeftButton);
    if (clicksAt.contains(-1)) {
        QTRY_VERIFY_WITH_TIMEOUT(!fFrame->Connected, LineTimeout);
        clickConnectButton();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!fFrame->RestartWait_Timer->isActive(), LineTimeout);
    QCOMPARE(ReceivedRequests(*fSim, mark).count(Request{6, 60000, 21930}), 1);

    if (probesWanted > 0) {
        // The connection made after the restart stays: it is polled well past the restart's wait.
        WaitForPolling();
        const size_t after = ReceivedCount(*fSim);
        QTRY_VERIFY_WITH_TIMEOUT(ReceivedRequests(*fSim, after).count(Request{3, 60016, 1}) >= 4, LineTimeout);
        QVERIFY(fFrame->Connected);
        QCOMPARE(LinesStartingWith(fLog->Lines(), QStringLiteral("Успешное подключение")), 2);
    } else {
        // "Отключиться" disconnects for good: no probe follows, however long one waits.
        QVERIFY(lastSaidDisconnect);
        QSignalSpy refreshes(fFrame->InterfaceTimer, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(refreshes.count() >= 4, LineTimeout);
        QVERIFY(!fFrame->Connected);
        QCOMPARE(ReceivedRequests(*fSim, lastClickMark).count(probe), 0);
        QCOMPARE(fFrame->btnConnect->text(), QStringLiteral("Подключиться"));
        QVERIFY(fFrame->btnConnect->isEnabled());
    }
    QCOMPARE(ReceivedRequests(*fSim, mark).count(probe), probesWanted);
    QCOMPARE(LinesStartingWith(fLog->Lines(), QStringLiteral("Неудачное подключение")), 0);
}

void TestQuadrelLine::brokenTemplateRefusesToConnect()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    fPath = QString::fromStdString(fSim->StartPty());
    QVERIFY(!fPath.isEmpty());

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
    QTest::mouseClick(frame->btnConnect, Qt::LeftButton);
    const QString refusal = QStringLiteral("Подключение невозможно: таблица регистров не загружена");
    QCOMPARE(notices.value(1), refusal);
    QCOMPARE(fLog->Lines().front(), refusal);
    QVERIFY(!frame->FreePort);
    QVERIFY(!frame->Connected);
    QVERIFY(frame->btnConnect->isEnabled());
    QVERIFY(!frame->ConnectBtnTimer->isActive());
    QCOMPARE(ReceivedCount(*fSim), size_t(0));
}

void TestQuadrelLine::gridFromTheKeyboard()
{
    QVERIFY(fSim->Bus().AddModule(ModuleAddress));
    ConnectSerial();
    WaitForPolling();
    fFrame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(fFrame));
    TzRelayGrid *grid = fFrame->SG_Relays;
    grid->setFocus();
    grid->setCurrentCell(0, 1); // output 1's picture
    const size_t mark = ReceivedCount(*fSim);

    // Down twice to output 3, Space switches it.
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(grid->currentRow(), 2);
    QTest::keyClick(grid, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(CoilWrites(*fSim, mark).contains(Request{5, OutputCoil(3), 0xFF00}), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(3), QStringLiteral("dout_on"), LineTimeout);
    // Space again: the same rule as a click, so it switches the output back off.
    QTest::keyClick(grid, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(CoilWrites(*fSim, mark).contains(Request{5, OutputCoil(3), 0x0000}), LineTimeout);

    // Right three times to output 13's picture; Space on the number column does nothing.
    QTest::keyClick(grid, Qt::Key_Right);
    QTest::keyClick(grid, Qt::Key_Right);
    QCOMPARE(grid->currentColumn(), 3);
    QTest::keyClick(grid, Qt::Key_Space);
    QTest::keyClick(grid, Qt::Key_Right);
    QCOMPARE(grid->currentColumn(), 4);
    QTest::keyClick(grid, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(CoilWrites(*fSim, mark).contains(Request{5, OutputCoil(13), 0xFF00}), LineTimeout);
    // Read back first: until then the engine still holds that write and would refuse a copy.
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->RelayPicture(13), QStringLiteral("dout_on"), LineTimeout);

    // Up out of the first row into the header; Space there switches outputs 11 to 20.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(grid, Qt::Key_Up);
    TzRelayGridHeader *header = grid->Header();
    QTRY_VERIFY_WITH_TIMEOUT(header->hasFocus(), 5000);
    QCOMPARE(header->CurrentSection(), 4);
    const size_t beforeHeader = ReceivedCount(*fSim);
    QTest::keyClick(header, Qt::Key_Space);
    QVERIFY(fFrame->TableRelaysB_IsOn);
    for (int n = 11; n <= 20; ++n)
        QTRY_VERIFY2_WITH_TIMEOUT(CoilWrites(*fSim, beforeHeader).contains(Request{5, OutputCoil(n), 0xFF00}),
                                  qPrintable(QString::number(n)), LineTimeout);
    // The number column wrote nothing.
    for (const Request &write : CoilWrites(*fSim, mark))
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
