// The link's connection: opening the engine, the probe and its one-second decision, letting go,
// and the dispatch of every answer the engine hands over.

#include "link/uQuadrelLink.h"

#include "common/uUtils.h"
#include "link/uLinkLog.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"
#include "port/uFreePort.h"

#include <QTimer>

#include <utility>

namespace {

// A second for the probe's answer.
constexpr int ProbeWaitMs = 1000;

} // namespace

TzQuadrelLink::TzQuadrelLink(QObject *aParent) : QObject(aParent)
{
    fProbeTimer = new QTimer(this);
    fProbeTimer->setObjectName(QStringLiteral("ConnectBtnTimer"));
    fProbeTimer->setInterval(ProbeWaitMs);
    connect(fProbeTimer, &QTimer::timeout, this, &TzQuadrelLink::ProbeTimeUp);
    fPollTimer = new QTimer(this);
    fPollTimer->setObjectName(QStringLiteral("OprosTimer"));
    fPollTimer->setInterval(250);
    connect(fPollTimer, &QTimer::timeout, this, &TzQuadrelLink::OprosTimerTimer);
}

TzQuadrelLink::~TzQuadrelLink()
{
    fPollTimer->stop();
    fProbeTimer->stop();
    ClearOrderedWrites();
    if (fEngine) {
        fEngine->ClearRequestList();
        fEngine->Stop();
    }
    // The engine goes before the device: its last hand-overs find the link gone and are dropped.
    fEngine.reset();
}

bool TzQuadrelLink::ByEthernet() const
{
    return fEngine && fEngine->ByEthernet();
}

bool TzQuadrelLink::Connect(const TzLinkSettings &aSettings)
{
    fSettings = aSettings;
    fFirstCycleAndPoll = aSettings.FirstCycleAndPoll;
    fProbeAddress = aSettings.Address;
    fProbedType = -1;
    fProbeTimer->start(aSettings.ProbeWaitMs);
    if (aSettings.ByEthernet) {
        EthernetHost = aSettings.Host;
        EthernetPort = aSettings.UdpPort;
        EthernetWaitTime = aSettings.WaitMs;
    }
    if (fDevice)
        fDevice->DevAddr = aSettings.Address;
    // A new connection: what the previous one left (a restart's wait, ordered writes not yet
    // handed over) is not carried into it.
    ++fConnectionSerial;
    ClearOrderedWrites();
    // A first cycle cut short by a disconnect leaves the poll lock set; a new connection starts clean.
    if (fDevice)
        fDevice->IsLocked = false;

    fEngine.reset();
    fEngine = std::make_unique<TzFreePort>(aSettings.PortName);
    fEngine->SetComPort(aSettings.ComPort);
    fComPort = aSettings.ComPort;
    fEngine->SetOnAsyncAnswerProc([this](const TzAnswerRec &aAnswerRec) { ModbusAsyncAnswer(aAnswerRec); });
    fEngine->LocDCB().BaudRate = aSettings.BaudRate;
    fEngine->SetByEthernet(aSettings.ByEthernet);
    fEngine->LocTimeouts().ChooseAll(aSettings.Timeouts);
    TzDCB &dcb = fEngine->LocDCB();
    dcb.ByteSize = 8;
    const TzLineFormat format = LineFormatOfItem(aSettings.FormatItem);
    if (format.Valid) {
        dcb.Parity = format.Parity;
        dcb.StopBits = format.StopBits;
    }

    if (!fEngine->Start())
        return false;
    fPending.clear();
    fEngine->ClearRequestList();
    ForgetOutputValues();
    SendProbe();
    return true;
}

void TzQuadrelLink::Disconnect()
{
    fPollTimer->stop();
    fProbeTimer->stop();
    ClearOrderedWrites();
    if (fEngine)
        fEngine->Stop();
    const bool wasConnected = std::exchange(fConnected, false);
    MarkStale(false);
    if (wasConnected)
        emit Disconnected();
}

void TzQuadrelLink::SendProbe()
{
    // The previous probe's record, if its answer never came, was dropped with the pending list.
    fProbeDevice = NewQuadrelDevice(fProbeAddress);
    // One input register, read with function 4.
    TzTag *probe = fProbeDevice->AddRegisterTag(QuadrelMap::RegDeviceType, {2, 2, 2, 18, 4, 0});
    probe->Enabled = true;
    probe->GUID = QStringLiteral("{355ADFD2-9A2A-4E26-8DE3-0FB81E88BD68}");
    probe->OnResponse = [this](TzTag *aTag) { ProbeAnswer(aTag); };
    GetModbusRegRTU(probe);
}

void TzQuadrelLink::ProbeAnswer(TzTag *aTag)
{
    fProbedType = aTag ? int(aTag->Value()) : -1;
    fConnected = aTag && aTag->Value() == QuadrelMap::DeviceType;
    if (fConnected) {
        // Confirmed: the one-second check has done its job. Left running, its next tick after a
        // disconnect would report the healthy connection as a failed one.
        fProbeTimer->stop();
        fLastAnswer.start();
        // The first cycle's own read of the type register is refused as a copy of the probe,
        // whose request is still being handed over: the probe's answer is the module's type.
        if (fDevice)
            fDevice->DevVersion = QuadrelMap::DeviceType;
    }
    emit ProbeAnswered(fConnected);
    if (fFirstCycleAndPoll)
        LetsDoIt();
}

void TzQuadrelLink::ProbeTimeUp()
{
    if (fConnected)
        return;
    fProbeTimer->stop();
    if (fEngine)
        fEngine->Stop();
    emit ConnectFailed();
}

void TzQuadrelLink::ModbusAsyncAnswer(const TzAnswerRec &aAnswerRec)
{
    TzModbusAnswer *record = nullptr;
    for (const auto &entry : fPending)
        if (entry->Code == aAnswerRec.UID) {
            record = entry.get();
            break;
        }
    if (!record) {
        Log(QStringLiteral("Неизвестный UID (%1):   Ответ: %2")
                .arg(aAnswerRec.UID)
                .arg(FrameToDecimalText(aAnswerRec.Answer)),
            TzLinkLogKind::Failure);
        return;
    }

    if (aAnswerRec.ErrCode == 0 && fConnected) {
        fLastAnswer.start();
        if (fValuesStale)
            MarkStale(false);
    }

    TzPortObsRec announcement;
    announcement.Port = aAnswerRec.ComPort;
    announcement.Index = static_cast<int32_t>(aAnswerRec.UID);
    announcement.Cmd = aAnswerRec.Answer.AsBytes();
    emit AnswerHandled(announcement);
    announcement.Port = fComPort;

    TzRequestOutcome outcome;
    outcome.Request = aAnswerRec.UID;
    outcome.ErrCode = aAnswerRec.ErrCode;
    if (TzTag *tag = record->Tag) {
        outcome.ID = tag->ID;
        bool decoded = false;
        if (aAnswerRec.ErrCode != 0) {
            tag->SetQuality(QualityFailed);
        } else {
            // Every answer is decoded, also for a tag whose last answer was an exception: the decoder
            // clears the exception as soon as a regular answer arrives.
            decoded = ApplyModbusAnswer(*record, aAnswerRec.Answer, 0);
            if (tag->OnResponse)
                tag->OnResponse(tag);
            TellAnswered(tag);
        }
        if (decoded) {
            announcement.Value = QString::number(tag->Value(), 'g', 15);
            emit AnswerHandled(announcement);
        }
        if (tag->IsLast) {
            tag->IsLast = false;
            if (tag->Device) {
                tag->Device->IsLocked = false;
                AfterFirstUpdate();
            }
        }
        // An exception is counted for the answer that carried it: a later failure to answer at all
        // leaves the tag's exception mark in place but is no second exception.
        if (tag->ModbusError && aAnswerRec.ErrCode == 0) {
            announcement.Value = QStringLiteral("ErrCode: ") + tag->ModbusErrorCodeStr;
            emit AnswerHandled(announcement);
            const int code = tag->ModbusErrorCode;
            const int slot = code >= 1 && code <= 8 ? code : 9;
            ++fModbusErrors[size_t(slot)];
            emit ExceptionCounted(code, fModbusErrors[size_t(slot)]);
            outcome.Exception = code > 0 ? code : 9;
        } else if (decoded) {
            announcement.Value = tag->ValueStr;
            emit AnswerHandled(announcement);
        }
        if (tag->Quality() == QualityGood && tag->Device)
            tag->Device->Status = dsGood;
    }

    for (auto it = fPending.begin(); it != fPending.end(); ++it)
        if (it->get() == record) {
            fPending.erase(it);
            break;
        }
    OrderedWriteAnswered(aAnswerRec.UID);
    PollReadAnswered(aAnswerRec.UID);
    emit RequestFinished(outcome);
}

void TzQuadrelLink::TellAnswered(TzTag *aTag)
{
    switch (aTag->ID) {
    case QuadrelMap::RegStates1to16:
    case QuadrelMap::RegStates17to20: emit OutputsRead(aTag->ID); break;
    case QuadrelMap::TagPulseBlock1:
    case QuadrelMap::TagPulseBlock11: emit PulseWidthBlockRead(aTag); break;
    case QuadrelMap::RegSafe1to16:
    case QuadrelMap::RegSafe17to20: emit SafeStatesRead(aTag); break;
    case QuadrelMap::RegSupplyMillivolts:
    case QuadrelMap::RegPowerStatus: emit StatusRead(aTag->ID); break;
    default: break;
    }
}

void TzQuadrelLink::Log(const QString &aText, TzLinkLogKind aKind)
{
    // The window shows the line through the signal; standard error gets it when the logging
    // rules ask for quadrel.link's debug messages.
    qCDebug(lcLink).noquote() << aText;
    emit LogLine(aText, aKind);
}
