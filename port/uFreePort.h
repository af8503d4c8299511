#pragma once
// The port engine: TzFreePort takes finished Modbus frames on the interface thread, queues them,
// and its worker TzFreePortThread exchanges them one at a time with a serial line or, over
// Ethernet, with the Lanvey-Ethernet converter. Every outcome is handed to the interface thread
// synchronously: the worker waits until the callback has run, or until the engine stops.

#include "common/uStringBytes.h"
#include "port/uConverterTransport.h"
#include "port/uRequestQueue.h"
#include "port/uSerialSettings.h"
#include "port/uSerialTransport.h"
#include "port/uTransport.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TEthernet_COM_Simulator;

// Process-wide Ethernet settings, written by the interface thread before an engine starts.
inline constexpr const char *EthernetFactoryHost = "192.168.1.100";
extern QString EthernetHost;
extern int32_t EthernetPort;
extern int32_t EthernetWaitTime;
extern int32_t EthernetTries;
extern int32_t EthernetFindTries;

// How the serial engine decides that an answer has ended.
enum class AnswerEnd {
    // As soon as a complete frame of a length the request allows has arrived with a valid CRC;
    // anything else ends by the line's silence. Bytes that follow such a frame are drained, and
    // before each request the line has been silent for 3.5 characters (1.75 ms above
    // 19200 bit/s). The worker does not pause between queued requests.
    Length,
    // Only by the line's silence (ReadIntervalTimeout), with a 10 ms pause after every exchange.
    Gap,
};
// The rule a new engine starts with; the options file sets it (attribute answerend of comport).
extern AnswerEnd DefaultAnswerEnd;

// Request numbers run 1..MaxRequestUID, then 0, 1, ...
inline constexpr uint32_t MaxRequestUID = 20000000;

// The outcome of one exchange.
struct TzAnswerRec
{
    int32_t ComPort = 0;
    uint32_t UID = 0;
    TStringBytes Answer; // empty unless ErrCode is 0
    uint32_t ErrCode = 0;
    // ms from the moment the request could go (after the waits that belong to the requests
    // before it) to the end of reception
    uint32_t Time = 0;
};

// The answer callback, bound to its object by the caller (a lambda or std::bind_front).
using TAsyncAnswer = std::function<void(const TzAnswerRec &aAnswerRec)>;

// The port name an engine made from a number opens: "COMn" on Windows, "/dev/ttySn" elsewhere.
QString DefaultPortName(int32_t aComPort);

// What the worker and its facade share for the hand-over of outcomes. A delivery posted to the
// interface thread keeps only a weak reference, so it finds out on arrival whether its engine
// still exists.
struct TzDeliveryGate
{
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Stopping = false;   // the engine is being destroyed: nobody waits for deliveries any more
    bool Posted = false;     // the worker waits for the delivery it posted
    bool Delivered = false;  // the delivery posted last has finished
    bool InDelivery = false; // a callback is running on the interface thread
    TAsyncAnswer Callback;
};

class TzFreePortThread : public QThread
{
public:
    TzFreePortThread(std::mutex *aCS, std::shared_ptr<TzDeliveryGate> aGate, QObject *aReceiver);
    ~TzFreePortThread() override;

    // Queues a frame and gives its request number; nothing when refused (an empty frame, or the
    // same frame already queued).
    std::optional<uint32_t> RegCmd(const TStringBytes &aCmd, int32_t aDevAddr, int32_t aPriority);
    // Picks the transport by ByEthernet and ByEthernetFinding and opens it: the serial line of
    // this name, or the converter's sockets. False when it could not be opened.
    bool OpenTransport(const QString &aPortName);
    // Closes the transport picked last; the worker keeps running and fails what is still queued.
    bool CloseTransport();

    // Whether the serial line is open.
    bool IsActive() const;
    // The serial line went away and is being opened again every second (see TzSerialTransport).
    bool LineLost() const { return fSerial->LineLost(); }
    // Refused (false) while the engine is open over Ethernet: the worker uses those sockets.
    bool SetIpAndPort(const QString &aIPAddr, int32_t aPort);
    void SetTransportFactory(TzTransportFactory aFactory);
    // Wakes the worker from its pause and from a pending hand-over for good.
    void BeginStopping();

    TzDCB &LocDCB();
    TzTimeouts &LocTimeouts();
    std::shared_ptr<TEthernet_COM_Simulator> CurrentECS() const;

    // The request number handed out last; for tests that count requests or make numbers wrap.
    uint32_t IssuedUID() const;
    void SetIssuedUID(uint32_t aUID);

    std::atomic<int32_t> ComPort{0};
    std::atomic<bool> ByEthernet{false};
    std::atomic<bool> ByEthernetFinding{false};
    std::atomic<AnswerEnd> AnswerEndRule{DefaultAnswerEnd};
    // After a request that got no answer of its own, listen for one more total wait before the
    // next request and drop what arrives, so a late answer is never taken for the next one.
    std::atomic<bool> LateAnswerGuard{true};
    // Outcome of the last open of the serial line: 0, or the code of the step that failed.
    std::atomic<uint32_t> ErrorCode{0};

    // The queue, head first, with its duplicate check; guarded by *CS.
    TzRequestQueue RequestList;
    std::mutex *CS;

protected:
    void run() override { Execute(); }

private:
    // The steps of OpenTransport: the serial line (0, or the code of the step that failed), or the
    // converter's sockets (false when none could be bound).
    uint32_t OpenInterface(const QString &aPortName);
    bool OpenEthernet();
    void Execute();
    TzExchangeResult ExchangeOne(TzTransport &aTransport, const TzReq &aReq);
    void Deliver(uint32_t aUID, const TzExchangeResult &aResult);
    void PauseAfterExchange();
    void AwaitRequest(const TzTransport *aTransport);
    bool QueueWaiting() const;

    // The request number handed out last; guarded by *CS.
    uint32_t fIssuedUID = 0;
    std::shared_ptr<TzDeliveryGate> fGate;
    QObject *fReceiver; // lives in the interface thread; deliveries are posted to it

    std::unique_ptr<TzDCB> fLocDCB;
    std::unique_ptr<TzTimeouts> fLocTimeouts;

    std::unique_ptr<TzSerialTransport> fSerial;
    std::unique_ptr<TzConverterTransport> fConverter;
    // The transport picked by the last open; the worker exchanges every request through it.
    std::atomic<TzTransport *> fTransport{nullptr};
};

class TzFreePort
{
public:
    explicit TzFreePort(int32_t aComPort);
    // Opens the serial port of this name; ComPort is the number made of its digits.
    explicit TzFreePort(const QString &aPortName);
    ~TzFreePort();
    TzFreePort(const TzFreePort &) = delete;
    TzFreePort &operator=(const TzFreePort &) = delete;

    bool Start();
    // Closes the port or the sockets; the worker keeps running and fails what is still queued.
    bool Stop();
    // Queue a frame; the request's number comes back, or nothing when the frame is refused (empty,
    // or already queued). Numbers run 1..MaxRequestUID, then 0, 1, ...: 0 is a valid number.
    std::optional<uint32_t> SendCmd(const TStringBytes &aCmd, int32_t aDevAddr);
    std::optional<uint32_t> SendCmdForce(const TStringBytes &aCmd, int32_t aDevAddr, int32_t aPriority);
    void ClearRequestList();
    // Refused (false) while the engine is open over Ethernet.
    bool SetIpAndPort(const QString &aIPAddr, int32_t aPort);

    TAsyncAnswer OnAsyncAnswerProc() const { return fAsyncAnswerProc; }
    void SetOnAsyncAnswerProc(const TAsyncAnswer &aProc);
    int32_t ComPort() const { return fComPort; }
    void SetComPort(int32_t aComPort);
    QString PortName() const { return fPortName; }
    void SetPortName(const QString &aPortName);
    TzDCB &LocDCB() { return Port->LocDCB(); }
    TzTimeouts &LocTimeouts() { return Port->LocTimeouts(); }
    bool ByEthernet() const { return Port->ByEthernet; }
    void SetByEthernet(bool aValue) { Port->ByEthernet = aValue; }
    bool ByEthernetFinding() const { return Port->ByEthernetFinding; }
    void SetByEthernetFinding(bool aValue) { Port->ByEthernetFinding = aValue; }
    // How answers end on the serial line; DefaultAnswerEnd at creation.
    AnswerEnd GetAnswerEnd() const { return Port->AnswerEndRule; }
    void SetAnswerEnd(AnswerEnd aValue) { Port->AnswerEndRule = aValue; }
    // The panel's guard against late answers (on at creation); the bus search turns it off to
    // keep its pass time.
    bool LateAnswerGuard() const { return Port->LateAnswerGuard; }
    void SetLateAnswerGuard(bool aValue) { Port->LateAnswerGuard = aValue; }
    // The worker has posted an outcome and waits for it to be handled.
    bool HandOverPending() const;
    // The serial line went away and is being opened again every second.
    bool LineLost() const { return Port->LineLost(); }
    // Replaces the maker of the converter's socket layer; call before Start.
    void SetTransportFactory(TzTransportFactory aFactory) { Port->SetTransportFactory(std::move(aFactory)); }

    std::unique_ptr<TzFreePortThread> Port;

private:
    TAsyncAnswer fAsyncAnswerProc;
    int32_t fComPort = 0;
    QString fPortName;
    bool fNameFromNumber = false;
    std::mutex CS;
    std::shared_ptr<TzDeliveryGate> fGate;
    QObject *fReceiver;
};
