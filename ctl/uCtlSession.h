#pragma once
// One run of quadrelctl against a module through the link: it connects, lets the probe confirm a
// Quadrel (nothing is written to anything else), carries out the command one request at a time,
// reads back what it switched, prints the result and tells its exit status.

#include "ctl/uCtlCommandLine.h"
#include "ctl/uCtlTarget.h"

#include <QJsonObject>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class TzQuadrelLink;
struct TzRequestOutcome;

// Exit statuses of the tool.
enum TzCtlExit { CtlOk = 0, CtlNoAnswer = 1, CtlUsage = 2, CtlRefused = 3 };

// Where the session's lines go: standard output and standard error in the program. Progress is
// text for a terminal that rewrites its line (no line end of its own).
struct TzCtlPrinter
{
    std::function<void(const QString &)> Out;
    std::function<void(const QString &)> Err;
    std::function<void(const QString &)> Progress;
};

class TzCtlSession : public QObject
{
    Q_OBJECT

public:
    TzCtlSession(const TzCtlRequest &aRequest, const TzCtlConnection &aConnection, TzCtlPrinter aPrinter,
                 QObject *aParent = nullptr);
    ~TzCtlSession() override;

    // Connects and carries the command out; Finished tells the end.
    void Start();
    // A stop signal: watch ends as asked (status 0), anything else as interrupted.
    void Interrupt();

signals:
    void Finished(int aExitStatus);

private:
    using TNext = std::function<void()>;

    void ProbeAnswered(bool aIsQuadrel);
    void RequestFinished(const TzRequestOutcome &aOutcome);
    void Fail(int aStatus, const QString &aText);
    void Succeed(const QJsonObject &aJson, const QStringList &aText);
    void End(int aStatus);

    // One request at a time: the next step runs once it has been answered.
    void Read(int aID, TNext aNext);
    void Write(int aID, double aValue, TNext aNext);
    void ReadEach(std::vector<int> aIDs, TNext aNext);
    void WriteEach(std::vector<std::pair<int, double>> aWrites, TNext aNext);
    int Value(int aID) const;
    bool OutputOn(int aOutput) const;
    bool SafeOn(int aOutput) const;

    void RunCommand();
    void Status();
    void Identify();
    void Switch(const std::vector<int> &aOutputs, std::optional<bool> aOn);
    void VerifySwitch(const std::vector<int> &aOutputs, const std::vector<bool> &aWanted);
    void SafeState();
    void PulseWidth();
    void Network();
    void Restart();
    void Watch();
    void WatchOutputs(int aStatesID);
    void WatchStatus(int aID);
    void WatchLine(QJsonObject aJson, const QString &aText);

    TzCtlRequest fRequest;
    TzCtlConnection fConnection;
    TzCtlPrinter fPrinter;
    std::unique_ptr<TzQuadrelLink> fLink;
    bool fEnded = false;

    // The request awaited and what follows it.
    std::optional<uint32_t> fAwaited;
    TNext fNext;

    // watch: the values last reported.
    bool fWatching = false;
    std::optional<int> fLastStates1to16, fLastStates17to20, fLastPower, fLastMillivolts;
};
