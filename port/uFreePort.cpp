// The facade of the port engine and the process-wide Ethernet settings.

#include "port/uFreePort.h"

#include "common/uUtils.h"

QString EthernetHost = QString::fromLatin1(EthernetFactoryHost);
int32_t EthernetPort = 40000;
int32_t EthernetWaitTime = 200;
int32_t EthernetTries = 3;
int32_t EthernetFindTries = 0;
AnswerEnd DefaultAnswerEnd = AnswerEnd::Length;

QString DefaultPortName(int32_t aComPort)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(aComPort);
#else
    return QStringLiteral("/dev/ttyS%1").arg(aComPort);
#endif
}

TzFreePort::TzFreePort(int32_t aComPort) : fGate(std::make_shared<TzDeliveryGate>()), fReceiver(new QObject)
{
    Port = std::make_unique<TzFreePortThread>(&CS, fGate, fReceiver);
    fNameFromNumber = true;
    SetComPort(aComPort);
}

TzFreePort::TzFreePort(const QString &aPortName) : fGate(std::make_shared<TzDeliveryGate>()), fReceiver(new QObject)
{
    Port = std::make_unique<TzFreePortThread>(&CS, fGate, fReceiver);
    SetPortName(aPortName);
}

TzFreePort::~TzFreePort()
{
    Stop();
    // Wakes a worker that waits for a hand-over or pauses, then waits for its thread to end.
    Port->BeginStopping();
    Port->requestInterruption();
    Port->wait();
    Port.reset();
    // Destroyed from inside a callback, the receiver is still delivering that call: let the
    // event loop delete it once the call has returned.
    bool inDelivery;
    {
        std::lock_guard lock(fGate->Mutex);
        inDelivery = fGate->InDelivery;
    }
    if (inDelivery)
        fReceiver->deleteLater();
    else
        delete fReceiver;
}

bool TzFreePort::Start()
{
    if (!Port->OpenTransport(fPortName))
        return false;
    if (!Port->isRunning() && !Port->isFinished())
        Port->start();
    return true;
}

bool TzFreePort::Stop()
{
    return Port->CloseTransport();
}

std::optional<uint32_t> TzFreePort::SendCmd(const TStringBytes &aCmd, int32_t aDevAddr)
{
    return Port->RegCmd(aCmd, aDevAddr, 0);
}

std::optional<uint32_t> TzFreePort::SendCmdForce(const TStringBytes &aCmd, int32_t aDevAddr, int32_t aPriority)
{
    return Port->RegCmd(aCmd, aDevAddr, aPriority);
}

void TzFreePort::ClearRequestList()
{
    std::lock_guard lock(CS);
    Port->RequestList.clear();
}

bool TzFreePort::SetIpAndPort(const QString &aIPAddr, int32_t aPort)
{
    return Port->SetIpAndPort(aIPAddr, aPort);
}

void TzFreePort::SetOnAsyncAnswerProc(const TAsyncAnswer &aProc)
{
    fAsyncAnswerProc = aProc;
    {
        std::lock_guard lock(fGate->Mutex);
        fGate->Callback = aProc;
    }
}

bool TzFreePort::HandOverPending() const
{
    std::lock_guard lock(fGate->Mutex);
    return fGate->Posted;
}

void TzFreePort::SetComPort(int32_t aComPort)
{
    fComPort = aComPort;
    Port->ComPort = aComPort;
    if (fNameFromNumber)
        fPortName = DefaultPortName(aComPort);
}

void TzFreePort::SetPortName(const QString &aPortName)
{
    fPortName = aPortName;
    fNameFromNumber = false;
    int number = 0;
    if (!ExtractDigitsToInt(aPortName, number))
        number = 0;
    fComPort = number;
    Port->ComPort = number;
}
