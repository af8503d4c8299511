// The Lanvey-Ethernet converter as the engine's transport.

#include "port/uConverterTransport.h"

#include "common/uUtils.h"
#include "port/U_Lanvey_Ethernet.h"
#include "port/uFreePort.h"

#include <algorithm>

namespace {

// Every receive from the converter starts this late (see TEthernet_COM_Simulator::Recv).
constexpr uint32_t EthernetReceiveDelayMs = 15;

} // namespace

TzConverterTransport::TzConverterTransport()
{
    fHost = EthernetHost;
    fPort = EthernetPort;
    fWaitTime = EthernetWaitTime;
    ReInit();
}

TzConverterTransport::~TzConverterTransport() = default;

// ---- one exchange ----

TzExchangeResult TzConverterTransport::Exchange(const TStringBytes &aCmd, const TzExchangeRules &aRules)
{
    // Before the exchange's time starts: this wait belongs to the requests before.
    AwaitLateDatagrams();
    const uint32_t start = GetTickCount32();
    const int attempts = fFinding ? 1 : int(fTries);
    int triesSent = 0;
    uint32_t lastSendTick = 0;
    TStringBytes answer;
    for (int i = 0; i < attempts; ++i) {
        Send(aCmd);
        ++triesSent;
        lastSendTick = GetTickCount32();
        answer = Receive();
        if (answer.Size() > 0)
            break;
        // A stopped engine ends the exchange at once instead of trying again.
        if (!fOpen)
            break;
    }
    TzExchangeResult result;
    result.TimeMs = GetTickCount32() - start;
    const QByteArray request = aCmd.AsBytes(), received = answer.AsBytes();
    result.ErrCode = JudgeAnswer(reinterpret_cast<const uint8_t *>(request.constData()), uint32_t(request.size()),
                                 reinterpret_cast<const uint8_t *>(received.constData()), uint32_t(received.size()));
    if (result.ErrCode == ErrAnswerOK)
        result.Answer = answer;
    // Every try that got no answer of its own may still be answered. Where the converter echoes
    // sequence numbers such answers are known by their number; otherwise they would be taken
    // for the next request's answer, so they are waited for and dropped.
    if (aRules.LateAnswerGuard) {
        const int unanswered = triesSent - (answer.Size() > 0 ? 1 : 0);
        const std::shared_ptr<TEthernet_COM_Simulator> transport = Current();
        if (unanswered > 0 && transport && transport->EchoState() != TEthernet_COM_Simulator::TEcho::Echoes) {
            fLateDatagrams = unanswered;
            fLateDatagramsUntil = lastSendTick + EthernetReceiveDelayMs
                                  + 2 * uint32_t(std::max(0, transport->WaitTime()));
        }
    }
    return result;
}

void TzConverterTransport::AwaitLateDatagrams()
{
    const int count = std::exchange(fLateDatagrams, 0);
    const int32_t left = int32_t(fLateDatagramsUntil - GetTickCount32());
    if (count > 0 && left > 0)
        Current()->DropLateAnswers(count, left);
}

int TzConverterTransport::CallBound() const
{
    return std::max(1, int(fFinding ? fFindTries : fTries));
}

// A socket call that fails gets a fresh socket layer, up to the bound of calls.
void TzConverterTransport::Send(const TStringBytes &aCmd)
{
    for (int i = 0; i < CallBound(); ++i) {
        try {
            Current()->Send(aCmd);
            return;
        } catch (const std::exception &) {
            ReInit();
        }
    }
}

TStringBytes TzConverterTransport::Receive()
{
    for (int i = 0; i < CallBound(); ++i) {
        try {
            return Current()->Recv();
        } catch (const std::exception &) {
            ReInit();
        }
    }
    return {};
}

// ---- the socket layer ----

std::shared_ptr<TEthernet_COM_Simulator> TzConverterTransport::Current() const
{
    std::lock_guard lock(fECSMutex);
    return ECS;
}

void TzConverterTransport::SetFactory(TzTransportFactory aFactory)
{
    fFactory = std::move(aFactory);
    ReInit();
}

// A socket layer with the engine's Ethernet settings; made outside any lock (the maker may fail).
std::shared_ptr<TEthernet_COM_Simulator> TzConverterTransport::Make()
{
    std::shared_ptr<TEthernet_COM_Simulator> fresh = fFactory ? std::shared_ptr<TEthernet_COM_Simulator>(fFactory())
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

// Puts a new socket layer in place of the current one. Under the lock that Close takes, so one
// re-created while the engine stops is either closed by the stop or never opened. The old one is
// closed first: it holds the converter's port.
int TzConverterTransport::Swap(std::shared_ptr<TEthernet_COM_Simulator> aFresh, bool aOpen)
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

void TzConverterTransport::ReInit()
{
    std::shared_ptr<TEthernet_COM_Simulator> fresh = Make();
    // One re-created while the engine runs is opened at once, or every later exchange of this
    // engine would wait in vain; one re-created after a stop stays closed.
    std::lock_guard open(fOpenMutex);
    Swap(std::move(fresh), fOpen);
}

bool TzConverterTransport::SetIpAndPort(const QString &aIPAddr, int32_t aPort)
{
    // The worker sends and receives through the open sockets: their addresses stay as they are.
    std::lock_guard open(fOpenMutex);
    if (fOpen)
        return false;
    std::lock_guard lock(fECSMutex);
    ECS->ClearAdress();
    ECS->AddAddress(aIPAddr, uint16_t(aPort));
    return true;
}

bool TzConverterTransport::Open(bool aWorkerRunning)
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
    if (!aWorkerRunning) {
        // Nobody uses the socket layer yet: it takes the settings in place.
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
        fOpen = bound > 0;
    } else {
        // The worker may be inside the current socket layer: a new one takes its place.
        std::shared_ptr<TEthernet_COM_Simulator> fresh = Make();
        std::lock_guard open(fOpenMutex);
        bound = Swap(std::move(fresh), true);
        fOpen = bound > 0;
    }
    if (bound == 0)
        Close();
    return bound > 0;
}

bool TzConverterTransport::Close()
{
    std::lock_guard open(fOpenMutex);
    fOpen = false;
    Current()->Close();
    return true;
}
