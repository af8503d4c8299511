#pragma once
// The Lanvey-Ethernet converter as the engine's transport: each request goes in a datagram and
// is tried again when no answer comes; a socket call that fails gets a fresh TEthernet_COM_Simulator;
// answers to tries that came too late are waited for and dropped before the next request, unless
// the converter is known to echo sequence numbers (then they are known by their numbers).

#include "port/uTransport.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class TEthernet_COM_Simulator;

// Makes the converter's socket layer; tests pass their own to exercise the re-creation rule.
using TzTransportFactory = std::function<std::unique_ptr<TEthernet_COM_Simulator>()>;

class TzConverterTransport : public TzTransport
{
public:
    // Takes the process-wide Ethernet settings as they are now.
    TzConverterTransport();
    ~TzConverterTransport() override;

    // Takes the Ethernet settings again and opens the sockets; false when none could be bound.
    // While aWorkerRunning a new socket layer takes the place of the current one, since the
    // worker may be inside it.
    bool Open(bool aWorkerRunning);
    // Closes the sockets; an exchange under way ends at once.
    bool Close() override;
    // Refused (false) while open: the worker uses those sockets.
    bool SetIpAndPort(const QString &aIPAddr, int32_t aPort);
    // The bus search asks once per probe and bounds the re-creations by its own count of tries.
    void SetFinding(bool aFinding) { fFinding = aFinding; }
    void SetFactory(TzTransportFactory aFactory);
    // Replaces the socket layer by a fresh one, opened when the transport is open.
    void ReInit();
    std::shared_ptr<TEthernet_COM_Simulator> Current() const;

    TzExchangeResult Exchange(const TStringBytes &aCmd, const TzExchangeRules &aRules) override;

private:
    void AwaitLateDatagrams();
    void Send(const TStringBytes &aCmd);
    TStringBytes Receive();
    int CallBound() const;
    std::shared_ptr<TEthernet_COM_Simulator> Make();
    int Swap(std::shared_ptr<TEthernet_COM_Simulator> aFresh, bool aOpen);

    // How many answers may still come after the last exchange, and until when (ms tick); they
    // are dropped before the next request is sent.
    int fLateDatagrams = 0;
    uint32_t fLateDatagramsUntil = 0;

    // Taken while the transport opens, closes or re-creates its socket layer, so these never cross.
    std::mutex fOpenMutex;
    // The socket layer; swapped under fECSMutex, used by the worker through its own reference.
    mutable std::mutex fECSMutex;
    std::shared_ptr<TEthernet_COM_Simulator> ECS;
    TzTransportFactory fFactory;
    // Ethernet settings taken on the interface thread when the engine starts, so the worker
    // never reads the globals while the panel writes them.
    QString fHost;
    int32_t fPort = 0;
    int32_t fWaitTime = 0;
    std::atomic<int32_t> fTries{0};
    std::atomic<int32_t> fFindTries{0};
    std::atomic<bool> fFinding{false};
    std::atomic<bool> fOpen{false};
};
