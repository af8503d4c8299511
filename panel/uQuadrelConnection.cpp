// Connection, probe, first poll cycle, periodic poll, answer dispatch and the screen refresh.

#include "panel/uQuadrel.h"

#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uPortObserver.h"
#include "diagnostics/uTempLog.h"
#include "panel/uBlinker.h"
#include "model/uConnectionRules.h"
#include "panel/uPictureLabel.h"
#include "panel/uRelayGrid.h"
#include "port/uFreePort.h"
#include "search/uFindDevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int QuadrelDeviceType = 73;
constexpr int NoLimit = 2147483647;

// Tags read by the periodic poll, in order: supply voltage, power status, safe states, output
// states and the two pulse-width blocks.
const int PolledTags[] = {24582, 36881, 60013, 60014, 60015, 60016, 600170, 600470};

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

void TfrQuadrel::cbComPortChange()
{
    int number = 0;
    if (ExtractDigitsToInt(cbComPort->currentText(), number))
        ComPort = number;
    BaudRate = cbLineBaudRate->currentText().toInt();
    SaveOptions();
}

void TfrQuadrel::ConnectPagerChange()
{
    panFind->hide();
    SaveOptions();
}

void TfrQuadrel::FormatToFreePort()
{
    if (!FreePort)
        return;
    TzDCB &dcb = FreePort->LocDCB();
    dcb.ByteSize = 8;
    const TzLineFormat format = LineFormatOfItem(cbLineFormat->currentIndex());
    if (format.Valid) {
        dcb.Parity = format.Parity;
        dcb.StopBits = format.StopBits;
    }
}

void TfrQuadrel::btnConnectClick()
{
    if (Connected)
        Disconnect();
    else
        DoConnect();
    TryFindPanVisible();
}

void TfrQuadrel::DoConnect()
{
    if (!fTemplateLoaded) {
        // Without the register template the first poll cycle would never complete: the panel would
        // look connected and show nothing.
        const QString refusal = QStringLiteral("Подключение невозможно: таблица регистров не загружена");
        MessageBoxNew(this, refusal, QStringLiteral("Уведомление"), 0x30);
        TempLogAdd(refusal, LogMaroon);
        return;
    }
    int address = 0;
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
        EthernetHost = txtEthernetAddr->text();
        EthernetPort = port;
        EthernetWaitTime = wait;
    }

    RememberAttempt(address);
    btnConnect->setEnabled(false);
    ConnectBtnTimer->start();
    imgFindDevice->hide();
    imgFindDeviceEth->hide();
    Anima(true);

    DevAddr = address;
    Device->DevAddr = address;
    // A new connection: what the previous one left (a restart's wait, ordered writes not yet
    // handed over) is not carried into it.
    ++fConnectionSerial;
    ClearOrderedWrites();
    // A first cycle cut short by a disconnect leaves the poll lock set; a new connection starts clean.
    Device->IsLocked = false;

    FreePort.reset();
    FreePort = std::make_unique<TzFreePort>(cbComPort->currentText());
    FreePort->SetComPort(ComPort);
    FreePort->SetOnAsyncAnswerProc([this](const TzAnswerRec &aAnswerRec) { ModbusAsyncAnswer(aAnswerRec); });
    FreePort->LocDCB().BaudRate = BaudRate;
    FreePort->SetByEthernet(IsEthernetPage());
    TzTimeouts &timeouts = FreePort->LocTimeouts();
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 400;
    timeouts.WriteTotalTimeoutMultiplier = 50;
    timeouts.WriteTotalTimeoutConstant = 100;
    FormatToFreePort();

    if (FreePort->Start()) {
        {
            std::lock_guard<std::mutex> lock(LineCS);
            ModbusAnswerList.clear();
        }
        FreePort->ClearRequestList();
        ForgetOutputStates();
        Pulse();
    } else {
        MessageBoxNew(this, QStringLiteral("Выбранный СОМ-порт занят или недоступен"), QStringLiteral("Уведомление"),
                      0x30);
        TempLogAdd(fAttemptEndpoint + QStringLiteral(" занят или недоступен"), LogMaroon);
    }
}

void TfrQuadrel::RememberAttempt(int aAddress)
{
    fAttemptAddress = aAddress;
    if (IsEthernetPage()) {
        fAttemptEndpoint = QStringLiteral("%1:%2").arg(EthernetHost).arg(EthernetPort);
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
    if (FindDevice && FindDevice->InFindProgress())
        FindStop();
    OprosTimer->stop();
    StopSequences();
    ConnectBtnTimer->stop();
    if (FreePort)
        FreePort->Stop();
    SetConnected(false);
    MarkStale(false);
    Anima(false);
    ButtonsEnabled(false);
    ClearLabels(QStringLiteral("..."));
    btnConnect->setEnabled(true);
    imgFindDevice->show();
    imgFindDeviceEth->show();
}

void TfrQuadrel::Pulse()
{
    if (!FreePort)
        return;
    // The previous probe's record, if its answer never came, was dropped with the pending list.
    PulseDevice = NewQuadrelDevice(DevAddr);
    PulseTag = PulseDevice->AddTag();
    PulseTag->ID = 36864;
    PulseTag->Reg = 36864;
    PulseTag->RegType = 2;
    PulseTag->ValType = 2;
    PulseTag->ReadCmd = 4;
    PulseTag->SegSize = 1;
    PulseTag->Offset = 0;
    PulseTag->DataSize = 2;
    PulseTag->DataType = 18;
    PulseTag->Order = QStringLiteral("21");
    PulseTag->OrderMas = QByteArray("\x02\x01", 2);
    PulseTag->Enabled = true;
    PulseTag->Force = true;
    PulseTag->ReadPriority = 1;
    PulseTag->WritePriority = 1;
    PulseTag->GUID = QStringLiteral("{355ADFD2-9A2A-4E26-8DE3-0FB81E88BD68}");
    PulseTag->OnResponse = [this](TzTag *aTag) { PulseCallback(aTag); };
    GetModbusRegRTU(PulseTag);
}

void TfrQuadrel::PulseCallback(TzTag *aTag)
{
    SetConnected(aTag && aTag->Value() == QuadrelDeviceType);
    if (Connected) {
        // Confirmed: the one-second check has done its job. Left running, its next tick after a
        // disconnect would report the healthy connection as a failed one.
        ConnectBtnTimer->stop();
        Anima(false);
        CloseAllPanel();
        fLastAnswer.start();
        labAddr->setText(QString::number(fAttemptAddress));
        labBaudRate->setText(fAttemptSpeed);
        labFormat->setText(LineFormatLabel(fAttemptFormatItem));
        TempLogAdd(QStringLiteral("Успешное подключение: [Адр:%1, %2, %3, %4]")
                       .arg(labAddr->text(), fAttemptEndpoint, labBaudRate->text(), labFormat->text()),
                   LogGreen);
    }
    LetsDoIt();
    imgFindDevice->hide();
    imgFindDeviceEth->hide();
}

void TfrQuadrel::ConnectBtnTimerTimer()
{
    if (Connected)
        return;
    btnConnect->setEnabled(true);
    ConnectBtnTimer->stop();
    Anima(false);
    imgFindDevice->show();
    imgFindDeviceEth->show();
    if (FreePort)
        FreePort->Stop();
    TempLogAdd(QStringLiteral("Неудачное подключение: [Адр:%1, %2, %3, %4]")
                   .arg(QString::number(fAttemptAddress), fAttemptEndpoint, fAttemptSpeed, fAttemptFormatText),
               LogMaroon);
}

void TfrQuadrel::LetsDoIt()
{
    if (!Connected || !Device || Device->IsLocked)
        return;
    Device->IsLocked = true;
    for (const auto &tag : Device->Tags)
        tag->IsLast = false;
    fFirstCycleNext = 0;
    fFirstCycleLast = nullptr;
    fFirstCycleQueuing = true;
    QueueFirstCycleSlice(++fFirstCycleRun);
}

// The first cycle reads every enabled tag. A template of many thousand tags would hold the
// interface for a long while if all were queued at once: they are queued in slices of a few
// milliseconds, one slice per event-loop turn, so answers, clicks and painting go on meanwhile.
// The last readable tag is marked once all are queued; its answer ends the first cycle.
void TfrQuadrel::QueueFirstCycleSlice(quint64 aRun)
{
    // A disconnect or a new connection meanwhile ends this run.
    if (aRun != fFirstCycleRun || !fFirstCycleQueuing || !Connected || !Device || !Device->IsLocked) {
        if (aRun == fFirstCycleRun)
            fFirstCycleQueuing = false;
        return;
    }
    constexpr qint64 SliceMs = 10;
    constexpr size_t TagsBetweenClockLooks = 256;
    QElapsedTimer slice;
    slice.start();
    const auto &tags = Device->Tags;
    while (fFirstCycleNext < tags.size()) {
        TzTag *tag = tags[fFirstCycleNext++].get();
        if (tag->Enabled) {
            GetModbusRegRTU(tag);
            if (!tag->Force && tag->CanRead)
                fFirstCycleLast = tag;
        }
        if (fFirstCycleNext % TagsBetweenClockLooks == 0 && fFirstCycleNext < tags.size()
            && slice.elapsed() >= SliceMs) {
            QTimer::singleShot(0, this, [this, aRun] { QueueFirstCycleSlice(aRun); });
            return;
        }
    }
    fFirstCycleQueuing = false;
    if (fFirstCycleLast)
        fFirstCycleLast->IsLast = true;
}

void TfrQuadrel::ModbusAsyncAnswer(const TzAnswerRec &aAnswerRec)
{
    TzModbusAnswer *record = nullptr;
    for (const auto &entry : ModbusAnswerList)
        if (entry->Code == aAnswerRec.UID) {
            record = entry.get();
            break;
        }
    if (!record) {
        TempLogAdd(QStringLiteral("Неизвестный UID (%1):   Ответ: %2")
                       .arg(aAnswerRec.UID)
                       .arg(FrameToDecimalText(aAnswerRec.Answer)),
                   LogMaroon);
        return;
    }

    if (aAnswerRec.ErrCode == 0 && Connected) {
        fLastAnswer.start();
        if (fValuesStale)
            MarkStale(false);
    }

    TzPortObsRec announcement;
    announcement.Port = aAnswerRec.ComPort;
    announcement.Index = static_cast<int32_t>(aAnswerRec.UID);
    announcement.Cmd = aAnswerRec.Answer.AsBytes();
    ObserversAddAnswer(announcement);
    announcement.Port = ComPort;

    if (TzTag *tag = record->Tag) {
        bool decoded = false;
        if (aAnswerRec.ErrCode != 0) {
            tag->SetQuality(QualityFailed);
        } else {
            // Every answer is decoded, also for a tag whose last answer was an exception: the decoder
            // clears the exception as soon as a regular answer arrives.
            decoded = ApplyModbusAnswer(*record, aAnswerRec.Answer, 0);
            if (tag->OnResponse)
                tag->OnResponse(tag);
        }
        if (decoded) {
            announcement.Value = QString::number(tag->Value(), 'g', 15);
            ObserversAddAnswer(announcement);
        }
        if (tag->IsLast) {
            tag->IsLast = false;
            if (tag->Device) {
                tag->Device->IsLocked = false;
                AfterFirstUpdate();
            }
        }
        if (tag->ModbusError) {
            announcement.Value = QStringLiteral("ErrCode: ") + tag->ModbusErrorCodeStr;
            ObserversAddAnswer(announcement);
            const int code = tag->ModbusErrorCode;
            const int slot = code >= 1 && code <= 8 ? code : 9;
            ++ModbusErrors[size_t(slot)];
            TempLogErrorCount(code, ModbusErrors[size_t(slot)]);
        } else if (decoded) {
            announcement.Value = tag->ValueStr;
            ObserversAddAnswer(announcement);
        }
        if (tag->Quality() == QualityGood && tag->Device)
            tag->Device->Status = dsGood;
    }

    {
        std::lock_guard<std::mutex> lock(LineCS);
        for (auto it = ModbusAnswerList.begin(); it != ModbusAnswerList.end(); ++it)
            if (it->get() == record) {
                ModbusAnswerList.erase(it);
                break;
            }
    }
    OrderedWriteAnswered(aAnswerRec.UID);
    PollReadAnswered(aAnswerRec.UID);
}

void TfrQuadrel::AfterFirstUpdate()
{
    // The answers of a first cycle cut short by a disconnect still arrive, as failures; they must
    // not fill the labels of an idle panel or start polling.
    if (!Connected)
        return;
    int value = 0;
    if (TryValueByID(36864, value))
        Device->DevVersion = value;
    if (TryValueByID(36869, value)) {
        Device->DevPOVersion = value;
        Device->DevPOVersionStr = FirmwareVersionText(value);
        labVerPO->setText(Device->DevPOVersionStr);
    }
    int word1 = 0, word2 = 0, word3 = 0;
    if (TryValueByID(36866, word1) && TryValueByID(36867, word2) && TryValueByID(36868, word3)) {
        QByteArray identifier;
        for (const int word : {word1, word2, word3})
            identifier.append(char((word >> 8) & 0xFF)).append(char(word & 0xFF));
        SetMAC(identifier);
    }
    if (TryValueByID(28676, value)) {
        labAddr->setText(QString::number(value));
        txtAddr->setText(QString::number(value));
    }
    if (TryValueByID(28672, value)) {
        const QString speed = BaudRateCodeText(value);
        if (!speed.isEmpty())
            labBaudRate->setText(speed);
        cbBaudRate->setCurrentIndex(value >= 0 && value < cbBaudRate->count() ? value : -1);
        if (FreePort && FreePort->ByEthernet())
            labBaudRate->setText(QStringLiteral("Ethernet"));
    }
    if (TryValueByID(28673, value)) {
        const QString format = FormatCodeText(value);
        if (!format.isEmpty())
            labFormat->setText(format);
        cbFormat->setCurrentIndex(value >= 4 && value <= 7 ? value - 4 : -1);
    }
    btnDOUT1PanClick(1);
    ButtonsEnabled(Connected);
    // Request numbers of an earlier engine mean nothing to this one.
    fPollReadsOut.clear();
    fPollReadsDue.clear();
    fPollOverdue = false;
    OprosTimer->start();
}

void TfrQuadrel::OprosTimerTimer()
{
    if (!Connected || !Device)
        return;
    // On a slow line a cycle outlasts the timer. Queued again now, the reads still waiting would
    // be refused as duplicates and the cycle would go on a tick late; instead the next cycle
    // follows the last answer of this one.
    if (PollCycleOut()) {
        QueueDuePollReads();
        fPollOverdue = true;
        return;
    }
    QueuePollCycle();
}

void TfrQuadrel::QueuePollCycle()
{
    fPollOverdue = false;
    fPollReadsOut.clear();
    fPollReadsDue.assign(std::begin(PolledTags), std::end(PolledTags));
    QueueDuePollReads();
}

void TfrQuadrel::QueueDuePollReads()
{
    std::vector<int> refused;
    for (const int id : fPollReadsDue) {
        if (!FreePort || !Device || !Device->GetTagByID(id))
            continue;
        if (const std::optional<uint32_t> uid = GetModbusRegRTU2(id))
            fPollReadsOut.push_back(*uid);
        else
            refused.push_back(id);
    }
    // A cycle queued from the last answer of the one before finds that answer's own read still in
    // the engine's queue while it is delivered; it goes out with the next answer, at the cycle's end.
    fPollReadsDue = std::move(refused);
}

bool TfrQuadrel::PollCycleOut()
{
    // A read is out while its record awaits an answer; a record dropped otherwise (a new
    // connection empties the list) no longer holds the poll back.
    std::erase_if(fPollReadsOut, [this](uint32_t aUID) {
        return std::none_of(ModbusAnswerList.begin(), ModbusAnswerList.end(),
                            [aUID](const auto &aEntry) { return aEntry->Code == aUID; });
    });
    return !fPollReadsOut.empty();
}

void TfrQuadrel::PollReadAnswered(uint32_t aUID)
{
    const auto read = std::find(fPollReadsOut.begin(), fPollReadsOut.end(), aUID);
    if (read == fPollReadsOut.end())
        return;
    fPollReadsOut.erase(read);
    if (!Connected || !OprosTimer->isActive())
        return;
    if (!fPollReadsDue.empty())
        QueueDuePollReads();
    if (fPollReadsOut.empty() && fPollReadsDue.empty() && fPollOverdue)
        QueuePollCycle();
}

void TfrQuadrel::InterfaceTimerTimer()
{
    imgHat->setVisible(IsNewYearSeason());
    if (DoItOnceOnStart) {
        panSnake->move(width() - panSnake->width() - 12, height() - panSnake->height() - 12);
        DoItOnceOnStart = false;
    }
    if (!TestMode && panProxy->isVisible()) {
        panProxy->hide();
        imgOpenNano->hide();
    }
    for (QWidget *test : std::initializer_list<QWidget *>{panSnake, cbStyles, chkRemoteControl, imgProxySettings,
                                                          imgOpenNano})
        test->setVisible(TestMode);
    EndRemoteControlOutsideTestMode();

    if (Connected) {
        btnPortObserver->show();
        btnConnect->setText(QStringLiteral("Отключиться"));
        if (!fValuesStale && OprosTimer->isActive() && fLastAnswer.isValid() && fLastAnswer.elapsed() >= StaleAfterMs)
            MarkStale(true);
        double millivolts = 0;
        if (TryValueByID(24582, millivolts))
            labPower1->setText(VoltageText(millivolts));
        int status = 0;
        if (fValuesStale) {
            SetLabelColours(labPower1, QColor(212, 208, 200), QColor(128, 128, 128));
        } else if (TryValueByID(36881, status)) {
            if (IsPowerAlarm(status))
                SetLabelColours(labPower1, QColor(255, 0, 0), QColor(255, 255, 0));
            else
                SetLabelColours(labPower1, QColor(166, 202, 240), QColor(0, 0, 128));
        }
        const bool sequenceRunning = SnakeTimer->isActive() || btnRunner->isChecked();
        if (!sequenceRunning) {
            int states = 0;
            if (TryValueByID(60016, states))
                for (int n = 1; n <= 16; ++n)
                    SetDOUT(n, IsBitSet(states, uint8_t(n - 1)));
            if (TryValueByID(60015, states))
                for (int n = 17; n <= 20; ++n)
                    SetDOUT(n, IsBitSet(states, uint8_t(n - 17)));
        }
        labTest->setText(QString::number(PendingAnswers()));
    } else {
        ButtonsEnabled(false);
        btnPortObserver->hide();
        btnConnect->setText(QStringLiteral("Подключиться"));
    }
    SG_Relays->Refresh();
}

void TfrQuadrel::ButtonsEnabled(bool aEnabled)
{
    for (QPushButton *button : {btnRS485, btnReset, btnDOUT, btnAllOn, btnAllOff, btnAllOnSlow, btnAllOffSlow,
                                btnSnakeOn, btnRunner})
        button->setEnabled(aEnabled);
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
        panFind->hide();
    if (!panDOUT->isVisible())
        panShim->hide();
    panProxy->hide();
    const bool wasSyncing = fSyncingPanelButtons;
    fSyncingPanelButtons = true;
    for (QPushButton *button : {btnComPort, btnRS485, btnDOUT, btnAutorun})
        button->setChecked(false);
    fSyncingPanelButtons = wasSyncing;
}

QString TfrQuadrel::StaleHint() const
{
    // The clock time is worked out only when the hint is shown: reading the local time for each of
    // the many answers a second would cost more than everything else an answer does.
    const QDateTime lastAnswer =
        fLastAnswer.isValid() ? QDateTime::currentDateTime().addMSecs(-fLastAnswer.elapsed()) : QDateTime();
    return QStringLiteral("Нет ответа от модуля с %1").arg(lastAnswer.toString(QStringLiteral("HH:mm:ss")));
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
    else if (Connected)
        TempLogAdd(QStringLiteral("Модуль снова отвечает"), LogNavy);
}

void TfrQuadrel::TryFindPanVisible()
{
    panFind->setVisible(!Connected && FindListBox->count() >= 1 && panComPort->isVisible());
    if (panFind->isVisible())
        panFind->raise();
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
    // The button says at once what a click on it does: a click that came just after the panel
    // let go of the module must not connect it again under the caption "Отключиться".
    btnConnect->setText(aConnected ? QStringLiteral("Отключиться") : QStringLiteral("Подключиться"));
    UpdateArrow();
    UpdateWebPoll();
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
