#include "search/uFindDevice.h"

#include "common/uUtils.h"
#include "model/uConnectionRules.h"
#include "port/uFreePort.h"
#include "port/uModbusCRC.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace {

// Read time-outs of a scan: a 10 ms gap ends an answer, the scan's time-out bounds the wait.
constexpr int ScanReadInterval = 10;
constexpr int LineSettingCount = 10 * 4; // speeds x formats

} // namespace

const QStringList TfrmFindDevice::BaudRateList{"1200",  "2400",  "4800",  "9600",  "14400",
                                               "19200", "28800", "38400", "57600", "115200"};
const QStringList TfrmFindDevice::FormatList{"MODBUS RTU 8N1", "MODBUS RTU 8O1", "MODBUS RTU 8E1", "MODBUS RTU 8N2"};

TStringBytes FindProbeFrame(int aAddr)
{
    QByteArray body;
    body.append(char(aAddr)).append('\x04');
    body.append(char(FindProbeRegister >> 8)).append(char(FindProbeRegister & 0xFF));
    body.append('\x00').append('\x02');
    TStringBytes frame(body);
    AppendModbusCRC(frame);
    return frame;
}

bool IsQuadrelAnswer(const TStringBytes &aAnswer)
{
    return aAnswer.Size() >= 5 && aAnswer.GetByte(3) == 4 && aAnswer.GetByte(5) == FindQuadrelType;
}

TfrmFindDevice::TfrmFindDevice(QObject *aParent) : QObject(aParent)
{
    setObjectName(QStringLiteral("frmFindDevice"));
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        fPortList << info.portName();
#else
        fPortList << info.systemLocation();
#endif
    }
    if (!fPortList.isEmpty())
        fPortName = fPortList.front();
}

TfrmFindDevice::~TfrmFindDevice()
{
    // The engine goes first, so no outcome of it can reach a component that is being destroyed.
    Stop();
}

void TfrmFindDevice::SetComPort(int aComPort)
{
    fComPort = aComPort;
    const QString name = QStringLiteral("COM%1").arg(aComPort);
    fPortName = fPortList.contains(name) ? name : QString();
}

void TfrmFindDevice::SetPortName(const QString &aPortName)
{
    fPortName = aPortName.trimmed();
    int number = 0;
    fComPort = ExtractDigitsToInt(fPortName, number) ? number : 0;
}

void TfrmFindDevice::SetBaudRate(int aBaudRate)
{
    fBaudRate = BaudRateList.contains(QString::number(aBaudRate)) ? aBaudRate : 0;
}

void TfrmFindDevice::SetFormat(int aFormat)
{
    fFormat = aFormat >= 0 && aFormat < FormatList.size() ? aFormat : -1;
}

void TfrmFindDevice::SetTimeout(int aTimeout)
{
    fTimeoutText = QString::number(aTimeout);
}

bool TfrmFindDevice::Start()
{
    fLastError = feNone;
    Stop();
    bool ok = false;
    const int timeout = fTimeoutText.toInt(&ok);
    if (!ok || timeout <= 0) {
        fLastError = feBadTimeout;
        return false;
    }
    fTimeout = timeout;
    if (!OpenScanPort()) {
        Stop();
        return false;
    }
    return true;
}

void TfrmFindDevice::Stop()
{
    InProgress = false;
    CloseScanPort();
    std::lock_guard lock(CS);
    AnswerList.clear();
}

void TfrmFindDevice::CloseScanPort()
{
    if (!FreePort)
        return;
    // Nothing of this scan is served any more: the queue goes, the line closes (ending a read
    // under way) and the worker ends with the engine. Outcomes already posted find the engine
    // gone and are dropped.
    FreePort->ClearRequestList();
    FreePort->Stop();
    FreePort.reset();
}

int TfrmFindDevice::PendingProbes()
{
    std::lock_guard lock(CS);
    return int(AnswerList.size());
}

bool TfrmFindDevice::OpenScanPort()
{
    CloseScanPort();
    if (!ByEthernet && (fPortName.isEmpty() || fBaudRate == 0 || fFormat < 0)) {
        fLastError = feNoPort;
        return false;
    }
    FreePort = std::make_unique<TzFreePort>(fPortName);
    FreePort->SetByEthernet(ByEthernet);
    FreePort->SetByEthernetFinding(true);
    // A pass keeps its pace: an unanswered probe is not followed by a listening wait. A late
    // answer still cannot be taken for the next probe's, since its address does not fit.
    FreePort->SetLateAnswerGuard(false);
    FreePort->SetOnAsyncAnswerProc([this](const TzAnswerRec &aAnswerRec) { AsyncAnswer(aAnswerRec); });

    fPass = 1;
    fLine = TzFindLine{fBaudRate, std::max(0, fFormat), fTimeout};
    bool opened = OpenLine(fLine);
    // Through every setting: a speed the port refuses is skipped, the scan starts at the next one.
    if (!opened && AllLineSettings && !ByEthernet)
        opened = NextLine();
    if (!opened) {
        fLastError = fePortBusy;
        return false;
    }
    InProgress = true;
    SendProbes();
    emit PassStarted(fPass, fLine.BaudRate, fLine.Format);
    return true;
}

void TfrmFindDevice::ApplyLine(const TzFindLine &aLine)
{
    TzDCB &dcb = FreePort->LocDCB();
    dcb.BaudRate = aLine.BaudRate;
    dcb.ByteSize = 8;
    const TzLineFormat format = LineFormatOfItem(aLine.Format);
    dcb.Parity = format.Parity;
    dcb.StopBits = format.StopBits;
    TzTimeouts &timeouts = FreePort->LocTimeouts();
    timeouts.ReadIntervalTimeout = ScanReadInterval;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = aLine.Timeout;
    timeouts.WriteTotalTimeoutMultiplier = aLine.Timeout;
    timeouts.WriteTotalTimeoutConstant = 0;
}

bool TfrmFindDevice::OpenLine(const TzFindLine &aLine)
{
    ApplyLine(aLine);
    return FreePort->Start();
}

bool TfrmFindDevice::NextLine()
{
    int speed = std::max(0, int(BaudRateList.indexOf(QString::number(fLine.BaudRate))));
    int index = speed * int(FormatList.size()) + fLine.Format;
    for (int tries = 0; tries < LineSettingCount; ++tries) {
        index = (index + 1) % LineSettingCount;
        TzFindLine line;
        line.BaudRate = BaudRateList[index / FormatList.size()].toInt();
        line.Format = index % int(FormatList.size());
        // Each speed needs its own shortest time-out; a longer one asked for is kept.
        line.Timeout = std::max(fTimeout, GetTimeout(line.BaudRate));
        if (OpenLine(line)) {
            fLine = line;
            return true;
        }
    }
    return false;
}

void TfrmFindDevice::SendProbes()
{
    for (int addr = FindFirstAddr; addr <= FindLastAddr; ++addr)
        SendProbe(addr);
}

void TfrmFindDevice::SendProbe(int aAddr)
{
    TzFindAnswer probe;
    probe.DevAddr = aAddr;
    probe.Cmd = FindProbeFrame(aAddr);
    // A refused probe has no number of its own; recording it would tie it to another's outcome.
    const std::optional<uint32_t> uid = FreePort->SendCmd(probe.Cmd, aAddr);
    if (!uid)
        return;
    probe.Code = *uid;
    probe.TimeStamp = GetTickCount32();
    probe.IsLast = aAddr == FindLastAddr;
    std::lock_guard lock(CS);
    AnswerList.push_back(std::move(probe));
}

void TfrmFindDevice::AsyncAnswer(const TzAnswerRec &aAnswerRec)
{
    if (!InProgress)
        return;
    TzFindAnswer probe;
    {
        std::lock_guard lock(CS);
        const auto it = std::find_if(AnswerList.begin(), AnswerList.end(),
                                     [&aAnswerRec](const TzFindAnswer &a) { return a.Code == aAnswerRec.UID; });
        if (it == AnswerList.end())
            return;
        probe = *it;
    }
    // Either callback may stop the scan; nothing of it is touched afterwards.
    if (OnFindProcess)
        OnFindProcess(probe.DevAddr);
    if (!InProgress)
        return;
    if (aAnswerRec.ErrCode == ErrAnswerOK && OnFindAddr)
        OnFindAddr(probe.DevAddr, aAnswerRec.Answer);
    if (!InProgress)
        return;

    if (probe.IsLast) {
        if (Cycled) {
            {
                std::lock_guard lock(CS);
                AnswerList.clear();
            }
            FreePort->ClearRequestList();
            if (AllLineSettings && !ByEthernet && !NextLine()) {
                Stop();
                emit ScanEnded();
                return;
            }
            ++fPass;
            SendProbes();
            emit PassStarted(fPass, fLine.BaudRate, fLine.Format);
            return;
        }
        InProgress = false;
        CloseScanPort();
    }
    {
        std::lock_guard lock(CS);
        const auto it = std::find_if(AnswerList.begin(), AnswerList.end(),
                                     [&probe](const TzFindAnswer &a) { return a.Code == probe.Code; });
        if (it != AnswerList.end())
            AnswerList.erase(it);
    }
    if (!InProgress)
        emit ScanEnded();
}
