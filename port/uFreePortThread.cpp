// The worker of the port engine: the queue, the exchange with the serial line or the Ethernet
// transport, and the synchronous hand-over of each outcome to the interface thread.

#include "port/uFreePort.h"

#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "port/U_Lanvey_Ethernet.h"
#include "port/uAnswerFit.h"
#include "port/uModbusCRC.h"
#include "port/uSerialLine.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr uint32_t AnswerCapacity = 255;
constexpr uint32_t QueueSize = 256;
constexpr uint32_t EventMaskRxCharErr = 0x0081; // EV_RXCHAR | EV_ERR
constexpr auto PauseAfterExchange = std::chrono::milliseconds(10);
// How often a worker waiting for a hand-over checks whether the program is closing.
constexpr auto ClosingCheck = std::chrono::milliseconds(100);
// Every receive from the converter starts this late (see TEthernet_COM_Simulator::Recv).
constexpr uint32_t EthernetReceiveDelayMs = 15;
// How often a lost serial line is tried again.
constexpr uint32_t ReopenIntervalMs = 1000;
// Above 19200 bit/s the frame gap is fixed instead of 3.5 characters.
constexpr uint32_t FixedGapAbove = 19200;
constexpr uint64_t FixedGapUs = 1750;
constexpr uint32_t NotSet = 0xFFFFFFFFu;

QString ExceptionText(const char *aWhat)
{
    return QStringLiteral("Ошибка: ") + QString::fromUtf8(aWhat);
}

} // namespace

TzFreePortThread::TzFreePortThread(std::mutex *aCS, std::shared_ptr<TzDeliveryGate> aGate, QObject *aReceiver)
    : CS(aCS), fGate(std::move(aGate)), fReceiver(aReceiver), FLine(std::make_unique<TzSerialLine>())
{
    fHost = EthernetHost;
    fPort = EthernetPort;
    fWaitTime = EthernetWaitTime;
    ReInitECS();
}

TzFreePortThread::~TzFreePortThread()
{
    BeginStopping();
    requestInterruption();
    wait();
}

// ---- queue ----

std::optional<uint32_t> TzFreePortThread::RegCmd(const TStringBytes &aCmd, int32_t aDevAddr, int32_t aPriority)
{
    if (aCmd.Size() == 0)
        return std::nullopt;
    auto request = std::make_shared<TzReq>();
    request->Cmd = aCmd;
    request->DevAddr = aDevAddr;
    request->Timestamp = GetTickCount32();

    std::unique_lock lock(*CS);
    if (RequestList.Contains(aCmd.AsBytes()))
        return std::nullopt;
    // A number is used up only by a request that is queued.
    fIssuedUID = fIssuedUID + 1 > MaxRequestUID ? 0 : fIssuedUID + 1;
    request->UID = fIssuedUID;
    const int count = int(RequestList.size());
    if (aPriority < 1)
        RequestList.PushBack(request);
    else if (aPriority < count - 1)
        RequestList.Insert(size_t(aPriority), request);
    else if (count > 0)
        RequestList.Insert(size_t(count - 1), request);
    else
        RequestList.PushBack(request);
    const uint32_t uid = request->UID;
    lock.unlock();
    // An idle worker takes it up at once.
    {
        std::lock_guard gateLock(fGate->Mutex);
    }
    fGate->Changed.notify_all();
    return uid;
}

uint32_t TzFreePortThread::IssuedUID() const
{
    std::lock_guard lock(*CS);
    return fIssuedUID;
}

void TzFreePortThread::SetIssuedUID(uint32_t aUID)
{
    std::lock_guard lock(*CS);
    fIssuedUID = aUID;
}

// ---- worker loop ----

void TzFreePortThread::Execute()
{
    while (!isInterruptionRequested()) {
        if (fLineLost)
            TryReopenLine();
        std::shared_ptr<TzReq> request;
        {
            std::lock_guard lock(*CS);
            if (!RequestList.empty())
                request = RequestList.front();
        }
        if (request) {
            SendAsyncToLine(*request);
            // By identity: forced requests may have been placed before it meanwhile, and
            // ClearRequestList may have dropped it already.
            {
                std::lock_guard lock(*CS);
                RequestList.Remove(request);
            }
            // The silence rule keeps its fixed pause after every exchange; with the length rule
            // the line's own gap separates requests and a pause would only cost.
            if (AnswerEndRule == AnswerEnd::Gap)
                PauseAfterExchange();
        }
        if (!QueueWaiting())
            AwaitRequest();
    }
    std::lock_guard lock(*CS);
    RequestList.clear();
}

bool TzFreePortThread::QueueWaiting() const
{
    std::lock_guard lock(*CS);
    return !RequestList.empty();
}

void TzFreePortThread::PauseAfterExchange()
{
    std::unique_lock lock(fGate->Mutex);
    fGate->Changed.wait_for(lock, ::PauseAfterExchange, [this] { return fGate->Stopping; });
}

void TzFreePortThread::AwaitRequest()
{
    // An idle engine sleeps until a request is queued or the engine stops: no wake-ups while
    // nothing is asked. The bound only paces the reopening of a lost line.
    uint32_t bound = ReopenIntervalMs;
    if (fLineLost) {
        const uint32_t since = GetTickCount32() - fLastReopenTry;
        bound = since < ReopenIntervalMs ? ReopenIntervalMs - since + 1 : 1;
    }
    std::unique_lock lock(fGate->Mutex);
    fGate->Changed.wait_for(lock, std::chrono::milliseconds(bound),
                            [this] { return fGate->Stopping || QueueWaiting(); });
}

void TzFreePortThread::BeginStopping()
{
    {
        std::lock_guard lock(fGate->Mutex);
        fGate->Stopping = true;
    }
    fGate->Changed.notify_all();
}

void TzFreePortThread::SendAsyncToLine(const TzReq &aReq)
{
    ResultOK = false;
    std::memset(PortBufferOut, 0, sizeof PortBufferOut);
    QuantitySend = aReq.Cmd.Size();
    for (uint32_t i = 0; i < QuantitySend; ++i)
        PortBufferOut[i] = aReq.Cmd.GetByte(uint8_t(i + 1));
    QuantityGet = AnswerCapacity;

    fFailureText.clear();
    bool ok = false;
    // A failure nobody expected ends this request only; the worker serves the next one.
    try {
        ok = GetData_ComPort();
    } catch (const std::exception &e) {
        fFailureText = ExceptionText(e.what());
    } catch (...) {
        fFailureText = ExceptionText("unknown failure");
    }
    if (!fFailureText.isEmpty()) {
        ok = false;
        ErrorCode = ErrPortFailure;
    }
    ResultArray = TStringBytes::FromRaw(PortBufferIn, ok ? int(QuantityRealGet) : 0);
    ResultOK = ok;
    if (!isInterruptionRequested()) {
        CurrUID = aReq.UID;
        SyncProc();
    }
}

// The hand-over: post the outcome to the interface thread and wait until it has been handled,
// or until the engine is being destroyed (then nobody will handle it).
void TzFreePortThread::SyncProc()
{
    const std::shared_ptr<TzDeliveryGate> gate = fGate;
    {
        std::lock_guard lock(gate->Mutex);
        if (gate->Stopping || !gate->Callback)
            return;
        gate->Delivered = false;
        gate->Posted = true;
    }
    TzAnswerRec record;
    record.ComPort = ComPort;
    record.UID = CurrUID;
    record.Answer = ResultArray;
    record.ErrCode = ErrorCode;
    record.Time = GetDataTime;

    const std::weak_ptr<TzDeliveryGate> weakGate = gate;
    const QString failure = fFailureText;
    QMetaObject::invokeMethod(
        fReceiver,
        [weakGate, record, failure] {
            const std::shared_ptr<TzDeliveryGate> arrived = weakGate.lock();
            if (!arrived)
                return;
            TAsyncAnswer callback;
            {
                std::lock_guard lock(arrived->Mutex);
                if (!arrived->Stopping) {
                    callback = arrived->Callback;
                    arrived->InDelivery = true;
                }
            }
            if (!failure.isEmpty())
                TempLogAdd(failure, LogNavy);
            // No lock is held here: the callback may queue requests, stop or destroy the engine.
            // A callback that fails is logged; the worker still learns that it has run.
            if (callback) {
                try {
                    callback(record);
                } catch (const std::exception &e) {
                    TempLogAdd(ExceptionText(e.what()), LogNavy);
                } catch (...) {
                    TempLogAdd(ExceptionText("unknown failure"), LogNavy);
                }
            }
            {
                std::lock_guard lock(arrived->Mutex);
                arrived->InDelivery = false;
                arrived->Delivered = true;
            }
            arrived->Changed.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(gate->Mutex);
    while (!gate->Delivered && !gate->Stopping && !QCoreApplication::closingDown())
        gate->Changed.wait_for(lock, ClosingCheck);
    gate->Posted = false;
}

// ---- one exchange ----

bool TzFreePortThread::GetData_ComPort()
{
    std::memset(PortBufferIn, 0, sizeof PortBufferIn);
    QuantityRealGet = 0;
    // Before the exchange's time starts: these waits belong to the requests before.
    if (ByEthernet)
        AwaitLateDatagrams();
    else if (!fLineLost)
        PrepareSerialLine();
    const uint32_t start = GetTickCount32();
    bool portFailed = false;
    if (ByEthernet)
        ExchangeByEthernet();
    else
        portFailed = !ExchangeBySerial();
    GetDataTime = GetTickCount32() - start;

    if (portFailed)
        return false;
    bool ok = false;
    if (QuantityRealGet == 0) {
        ErrorCode = ErrNoAnswer;
    } else if (!CheckModbusCRC()) {
        ErrorCode = ErrAnswerCRC;
    } else if (!AnswerFitsRequest(PortBufferOut, QuantitySend, PortBufferIn, QuantityRealGet)) {
        // Another request's answer (a late one, another slave's): this request got none.
        ErrorCode = ErrNoAnswer;
    } else {
        ok = true;
    }
    // Its own answer may still be on its way: listen for it before the next request is sent.
    if (ErrorCode == ErrNoAnswer && !ByEthernet && LateAnswerGuard) {
        fLateAnswerPending = true;
        fLateAnswerUntil = GetTickCount32() + TotalWaitMs();
    }
    // Over the converter every try that got no answer of its own may still be answered. Where
    // the converter echoes sequence numbers such answers are known by their number; otherwise
    // they would be taken for the next request's answer, so they are waited for and dropped.
    if (ByEthernet && LateAnswerGuard) {
        const int unanswered = fTriesSent - (QuantityRealGet > 0 ? 1 : 0);
        const std::shared_ptr<TEthernet_COM_Simulator> transport = CurrentECS();
        if (unanswered > 0 && transport && transport->EchoState() != TEthernet_COM_Simulator::TEcho::Echoes) {
            fLateDatagrams = unanswered;
            fLateDatagramsUntil = fLastSendTick + EthernetReceiveDelayMs + 2 * uint32_t(std::max(0, transport->WaitTime()));
        }
    }
    return ok;
}

bool TzFreePortThread::ExchangeBySerial()
{
    // The line is gone: fail at once instead of waiting on a closed port.
    if (fLineLost) {
        ErrorCode = ErrPortFailure;
        return false;
    }
    const bool byLength = AnswerEndRule == AnswerEnd::Length;
    FLine->Purge(true, false);
    FLine->Purge(false, true);
    ErrorCode = ErrAnswerOK;
    FLine->Write(PortBufferOut, QuantitySend, QuantityRealSend);
    TzAnswerNeed need;
    if (byLength)
        need = [this](const uint8_t *aBytes, uint32_t aCount) {
            return AnswerBytesNeeded(PortBufferOut, QuantitySend, aBytes, aCount);
        };
    FLine->Read(PortBufferIn, QuantityGet, QuantityRealGet, need);
    if (!FLine->ClearErrors()) {
        ErrorCode = ErrPortFailure;
        if (FLine->HungUp())
            LoseLine();
        return false;
    }
    return true;
}

// The line is made ready for the next request: a late answer to the last one is waited for, and
// the frame gap since the last byte received is kept; what arrives meanwhile (the tail of an
// answer that ended by its length) is dropped.
void TzFreePortThread::PrepareSerialLine()
{
    AwaitLateAnswer();
    if (AnswerEndRule == AnswerEnd::Length)
        FLine->Drain(FrameGapUs(), TotalWaitMs());
}

void TzFreePortThread::LoseLine()
{
    std::lock_guard line(fLineMutex);
    // Closed by a stop meanwhile, or opened afresh by a start: nothing to reopen.
    if (!FLine->IsOpen() || !FLine->HungUp())
        return;
    // Released at once: a replugged adapter then gets its old device name back.
    FLine->Close();
    fLineLost = true;
    fLastReopenTry = GetTickCount32();
    PostLogLine(QStringLiteral("Порт %1 пропал (устройство отключено или закрыто), "
                               "повторное открытие каждую секунду")
                    .arg(FNamePort),
                true);
}

void TzFreePortThread::TryReopenLine()
{
    std::lock_guard line(fLineMutex);
    if (!fLineLost || GetTickCount32() - fLastReopenTry < ReopenIntervalMs)
        return;
    fLastReopenTry = GetTickCount32();
    if (!FLine->Open(FNamePort.toStdString()))
        return;
    // The settings and time-outs the line had before it went away.
    if (FLine->SetState(FDCB) && FLine->SetupQueues(QueueSize, QueueSize) && FLine->SetTimeouts(FComTO)
        && FLine->SetEventMask(EventMaskRxCharErr)) {
        fLineLost = false;
        fLateAnswerPending = false;
        PostLogLine(QStringLiteral("Порт %1 снова открыт, обмен возобновлён").arg(FNamePort), false);
        return;
    }
    FLine->Close();
}

void TzFreePortThread::PostLogLine(const QString &aText, bool aFailure)
{
    QMetaObject::invokeMethod(
        fReceiver, [aText, aFailure] { TempLogAdd(aText, aFailure ? LogMaroon : LogNavy); }, Qt::QueuedConnection);
}

void TzFreePortThread::AwaitLateAnswer()
{
    if (!fLateAnswerPending)
        return;
    fLateAnswerPending = false;
    const int32_t left = int32_t(fLateAnswerUntil - GetTickCount32());
    if (left <= 0)
        return;
    // Ends early once a late answer has come and the line has fallen silent again.
    const uint32_t interval = FComTO.ReadIntervalTimeout;
    const uint64_t silenceUs = interval == 0 || interval == NotSet ? FrameGapUs() : uint64_t(interval) * 1000;
    FLine->Drain(silenceUs, uint64_t(left), true);
}

uint64_t TzFreePortThread::FrameGapUs() const
{
    if (FDCB.BaudRate > FixedGapAbove)
        return FixedGapUs;
    return std::max<uint64_t>(FLine->CharTimeUs() * 7 / 2, FixedGapUs);
}

uint32_t TzFreePortThread::TotalWaitMs() const
{
    const TzReadEndRule rule = TzReadEndRule::From(FComTO, AnswerCapacity);
    return rule.TotalMs == UINT64_MAX ? 1000 : uint32_t(std::min<uint64_t>(rule.TotalMs, 60000));
}

void TzFreePortThread::AwaitLateDatagrams()
{
    const int count = std::exchange(fLateDatagrams, 0);
    const int32_t left = int32_t(fLateDatagramsUntil - GetTickCount32());
    if (count > 0 && left > 0)
        CurrentECS()->DropLateAnswers(count, left);
}

void TzFreePortThread::ExchangeByEthernet()
{
    const int attempts = ByEthernetFinding ? 1 : int(fTries);
    fTriesSent = 0;
    for (int i = 0; i < attempts; ++i) {
        SendByEthernet();
        ++fTriesSent;
        fLastSendTick = GetTickCount32();
        if (RecvByEthernet())
            break;
        // A stopped engine ends the exchange at once instead of trying again.
        if (!fEthernetOpen)
            break;
    }
}

int TzFreePortThread::EthernetCallBound() const
{
    return std::max(1, int(ByEthernetFinding ? fFindTries : fTries));
}

void TzFreePortThread::SendByEthernet()
{
    const TStringBytes command = TStringBytes::FromRaw(PortBufferOut, int(QuantitySend));
    for (int i = 0; i < EthernetCallBound(); ++i) {
        try {
            CurrentECS()->Send(command);
            return;
        } catch (const std::exception &) {
            ReInitECS();
        }
    }
}

bool TzFreePortThread::RecvByEthernet()
{
    ErrorCode = ErrAnswerOK;
    std::memset(PortBufferIn, 0, sizeof PortBufferIn);
    TStringBytes answer;
    for (int i = 0; i < EthernetCallBound(); ++i) {
        try {
            answer = CurrentECS()->Recv();
            break;
        } catch (const std::exception &) {
            ReInitECS();
        }
    }
    QuantityRealGet = answer.Size();
    for (uint32_t i = 0; i < QuantityRealGet; ++i)
        PortBufferIn[i] = answer.GetByte(uint8_t(i + 1));
    if (QuantityRealGet == 0) {
        ErrorCode = ErrNoAnswer;
        return false;
    }
    return true;
}

bool TzFreePortThread::CheckModbusCRC() const
{
    return ::CheckModbusCRC(PortBufferIn, int(QuantityRealGet));
}

// ---- serial port ----

uint32_t TzFreePortThread::OpenInterface(const QString &aPortName)
{
    std::lock_guard line(fLineMutex);
    fLineLost = false;
    FNamePort = aPortName;
    uint32_t code = 0;
    if (!FLine->Open(aPortName.toStdString()))
        code = OpenErrCreateFile;
    else if (!FLine->GetState(FDCB))
        code = OpenErrGetCommState;
    if (code == 0) {
        LocDCB().Flags = DcbFlag::Binary;
        LocDCB().AssignTo(FDCB);
        if (!FLine->SetState(FDCB))
            code = OpenErrSetCommState;
        else if (!FLine->SetupQueues(QueueSize, QueueSize))
            code = OpenErrSetupComm;
        else if (!FLine->GetTimeouts(FComTO))
            code = OpenErrGetCommTimeouts;
    }
    if (code == 0) {
        LocTimeouts().AssignTo(FComTO);
        if (!FLine->SetTimeouts(FComTO))
            code = OpenErrSetCommTimeouts;
        else if (!FLine->GetEventMask(FCommEvtMask))
            code = OpenErrGetCommMask;
        else if (!FLine->SetEventMask(EventMaskRxCharErr))
            code = OpenErrSetCommMask;
    }
    ErrorCode = code;
    return code;
}

bool TzFreePortThread::CloseInterface()
{
    std::lock_guard line(fLineMutex);
    // A stop also ends the reopening of a lost line.
    fLineLost = false;
    if (!FLine->IsOpen())
        return true;
    // Close() ends a pending read first, then purges both queues and releases the line.
    return FLine->Close();
}

bool TzFreePortThread::IsActive() const
{
    return FLine->IsOpen();
}

TzDCB &TzFreePortThread::LocDCB()
{
    if (!fLocDCB)
        fLocDCB = std::make_unique<TzDCB>();
    return *fLocDCB;
}

TzTimeouts &TzFreePortThread::LocTimeouts()
{
    if (!fLocTimeouts)
        fLocTimeouts = std::make_unique<TzTimeouts>();
    return *fLocTimeouts;
}

// ---- Ethernet transport ----

std::shared_ptr<TEthernet_COM_Simulator> TzFreePortThread::CurrentECS() const
{
    std::lock_guard lock(fECSMutex);
    return ECS;
}

void TzFreePortThread::SetTransportFactory(TzTransportFactory aFactory)
{
    fTransportFactory = std::move(aFactory);
    ReInitECS();
}

// A transport with the engine's Ethernet settings; made outside any lock (the maker may fail).
std::shared_ptr<TEthernet_COM_Simulator> TzFreePortThread::MakeTransport()
{
    std::shared_ptr<TEthernet_COM_Simulator> fresh =
        fTransportFactory ? std::shared_ptr<TEthernet_COM_Simulator>(fTransportFactory())
                          : std::make_shared<TEthernet_COM_Simulator>();
    QString host;
    int32_t port, waitTime;
    {
        std::lock_guard lock(fECSMutex);
        host = fHost;
        port = fPort;
        waitTime = fWaitTime;
    }
    fresh->ClearAdress();
    fresh->AddAddress(host, uint16_t(port));
    fresh->SetWaitTime(waitTime);
    return fresh;
}

// Puts a new transport in place of the current one. Under the lock that CloseEthernet takes, so
// a transport re-created while the engine stops is either closed by the stop or never opened.
// The old one is closed first: it holds the converter's port.
int TzFreePortThread::SwapTransport(std::shared_ptr<TEthernet_COM_Simulator> aFresh, bool aOpen)
{
    std::shared_ptr<TEthernet_COM_Simulator> old;
    int bound = 0;
    std::lock_guard lock(fECSMutex);
    old = std::exchange(ECS, aFresh);
    if (old)
        old->Close();
    if (aOpen) {
        try {
            bound = aFresh->Open();
        } catch (const std::exception &) {
            bound = 0;
        }
    }
    return bound;
}

void TzFreePortThread::ReInitECS()
{
    std::shared_ptr<TEthernet_COM_Simulator> fresh = MakeTransport();
    // A transport re-created while the engine runs is opened at once, or every later exchange
    // of this engine would wait in vain; one re-created after a stop stays closed.
    std::lock_guard open(fOpenMutex);
    SwapTransport(std::move(fresh), fEthernetOpen);
}

bool TzFreePortThread::SetIpAndPort(const QString &aIPAddr, int32_t aPort)
{
    // The worker sends and receives through the open transport: its addresses stay as they are.
    std::lock_guard open(fOpenMutex);
    if (fEthernetOpen)
        return false;
    std::lock_guard lock(fECSMutex);
    ECS->ClearAdress();
    ECS->AddAddress(aIPAddr, uint16_t(aPort));
    return true;
}

bool TzFreePortThread::OpenEthernet()
{
    {
        std::lock_guard lock(fECSMutex);
        fHost = EthernetHost;
        fPort = EthernetPort;
        fWaitTime = EthernetWaitTime;
    }
    fTries = EthernetTries;
    fFindTries = EthernetFindTries;
    int bound = 0;
    if (!isRunning() && !isFinished()) {
        // Nobody uses the transport yet: it takes the settings in place.
        std::lock_guard open(fOpenMutex);
        std::lock_guard lock(fECSMutex);
        ECS->Close();
        ECS->ClearAdress();
        ECS->AddAddress(fHost, uint16_t(fPort));
        ECS->SetWaitTime(fWaitTime);
        try {
            bound = ECS->Open();
        } catch (const std::exception &) {
            bound = 0;
        }
        fEthernetOpen = bound > 0;
    } else {
        // The worker may be inside the current transport: a new one takes its place.
        std::shared_ptr<TEthernet_COM_Simulator> fresh = MakeTransport();
        std::lock_guard open(fOpenMutex);
        bound = SwapTransport(std::move(fresh), true);
        fEthernetOpen = bound > 0;
    }
    if (bound == 0)
        CloseEthernet();
    return bound > 0;
}

void TzFreePortThread::CloseEthernet()
{
    std::lock_guard open(fOpenMutex);
    fEthernetOpen = false;
    CurrentECS()->Close();
}
