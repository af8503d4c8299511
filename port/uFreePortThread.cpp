// The worker of the port engine: the queue, the exchange of each request through the transport
// picked at start (the serial line or the converter), and the synchronous hand-over of each
// outcome to the interface thread.

#include "port/uFreePort.h"

#include "common/uUtils.h"
#include "port/U_Lanvey_Ethernet.h"
#include "port/uPortLog.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>

namespace {

constexpr auto PauseAfterExchange = std::chrono::milliseconds(10);
// How often a worker waiting for a hand-over checks whether the program is closing.
constexpr auto ClosingCheck = std::chrono::milliseconds(100);

QString ExceptionText(const char *aWhat)
{
    return QStringLiteral("Ошибка: ") + QString::fromUtf8(aWhat);
}

} // namespace

TzFreePortThread::TzFreePortThread(std::mutex *aCS, std::shared_ptr<TzDeliveryGate> aGate, QObject *aReceiver)
    : CS(aCS), fGate(std::move(aGate)), fReceiver(aReceiver), fSerial(std::make_unique<TzSerialTransport>()),
      fConverter(std::make_unique<TzConverterTransport>())
{
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

// Await a request, have the transport exchange it, deliver the outcome.
void TzFreePortThread::Execute()
{
    while (!isInterruptionRequested()) {
        TzTransport *transport = fTransport;
        if (transport)
            transport->Maintain();
        std::shared_ptr<TzReq> request;
        {
            std::lock_guard lock(*CS);
            if (!RequestList.empty())
                request = RequestList.front();
        }
        if (request && transport) {
            const TzExchangeResult result = ExchangeOne(*transport, *request);
            if (!isInterruptionRequested())
                Deliver(request->UID, result);
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
            AwaitRequest(transport);
    }
    std::lock_guard lock(*CS);
    RequestList.clear();
}

TzExchangeResult TzFreePortThread::ExchangeOne(TzTransport &aTransport, const TzReq &aReq)
{
    TzExchangeRules rules;
    rules.EndByLength = AnswerEndRule == AnswerEnd::Length;
    rules.LateAnswerGuard = LateAnswerGuard;
    TzExchangeResult result;
    // A failure nobody expected ends this request only; the worker serves the next one.
    try {
        result = aTransport.Exchange(aReq.Cmd, rules);
    } catch (const std::exception &e) {
        result.FailureText = ExceptionText(e.what());
    } catch (...) {
        result.FailureText = ExceptionText("unknown failure");
    }
    if (!result.FailureText.isEmpty())
        result.ErrCode = ErrPortFailure;
    // A request without an answer of its own is handed over with an empty frame.
    if (result.ErrCode != ErrAnswerOK)
        result.Answer = TStringBytes::FromRaw(nullptr, 0);
    return result;
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

void TzFreePortThread::AwaitRequest(const TzTransport *aTransport)
{
    // An idle engine sleeps until a request is queued or the engine stops: no wake-ups while
    // nothing is asked. The bound only paces the transport's upkeep (reopening a lost line).
    const uint32_t bound = aTransport ? aTransport->IdleWaitMs() : TzTransport::IdleCheckMs;
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

// The hand-over: post the outcome to the interface thread and wait until it has been handled,
// or until the engine is being destroyed (then nobody will handle it).
void TzFreePortThread::Deliver(uint32_t aUID, const TzExchangeResult &aResult)
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
    record.UID = aUID;
    record.Answer = aResult.Answer;
    record.ErrCode = aResult.ErrCode;
    record.Time = aResult.TimeMs;

    const std::weak_ptr<TzDeliveryGate> weakGate = gate;
    const QString failure = aResult.FailureText;
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
                qCInfo(lcPort).noquote() << failure;
            // No lock is held here: the callback may queue requests, stop or destroy the engine.
            // A callback that fails is logged; the worker still learns that it has run.
            if (callback) {
                try {
                    callback(record);
                } catch (const std::exception &e) {
                    qCInfo(lcPort).noquote() << ExceptionText(e.what());
                } catch (...) {
                    qCInfo(lcPort).noquote() << ExceptionText("unknown failure");
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

// ---- the transports ----

bool TzFreePortThread::OpenTransport(const QString &aPortName)
{
    if (ByEthernet) {
        fConverter->SetFinding(ByEthernetFinding);
        fTransport = fConverter.get();
        return OpenEthernet();
    }
    fTransport = fSerial.get();
    if (IsActive())
        fSerial->Close();
    return OpenInterface(aPortName) == 0;
}

bool TzFreePortThread::CloseTransport()
{
    TzTransport *transport = fTransport;
    return transport ? transport->Close() : true;
}

uint32_t TzFreePortThread::OpenInterface(const QString &aPortName)
{
    LocDCB().Flags = DcbFlag::Binary;
    const uint32_t code = fSerial->Open(aPortName, LocDCB(), LocTimeouts());
    ErrorCode = code;
    return code;
}

bool TzFreePortThread::IsActive() const
{
    return fSerial->IsOpen();
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

std::shared_ptr<TEthernet_COM_Simulator> TzFreePortThread::CurrentECS() const
{
    return fConverter->Current();
}

void TzFreePortThread::SetTransportFactory(TzTransportFactory aFactory)
{
    fConverter->SetFactory(std::move(aFactory));
}

bool TzFreePortThread::SetIpAndPort(const QString &aIPAddr, int32_t aPort)
{
    return fConverter->SetIpAndPort(aIPAddr, aPort);
}

bool TzFreePortThread::OpenEthernet()
{
    return fConverter->Open(isRunning() || isFinished());
}
