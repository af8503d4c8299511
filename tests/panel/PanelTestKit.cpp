#include "tests/panel/PanelTestKit.h"

#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "model/uDevice.h"
#include "model/uTag.h"
#include "panel/uOutputsModel.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "port/uModbusCRC.h"
#include "tests/TestSettings.h"
#include "tests/TestUdpPort.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

QString Describe(const QList<TestRequest> &aRequests)
{
    QStringList parts;
    for (const TestRequest &r : aRequests)
        parts << QStringLiteral("%1:%2:%3").arg(r.Function).arg(r.Reg).arg(r.Word);
    return parts.join(' ');
}

// --- frame log ------------------------------------------------------------------------------

size_t TestFrameLog::ReceivedCount() const
{
    return fSim.Log().Frames(TzSimDirection::Received).size();
}

size_t TestFrameLog::SentCount() const
{
    return fSim.Log().Frames(TzSimDirection::Sent).size();
}

std::vector<TSimBytes> TestFrameLog::ReceivedFrames(size_t aFrom) const
{
    std::vector<TSimBytes> frames = fSim.Log().Frames(TzSimDirection::Received);
    frames.erase(frames.begin(), frames.begin() + long(std::min(aFrom, frames.size())));
    return frames;
}

QList<TestTimedRequest> TestFrameLog::TimedRequests(size_t aFrom, int aAddress) const
{
    QList<TestTimedRequest> requests;
    size_t index = 0;
    for (const TzSimFrameLogEntry &entry : fSim.Log().Entries()) {
        if (entry.Direction != TzSimDirection::Received)
            continue;
        if (index++ < aFrom)
            continue;
        const TSimBytes &f = entry.Frame;
        if (f.size() != 8 || !CheckModbusCRC(f.data(), int(f.size())) || (aAddress != AnyAddress && f[0] != aAddress))
            continue;
        requests << TestTimedRequest{{f[0], f[1], (f[2] << 8) | f[3], (f[4] << 8) | f[5]}, entry.TickMs};
    }
    return requests;
}

QList<TestRequest> TestFrameLog::Requests(size_t aFrom, int aAddress) const
{
    QList<TestRequest> requests;
    for (const TestTimedRequest &timed : TimedRequests(aFrom, aAddress))
        requests << timed.Request;
    return requests;
}

QList<TestRequest> TestFrameLog::Writes(size_t aFrom, int aAddress, int aFunction) const
{
    QList<TestRequest> writes;
    for (const TestRequest &r : Requests(aFrom, aAddress))
        if ((r.Function == 5 || r.Function == 6) && (aFunction == 0 || r.Function == aFunction))
            writes << r;
    return writes;
}

std::vector<TzSimFrameLogEntry> TestFrameLog::Entries() const
{
    return fSim.Log().Entries();
}

size_t TestFrameLog::EntryCount() const
{
    return fSim.Log().Count();
}

// --- value watch ----------------------------------------------------------------------------

TestValueWatch::TestValueWatch(TzDevice &aDevice, const std::map<int, TRule> &aRules)
{
    for (const auto &[id, rule] : aRules) {
        TzTag *tag = aDevice.GetTagByID(id);
        if (!tag)
            continue;
        tag->OnResponse = [this, id, rule, previous = tag->OnResponse](TzTag *aTag) {
            if (aTag->Quality() == QualityGood && !aTag->ModbusError) {
                ++fDecoded;
                if (!rule(aTag->Value()))
                    fWrong << QStringLiteral("%1 = %2").arg(id).arg(aTag->Value());
            }
            if (previous)
                previous(aTag);
        };
    }
}

TestValueWatch::TRule TestValueWatch::ModuleHolds(TzSimulator &aSim, uint8_t aAddress, uint16_t aReg)
{
    return [&aSim, aAddress, aReg](double v) { return v == aSim.Bus().ReadRegister(aAddress, aReg).value_or(-1); };
}

// --- the frame's state ----------------------------------------------------------------------

namespace TestPanelState {

bool IsConnected(const TfrQuadrel &aFrame)
{
    return aFrame.HostConnected();
}

bool IsPolling(const TfrQuadrel &aFrame)
{
    return aFrame.Link()->Polling();
}

QString OutputPicture(const TfrQuadrel &aFrame, int aOutput)
{
    return aFrame.Outputs().Picture(aOutput);
}

int PendingAnswers(TfrQuadrel &aFrame)
{
    return aFrame.Link()->PendingAnswers();
}

bool ValuesStale(const TfrQuadrel &aFrame)
{
    return aFrame.ValuesStale();
}

} // namespace TestPanelState

// --- the panel ------------------------------------------------------------------------------

TestPanel::~TestPanel()
{
    Close();
}

void TestPanel::StartSim(bool aModule)
{
    fSim = std::make_unique<TzSimulator>();
    if (aModule)
        QVERIFY(fSim->Bus().AddModule(ModuleAddress));
}

void TestPanel::Open(const TSetup &aSetup)
{
    CreateFrame(aSetup);
    if (aSetup.Show)
        Show();
}

void TestPanel::CreateLog()
{
    if (!fLog)
        fLog = new TfrmTempLog;
}

void TestPanel::CreateFrame(const TSetup &aSetup)
{
    CreateLog();
    if (aSetup.InMainWindow) {
        fMain = new QWidget;
        fMain->resize(aSetup.Size);
    }
    fFrame = new TfrQuadrel(fMain);
    if (aSetup.Silent)
        fFrame->SetSilent(true);
    if (aSetup.Size.isValid())
        fFrame->resize(aSetup.Size);
}

QWidget *TestPanel::Window() const
{
    return fMain ? fMain : static_cast<QWidget *>(fFrame);
}

void TestPanel::Show()
{
    QWidget *window = Window();
    QVERIFY(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestPanel::DeleteFrame()
{
    delete Window();
    fMain = nullptr;
    fFrame = nullptr;
}

void TestPanel::Close()
{
    DeleteFrame();
    delete fLog;
    fLog = nullptr;
    fSim.reset();
    fPath.clear();
    fUdpPort = 0;
    // What this test saved must not change how the next one's panel starts.
    ClearTestSettings();
}

void TestPanel::ChooseSerial(const std::string &aLink)
{
    fPath = QString::fromStdString(fSim->StartPty(aLink));
    QVERIFY2(!fPath.isEmpty(), fSim->Serial().LastError().c_str());
    fFrame->AddPortOnTop(fPath);
}

void TestPanel::ChooseConverter()
{
    fUdpPort = FreeUdpPort("127.0.0.2");
    QVERIFY(fUdpPort != 0);
    QVERIFY(fSim->StartUdp("127.0.0.2", fUdpPort));
    auto *pager = Control<QTabWidget>(QStringLiteral("ConnectPager"));
    QWidget *page = Control<QWidget>(QStringLiteral("PageConnEthernet"));
    auto *address = Control<QLineEdit>(QStringLiteral("txtEthernetAddr"));
    auto *port = Control<QLineEdit>(QStringLiteral("txtEthernetPort"));
    QVERIFY(pager && page && address && port);
    pager->setCurrentWidget(page);
    address->setText(QStringLiteral("127.0.0.2"));
    port->setText(QString::number(fUdpPort));
}

void TestPanel::ClickConnect()
{
    auto *button = Control<QPushButton>(QStringLiteral("btnConnect"));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestPanel::WaitConnected()
{
    QTRY_VERIFY2_WITH_TIMEOUT(IsConnected(), qPrintable(RecentLog()), fTimeoutMs);
}

void TestPanel::WaitForPolling()
{
    WaitConnected();
    QTRY_VERIFY_WITH_TIMEOUT(IsPolling(), fTimeoutMs);
}

void TestPanel::ConnectSerial(const std::string &aLink)
{
    ChooseSerial(aLink);
    ClickConnect();
    WaitForPolling();
}

void TestPanel::ConnectConverter()
{
    ChooseConverter();
    ClickConnect();
    WaitForPolling();
}

bool TestPanel::IsConnected() const
{
    return TestPanelState::IsConnected(*fFrame);
}

bool TestPanel::IsPolling() const
{
    return TestPanelState::IsPolling(*fFrame);
}

QString TestPanel::OutputPicture(int aOutput) const
{
    return TestPanelState::OutputPicture(*fFrame, aOutput);
}

int TestPanel::PendingAnswers() const
{
    return TestPanelState::PendingAnswers(*fFrame);
}

bool TestPanel::ValuesStale() const
{
    return TestPanelState::ValuesStale(*fFrame);
}

QString TestPanel::RecentLog(int aCount) const
{
    return fLog ? fLog->Lines().mid(0, aCount).join(QStringLiteral(" | ")) : QString();
}
