// The panel's side of the connection: the connection page, the attempt and what the screen shows
// of the link's probe, first cycle and stale values, and the screen refresh.

#include "panel/uQuadrel.h"

#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uPortObserver.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"
#include "panel/uBlinker.h"
#include "panel/uDeviceSettingsPanel.h"
#include "panel/uFieldCheck.h"
#include "panel/uOutputsModel.h"
#include "panel/uPanelOptions.h"
#include "panel/uPictureLabel.h"
#include "panel/uPulseWidthPanel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSearchPanel.h"
#include "panel/uSequencePanel.h"
#include "panel/uWebBridgePanel.h"
#include "port/uFreePort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

namespace {

void SetLabelColours(QLabel *aLabel, const QColor &aBackground, const QColor &aText)
{
    QPalette palette = aLabel->palette();
    palette.setColor(QPalette::Window, aBackground);
    palette.setColor(QPalette::WindowText, aText);
    aLabel->setAutoFillBackground(true);
    aLabel->setPalette(palette);
}

} // namespace

bool TfrQuadrel::IsEthernetPage() const
{
    return ConnectPager->currentWidget() == PageConnEthernet;
}

TzConnectionPage TfrQuadrel::ConnectionPage() const
{
    TzConnectionPage page;
    page.Panel = panComPort;
    page.Pager = ConnectPager;
    page.SerialPage = PageConnCOM;
    page.EthernetPage = PageConnEthernet;
    page.Port = cbComPort;
    page.Speed = cbLineBaudRate;
    page.Format = cbLineFormat;
    page.Address = txtLineAddr;
    page.Timeout = txtLineTimeout;
    page.Find = imgFindDevice;
    page.Host = txtEthernetAddr;
    page.UdpPort = txtEthernetPort;
    page.Wait = txtEthernetTimeout;
    page.FormatEth = cbLineFormatEth;
    page.AddressEth = txtLineAddrEth;
    page.FindEth = imgFindDeviceEth;
    return page;
}

void TfrQuadrel::cbComPortChange()
{
    int number = 0;
    if (ExtractDigitsToInt(cbComPort->currentText(), number))
        ComPort = number;
    BaudRate = cbLineBaudRate->currentText().toInt();
    SaveOptions();
}

void TfrQuadrel::SaveOptions()
{
    if (!InitMode)
        fOptions->Save(ComPort);
}

void TfrQuadrel::ConnectPagerChange()
{
    fSearch->HideResults();
    SaveOptions();
}

void TfrQuadrel::btnConnectClick()
{
    if (Connected)
        Disconnect();
    else
        DoConnect();
    fSearch->ShowResultsIfAny();
}

void TfrQuadrel::DoConnect()
{
    if (!TemplateLoaded()) {
        // Without the register template the first poll cycle would never complete: the panel would
        // look connected and show nothing.
        const QString refusal = QStringLiteral("Подключение невозможно: таблица регистров не загружена");
        MessageBoxNew(this, refusal, QStringLiteral("Уведомление"), 0x30);
        TempLogAdd(refusal, LogMaroon);
        return;
    }
    int address = 0;
    TzLinkSettings settings;
    if (!IsEthernetPage()) {
        int timeout = 0;
        if (!CheckBlinkEditInt(txtLineAddr, address, 1, 247))
            return;
        if (!CheckBlinkEditInt(txtLineTimeout, timeout, NoLimit, NoLimit))
            return;
        if (!CheckTimeout(timeout, BaudRate)) {
            txtLineTimeout->setText(QString::number(GetTimeout(BaudRate)));
            BlinkEdit(txtLineTimeout);
        }
    } else {
        int port = 0, wait = 0;
        if (!IsValidIPv4(txtEthernetAddr->text())) {
            BlinkEdit(txtEthernetAddr);
            return;
        }
        if (!CheckBlinkEditInt(txtLineAddrEth, address, 1, 247) || !CheckBlinkEditInt(txtEthernetPort, port, 1, 65535)
            || !CheckBlinkEditInt(txtEthernetTimeout, wait, 50, 10000))
            return;
        settings.Host = txtEthernetAddr->text();
        settings.UdpPort = port;
        settings.WaitMs = wait;
    }
    settings.ByEthernet = IsEthernetPage();
    settings.PortName = cbComPort->currentText();
    settings.ComPort = ComPort;
    settings.BaudRate = BaudRate;
    settings.FormatItem = cbLineFormat->currentIndex();
    settings.Address = address;

    RememberAttempt(settings);
    btnConnect->setEnabled(false);
    imgFindDevice->hide();
    imgFindDeviceEth->hide();
    Anima(true);

    DevAddr = address;
    // The link takes the converter's address and wait over as the program's current ones.
    if (fLink->Connect(settings)) {
        ForgetOutputStates();
    } else {
        MessageBoxNew(this, QStringLiteral("Выбранный СОМ-порт занят или недоступен"), QStringLiteral("Уведомление"),
                      0x30);
        TempLogAdd(fAttemptEndpoint + QStringLiteral(" занят или недоступен"), LogMaroon);
    }
}

void TfrQuadrel::RememberAttempt(const TzLinkSettings &aSettings)
{
    fAttemptAddress = aSettings.Address;
    if (aSettings.ByEthernet) {
        fAttemptEndpoint = QStringLiteral("%1:%2").arg(aSettings.Host).arg(aSettings.UdpPort);
        fAttemptSpeed = QStringLiteral("Ethernet");
        fAttemptFormatItem = cbLineFormatEth->currentIndex();
        fAttemptFormatText = cbLineFormatEth->currentText();
    } else {
        fAttemptEndpoint = PortCaption();
        fAttemptSpeed = cbLineBaudRate->currentText();
        fAttemptFormatItem = cbLineFormat->currentIndex();
        fAttemptFormatText = cbLineFormat->currentText();
    }
}

void TfrQuadrel::Disconnect()
{
    if (fSearch)
        fSearch->StopScan();
    StopSequences();
    fLink->Disconnect();
    SetConnected(false);
    MarkStale(false);
    Anima(false);
    ButtonsEnabled(false);
    ClearLabels(QStringLiteral("..."));
    btnConnect->setEnabled(true);
    imgFindDevice->show();
    imgFindDeviceEth->show();
}

void TfrQuadrel::ConnectLink()
{
    connect(fLink.get(), &TzQuadrelLink::ProbeAnswered, this, &TfrQuadrel::ProbeAnswered);
    connect(fLink.get(), &TzQuadrelLink::ConnectFailed, this, &TfrQuadrel::ConnectFailed);
    connect(fLink.get(), &TzQuadrelLink::FirstCycleDone, this, &TfrQuadrel::AfterFirstUpdate);
    // The outputs take their states as soon as they are read, their pulse-width blocks and safe
    // states; the grid shows them from there.
    fOutputs->Follow(fLink.get());
    connect(fLink.get(), &TzQuadrelLink::StaleChanged, this, [this](bool aStale) { MarkStale(aStale); });
    connect(fLink.get(), &TzQuadrelLink::RequestQueued, this,
            [](const TzPortObsRec &aRecord) { ObserversAddRequest(aRecord); });
    connect(fLink.get(), &TzQuadrelLink::AnswerHandled, this,
            [](const TzPortObsRec &aRecord) { ObserversAddAnswer(aRecord); });
    connect(fLink.get(), &TzQuadrelLink::LogLine, this, [](const QString &aText, TzLinkLogKind aKind) {
        TempLogAdd(aText, aKind == TzLinkLogKind::Failure ? LogMaroon : LogNavy);
    });
    connect(fLink.get(), &TzQuadrelLink::ExceptionCounted, this,
            [](int aCode, int aCount) { TempLogErrorCount(aCode, aCount); });
}

void TfrQuadrel::ProbeAnswered(bool aIsQuadrel)
{
    SetConnected(aIsQuadrel);
    if (Connected) {
        Anima(false);
        CloseAllPanel();
        labAddr->setText(QString::number(fAttemptAddress));
        labBaudRate->setText(fAttemptSpeed);
        labFormat->setText(LineFormatLabel(fAttemptFormatItem));
        TempLogAdd(QStringLiteral("Успешное подключение: [Адр:%1, %2, %3, %4]")
                       .arg(labAddr->text(), fAttemptEndpoint, labBaudRate->text(), labFormat->text()),
                   LogGreen);
    }
    imgFindDevice->hide();
    imgFindDeviceEth->hide();
}

void TfrQuadrel::ConnectFailed()
{
    btnConnect->setEnabled(true);
    Anima(false);
    imgFindDevice->show();
    imgFindDeviceEth->show();
    TempLogAdd(QStringLiteral("Неудачное подключение: [Адр:%1, %2, %3, %4]")
                   .arg(QString::number(fAttemptAddress), fAttemptEndpoint, fAttemptSpeed, fAttemptFormatText),
               LogMaroon);
}

void TfrQuadrel::AfterFirstUpdate()
{
    // The answers of a first cycle cut short by a disconnect still arrive, as failures; they must
    // not fill the labels of an idle panel.
    if (!Connected)
        return;
    using namespace QuadrelMap;
    int value = 0;
    if (TryValueByID(RegFirmware, value))
        labVerPO->setText(FirmwareVersionText(value));
    if (TryValueByID(RegAddress, value))
        labAddr->setText(QString::number(value));
    if (TryValueByID(RegSpeed, value)) {
        const QString speed = BaudRateCodeText(value);
        if (!speed.isEmpty())
            labBaudRate->setText(speed);
        if (fLink->ByEthernet())
            labBaudRate->setText(QStringLiteral("Ethernet"));
    }
    if (TryValueByID(RegFormat, value)) {
        const QString format = FormatCodeText(value);
        if (!format.isEmpty())
            labFormat->setText(format);
    }
    fPulseWidth->Select(1);
    ButtonsEnabled(Connected);
}

void TfrQuadrel::InterfaceTimerTimer()
{
    imgHat->setVisible(IsNewYearSeason());
    if (DoItOnceOnStart) {
        QFrame *sequences = fSequences->Panel();
        sequences->move(width() - sequences->width() - 12, height() - sequences->height() - 12);
        DoItOnceOnStart = false;
    }
    for (QWidget *test : std::initializer_list<QWidget *>{fSequences->Panel(), cbStyles})
        test->setVisible(TestMode);
    fWebBridge->FollowTestMode();

    if (Connected) {
        btnPortObserver->show();
        btnConnect->setText(QStringLiteral("Отключиться"));
        fLink->CheckStale();
        double millivolts = 0;
        if (TryValueByID(QuadrelMap::RegSupplyMillivolts, millivolts))
            labPower1->setText(VoltageText(millivolts));
        int status = 0;
        if (fValuesStale) {
            SetLabelColours(labPower1, QColor(212, 208, 200), QColor(128, 128, 128));
        } else if (TryValueByID(QuadrelMap::RegPowerStatus, status)) {
            if (IsPowerAlarm(status))
                SetLabelColours(labPower1, QColor(255, 0, 0), QColor(255, 255, 0));
            else
                SetLabelColours(labPower1, QColor(166, 202, 240), QColor(0, 0, 128));
        }
        fOutputs->TakeReadStates();
        labTest->setText(QString::number(fLink->PendingAnswers()));
    } else {
        ButtonsEnabled(false);
        btnPortObserver->hide();
        btnConnect->setText(QStringLiteral("Подключиться"));
    }
}

void TfrQuadrel::ButtonsEnabled(bool aEnabled)
{
    for (QPushButton *button : {btnRS485, fDeviceSettings->ResetButton(), btnDOUT})
        button->setEnabled(aEnabled);
    fSequences->SetEnabled(aEnabled);
}

void TfrQuadrel::TakeDeviceSettings(int aAddress, int aSpeedCode, int aFormatItem)
{
    // The next connection goes out with the module's new settings, over either page.
    txtLineAddr->setText(QString::number(aAddress));
    cbLineBaudRate->setCurrentIndex(aSpeedCode);
    cbLineFormat->setCurrentIndex(aFormatItem);
    txtLineAddrEth->setText(QString::number(aAddress));
    cbLineFormatEth->setCurrentIndex(aFormatItem);
    cbComPortChange();
}

void TfrQuadrel::LetGoAfterRestart()
{
    SetConnected(false);
    // Writes queued during the wait would otherwise wait for the next connection.
    StopSequences();
    // The module is restarting under new settings: the link lets go of it here, since the
    // connection check no longer runs once a connection has been confirmed.
    fLink->Disconnect();
    Anima(false);
    CloseAllPanel();
    ButtonsEnabled(false);
    ClearLabels(QStringLiteral("..."));
    for (int n = 1; n <= 20; ++n) {
        fOutputs->SetFill(n, 0);
        SetDOUT(n, false);
    }
}

void TfrQuadrel::ClearLabels(const QString &ClearText)
{
    for (QLabel *label : {labAddr, labBaudRate, labFormat, labDate, labTime, labVerPO, labPower1, labTest})
        label->setText(ClearText);
}

void TfrQuadrel::PopupPanel(QWidget *aTarget, QWidget *aPanel, TzPanelAlign aPosition)
{
    if (!aTarget || !aPanel)
        return;
    if (aPanel->parentWidget() != this)
        aPanel->setParent(this);
    if (CurrPanel && CurrPanel != aPanel)
        CurrPanel->hide();
    CurrPanel = aPanel;
    const QRect target(aTarget->mapTo(this, QPoint(0, 0)), aTarget->size());
    switch (aPosition) {
    case alTop: aPanel->move(target.left(), target.top() - aPanel->height()); break;
    case alBottom: aPanel->move(target.left(), target.bottom() + 1); break;
    case alLeft: aPanel->move(target.left() - aPanel->width(), target.top()); break;
    case alRight: aPanel->move(target.right() + 1, target.top()); break;
    default: break;
    }
    aPanel->setVisible(!aPanel->isVisible());
    aPanel->raise();
}

void TfrQuadrel::CloseAllPanel()
{
    if (CurrPanel)
        CurrPanel->hide();
    if (!panComPort->isVisible())
        fSearch->HideResults();
    if (!fPulseWidth->Panel()->isVisible())
        fPulseWidth->Calculator()->hide();
    if (fWebBridge)
        fWebBridge->ProxyPanel()->hide();
    const bool wasSyncing = fSyncingPanelButtons;
    fSyncingPanelButtons = true;
    for (QPushButton *button : {btnComPort, btnRS485, btnDOUT, btnAutorun})
        button->setChecked(false);
    fSyncingPanelButtons = wasSyncing;
}

QString TfrQuadrel::StaleHint() const
{
    return fLink->StaleHint();
}

void TfrQuadrel::MarkStale(bool aStale)
{
    if (aStale == fValuesStale)
        return;
    fValuesStale = aStale;
    const QString hint = aStale ? StaleHint() : QString();
    // The values stay in place, greyed, so the operator still sees the last known state.
    for (QLabel *label : {labAddr, labBaudRate, labFormat, labVerPO, labPower1}) {
        label->setEnabled(!aStale);
        label->setToolTip(hint);
    }
    SG_Relays->SetStale(aStale, hint);
    if (aStale)
        TempLogAdd(hint + QStringLiteral(": значения на экране устарели"), LogMaroon);
    else if (fLink->IsConnected())
        TempLogAdd(QStringLiteral("Модуль снова отвечает"), LogNavy);
}

void TfrQuadrel::Anima(bool aEnabled)
{
    btnConnect->setEnabled(!aEnabled);
    labAni->clear();
    labAni->setVisible(aEnabled);
    if (aEnabled) {
        AniTimer->start();
    } else {
        AniTimer->stop();
        AniSlide = 0;
        AniDirect = 1;
    }
}

void TfrQuadrel::AniTimerTimer()
{
    AniSlide += AniDirect;
    if (AniSlide < 0 || AniSlide > 8)
        AniDirect = -AniDirect;
    labAni->setText(QString(std::max(0, AniSlide + 1), u'.'));
}

void TfrQuadrel::SetConnected(bool aConnected)
{
    Connected = aConnected;
    fOutputs->SetConnected(aConnected);
    // The button says at once what a click on it does: a click that came just after the panel
    // let go of the module must not connect it again under the caption "Отключиться".
    btnConnect->setText(aConnected ? QStringLiteral("Отключиться") : QStringLiteral("Подключиться"));
    UpdateArrow();
    // The web bridge polls the service only while connected.
    if (fWebBridge)
        fWebBridge->UpdateWebPoll();
}

void TfrQuadrel::UpdateArrow()
{
    imgArrow->setVisible(!Connected);
    if (!Connected && fOnScreen)
        ArrowTimer->start();
    else
        ArrowTimer->stop();
}

void TfrQuadrel::ArrowTimerTimer()
{
    if (Connected) {
        UpdateArrow();
        return;
    }
    imgArrow->move(imgArrow->x() + ArrowStep, imgArrow->y());
    if (imgArrow->x() < 128 || imgArrow->x() > 135)
        ArrowStep = -ArrowStep;
}
