#pragma once
// TzJournal: what happens to the module, as rows for the journal. It listens to the link only:
// connections made, lost, failed and ended; every change of an output's state as read, with who
// asked for it (the operator, a light sequence, an all-outputs command, the web bridge) or the
// module itself when nobody here did; the power alarm raised and cleared; a restart, network and
// pulse-width settings once the module has taken them; and, while connected, one sample a second.
// Once a second it hands what it has collected to its sink (the journal's writer thread): the
// interface thread never waits for the disk.

#include "journal/uJournalRows.h"
#include "link/uQuadrelLink.h"

#include <QObject>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>

class QTimer;

// The words stored in `source`.
QString JournalSourceWord(TzCommandSource aSource);
inline const QString JournalModuleSource = QStringLiteral("module");

class TzJournal : public QObject
{
    Q_OBJECT

public:
    using TBatchSink = std::function<void(TzJournalBatch)>;
    using TClock = std::function<qint64()>; // milliseconds since the epoch, UTC

    TzJournal(TzQuadrelLink &aLink, TBatchSink aSink, QObject *aParent = nullptr);
    ~TzJournal() override;

    void SetClock(TClock aClock) { fClock = std::move(aClock); }
    // A command's own change is expected this long; a change seen later counts as the module's.
    static constexpr qint64 CommandExpectMs = 10000;

    // Takes a sample when connected and hands everything collected to the sink (the timer does
    // both once a second; tests and the end of the program call it directly).
    void Tick();

private:
    struct TExpected
    {
        bool On = false;
        QString Source;
        qint64 UntilMs = 0;
    };
    struct TWrite
    {
        int Register = 0;
        int Value = 0;
    };

    void Add(const QString &aKind, const QString &aText, int aOutput = 0, std::optional<qint64> aOld = {},
             std::optional<qint64> aNew = {}, const QString &aSource = {});
    void ConnectionMade();
    void OutputsRead(int aStatesID);
    void PowerRead(int aStatus);
    void PulseBlockRead(const TzTag &aBlock);
    void WriteQueued(const TzPortObsRec &aRecord);
    void RequestFinished(const TzRequestOutcome &aOutcome);
    void WriteApplied(const TWrite &aWrite);
    void TellAppliedSettings();
    std::optional<int> Value(int aID) const;
    QString Where() const;

    TzQuadrelLink &fLink;
    TBatchSink fSink;
    TClock fClock;
    QTimer *fTimer = nullptr;
    TzJournalBatch fBatch;

    // The outputs as last read (bit n - 1), per states register; unknown after a new connection.
    std::optional<int> fStates1to16, fStates17to20;
    quint32 fPulsing = 0; // outputs whose fill factor makes them switch by themselves
    // The commands given for each output and not yet seen, oldest first: a command's change may
    // be read after the next command was given (a sequence faster than the poll).
    std::array<std::deque<TExpected>, 21> fExpected;
    std::optional<bool> fPowerAlarm;

    // Writes queued (by request number) and what they set once the module has taken them,
    // gathered so that one apply makes one event.
    std::map<uint32_t, TWrite> fWrites;
    std::map<int, int> fNetworkApplied;              // register -> value
    std::map<int, std::map<int, int>> fPulseApplied; // output -> offset -> value
};
