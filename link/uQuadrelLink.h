#pragma once
// TzQuadrelLink: the connection to one Quadrel module, without a widget. It owns the port engine,
// the device with its register template, the probe and its one-second decision, the first poll
// cycle, the periodic poll, the answer dispatch with its table of pending requests, the writes
// handed over in order, the stale rule and the count of Modbus exceptions. Whoever shows or keeps
// what happens (the panel, a journal, a command-line tool) calls it and listens to its signals.
//
// Everything runs on the thread that owns the link: the engine hands every outcome over to it.

#include "model/uGlobals.h"
#include "port/uPortTraffic.h"
#include "port/uSerialSettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class TzFreePort;
struct TzAnswerRec;

// What a connection uses: the serial port or the converter, the line, the module's address.
struct TzLinkSettings
{
    int Address = 16;
    bool ByEthernet = false;
    // The serial line.
    QString PortName; // the port's name ("/dev/ttyUSB0", "COM3")
    int ComPort = 0;  // its number, for the observers' announcements
    int BaudRate = 9600;
    int FormatItem = 0;                           // item of the line-format list: RTU 8N1, 8O1, 8E1, 8N2
    TzLineTimeouts Timeouts = ModbusLineTimeouts; // the panel's by default
    // The converter.
    QString Host;
    int UdpPort = 0;
    int WaitMs = 0;
    // How long the probe may take before the attempt counts as failed.
    int ProbeWaitMs = 1000;
    // After the probe: read every tag once and then poll (the panel), or do nothing until asked
    // (a tool that reads and writes only what it was told to).
    bool FirstCycleAndPoll = true;
};

// How one request ended: the engine's outcome (0 an answer, ErrNoAnswer, ErrAnswerCRC,
// ErrPortFailure, ...) and, for an answer, the Modbus exception code it carried (0 for none).
struct TzRequestOutcome
{
    uint32_t Request = 0;
    int ID = 0; // the tag's identifier
    uint32_t ErrCode = 0;
    int Exception = 0;
    bool Answered() const { return ErrCode == 0 && Exception == 0; }
};

// Who asked for a change of an output: the operator (mouse or keyboard), a light sequence, an
// all-outputs command or the web bridge. Callers other than the operator name themselves with a
// TzCommandSourceScope around their calls.
enum class TzCommandSource { Operator, Sequence, AllOutputs, WebBridge };

// Colours of the lines the link writes to the log: a note or a failure.
enum class TzLinkLogKind { Note, Failure };

class TzQuadrelLink : public QObject
{
    Q_OBJECT

public:
    explicit TzQuadrelLink(QObject *aParent = nullptr);
    ~TzQuadrelLink() override;

    // --- the register template ---
    // Loads the module's register template (a device for aAddress) from the resources. False when
    // it could not be read; aException then holds the text of an exception, if one was thrown.
    bool LoadTemplate(int aAddress, QString *aException = nullptr);
    bool TemplateLoaded() const { return fTemplateLoaded; }
    TzDevice *Device() const { return fDevice.get(); }
    // Adds the twenty outputs' own tags (state, pulse-width parameters, safe state) to a device.
    static void AddOtherQuadrelTags(TzDevice *aDevice);

    // --- connection ---
    // Opens the port or the converter and sends the probe; the answer (ProbeAnswered) or a second
    // without one (ConnectFailed) decides. False when the port could not be opened (the second
    // still runs out as for any failed attempt).
    bool Connect(const TzLinkSettings &aSettings);
    // Lets go of the module: the poll and the probe's wait stop, writes not yet handed over are
    // dropped, the engine closes the port.
    void Disconnect();
    bool IsConnected() const { return fConnected; }
    // The settings of the last connection attempt.
    const TzLinkSettings &Settings() const { return fSettings; }
    // The device type the last probe's answer named (73 for a Quadrel); -1 before any answer.
    int ProbedDeviceType() const { return fProbedType; }
    // Counts connection attempts, so that what belongs to one (a restart's wait) is told apart.
    quint64 ConnectionSerial() const { return fConnectionSerial; }
    bool ByEthernet() const;
    // The engine of the current connection, null before the first one; for the observers'
    // statistics and for tests.
    TzFreePort *Engine() const { return fEngine.get(); }

    // --- register access, by tag or by template identifier ---
    bool GetModbusRegRTU(TzTag *aTag);
    bool GetModbusRegRTU2(int aID);
    bool SetModbusRegRTU(TzTag *aTag, double aValue);
    void SetRegByID(int aID, double aValue, bool aForced);
    void SendDOUT(int aIndex, bool aOn);
    // The last good value of a tag: false for a tag never answered, failed, disabled or unknown.
    bool TryValueByID(int aID, int &aValue) const;
    bool TryValueByID(int aID, double &aValue) const;
    int PendingAnswers() const { return int(fPending.size()); }
    // A read or a write of a tag (by identifier) queued near the head of the engine's queue, for
    // a caller that waits for its outcome (RequestFinished): the request's number, or nothing
    // when not connected, the tag is unknown or the engine refused it.
    std::optional<uint32_t> RequestRead(int aID);
    std::optional<uint32_t> RequestWrite(int aID, double aValue);
    // Drops the requests still queued in the engine (not those on the line).
    void ClearRequests();

    // --- writes that reach the module in the order given ---
    // Forced writes jump the queue one by one, each to the same place near its head, so several
    // queued at once would go out in another order; these are handed over one at a time, the
    // next when the previous one's answer (or failure) is in.
    void SetRegInOrder(int aID, double aValue);
    void SendDOUTInOrder(int aIndex, bool aOn);
    void ClearOrderedWrites();
    int OrderedWritesWaiting() const { return int(fOrderedWrites.size()); }

    // --- who asks ---
    TzCommandSource CommandSource() const { return fCommandSource; }
    void SetCommandSource(TzCommandSource aSource) { fCommandSource = aSource; }

    // --- first cycle and poll ---
    // The first cycle is still being queued (a large template is queued over several turns).
    bool FirstCycleQueuing() const { return fFirstCycleQueuing; }
    bool Polling() const;
    void StopPoll();
    // The states of the outputs read so far belong to the previous connection: marked unread.
    void ForgetOutputValues();

    // --- stale values ---
    // Marks the values stale once the poll has gone without an answer for StaleAfterMs.
    void CheckStale();
    bool ValuesStale() const { return fValuesStale; }
    // "Нет ответа от модуля с HH:mm:ss": since when the module has not answered.
    QString StaleHint() const;

    // Counts of Modbus exception codes 1..8, and of all others (9); element 0 unused.
    const std::array<int, 10> &ModbusErrors() const { return fModbusErrors; }

    // The engine's outcome of one request; the engine calls this on the link's thread.
    void ModbusAsyncAnswer(const TzAnswerRec &aAnswerRec);

signals:
    // The probe's answer came: true when it names a Quadrel (the link is connected then).
    void ProbeAnswered(bool aIsQuadrel);
    // A second passed without a Quadrel answering the probe; the port is closed again.
    void ConnectFailed();
    // Every enabled tag has been read once; the periodic poll starts after this signal.
    void FirstCycleDone();
    // A register of these was answered and decoded.
    void OutputsRead(int aID);             // 60015 or 60016
    void PulseWidthBlockRead(TzTag *aTag); // 600170 or 600470
    void SafeStatesRead(TzTag *aTag);      // 60013 or 60014
    void StatusRead(int aID);              // supply voltage or power status
    // The values became stale (with the hint saying since when) or fresh again.
    void StaleChanged(bool aStale, const QString &aHint);
    // Traffic for the port observers.
    void RequestQueued(const TzPortObsRec &aRecord);
    void AnswerHandled(const TzPortObsRec &aRecord);
    // A line for the log, and the running count of a Modbus exception code.
    void LogLine(const QString &aText, TzLinkLogKind aKind);
    void ExceptionCounted(int aCode, int aCount);
    // Every request of a tag ends here once, answered or not, after its answer has been decoded.
    void RequestFinished(const TzRequestOutcome &aOutcome);
    // A write that sets an output was queued (an output's coil, or a states register for each of
    // its outputs), with who asked for it.
    void OutputCommanded(int aOutput, bool aOn, TzCommandSource aSource);
    // A connection that had been confirmed was let go (Disconnect).
    void Disconnected();

private:
    void SendProbe();
    void ProbeAnswer(TzTag *aTag);
    void ProbeTimeUp();
    void LetsDoIt();
    void QueueFirstCycleSlice(quint64 aRun);
    void AfterFirstUpdate();
    void OprosTimerTimer();
    void QueuePollCycle();
    void QueueDuePollReads();
    bool PollCycleOut();
    void PollReadAnswered(uint32_t aUID);
    // Queues a tag's read or write on the engine and records it for its answer: the request's
    // number, or nothing when the engine refused it.
    std::optional<uint32_t> QueueRead(TzTag *aTag);
    std::optional<uint32_t> QueueWrite(TzTag *aTag, double aValue);
    std::optional<uint32_t> QueueFrame(const TzTag &aTag, const TStringBytes &aFrame, int aPriority);
    void SendNextOrderedWrite();
    void TellOutputCommands(int aID, double aValue);
    void OrderedWriteAnswered(uint32_t aUID);
    void RegisterPending(TzTag *aTag, const TStringBytes &aFrame, uint32_t aUID);
    void AnnounceRequest(const TzTag &aTag, const TStringBytes &aFrame, uint32_t aUID, int aFunction,
                         const QString &aValue);
    void TellAnswered(TzTag *aTag);
    void MarkStale(bool aStale);
    void Log(const QString &aText, TzLinkLogKind aKind);

    std::unique_ptr<TzDevice> fDevice;
    bool fTemplateLoaded = false;
    std::unique_ptr<TzFreePort> fEngine;
    int fComPort = 0;
    bool fConnected = false;
    TzLinkSettings fSettings;
    TzCommandSource fCommandSource = TzCommandSource::Operator;
    bool fFirstCycleAndPoll = true;
    int fProbeAddress = 16;
    int fProbedType = -1;
    quint64 fConnectionSerial = 0;

    // The probe: its own one-tag device, and the second it is given.
    std::unique_ptr<TzDevice> fProbeDevice;
    QTimer *fProbeTimer = nullptr;

    // Requests awaiting their answers, oldest first. Answers mostly take the oldest entry, which a
    // deque removes without moving the rest (a large template queues many thousand on connect).
    std::deque<std::unique_ptr<TzModbusAnswer>> fPending;

    // The first cycle being queued: which run, the next tag to queue, the last readable one so far.
    quint64 fFirstCycleRun = 0;
    size_t fFirstCycleNext = 0;
    TzTag *fFirstCycleLast = nullptr;
    bool fFirstCycleQueuing = false;

    // The periodic poll. The status reads of the cycle still awaiting their answers (request
    // numbers), the reads the engine refused for now (queued with its next answer), and whether
    // a timer tick found the cycle still out: the next one then follows its last answer.
    QTimer *fPollTimer = nullptr;
    std::vector<uint32_t> fPollReadsOut;
    std::vector<int> fPollReadsDue;
    bool fPollOverdue = false;

    struct TzOrderedWrite
    {
        int ID = 0;
        double Value = 0;
    };
    std::deque<TzOrderedWrite> fOrderedWrites;
    // The write handed to the engine and not yet answered: its connection and request number.
    // Request numbers start anew with every engine, so the connection is part of the key.
    bool fOrderedWriteOut = false;
    quint64 fOrderedWriteConnection = 0;
    uint32_t fOrderedWriteUID = 0;

    // When the module last answered (any answer without a transport error), and whether the
    // values are marked stale.
    QElapsedTimer fLastAnswer;
    bool fValuesStale = false;

    std::array<int, 10> fModbusErrors{};
};

// Names the source of the output commands given while it lives; the previous one comes back after.
class TzCommandSourceScope
{
public:
    TzCommandSourceScope(TzQuadrelLink &aLink, TzCommandSource aSource) : fLink(aLink), fPrevious(aLink.CommandSource())
    {
        fLink.SetCommandSource(aSource);
    }
    ~TzCommandSourceScope() { fLink.SetCommandSource(fPrevious); }
    TzCommandSourceScope(const TzCommandSourceScope &) = delete;
    TzCommandSourceScope &operator=(const TzCommandSourceScope &) = delete;

private:
    TzQuadrelLink &fLink;
    TzCommandSource fPrevious;
};

// The resource the link loads its register template from (":/" + this name).
extern QString QuadrelTemplateResource;

// How long the poll may fail before the values are marked stale.
inline constexpr int StaleAfterMs = 3000;

// A device with the Quadrel's identity at that address, before its template is loaded.
std::unique_ptr<TzDevice> NewQuadrelDevice(int aAddress);
