#pragma once
// Faults on demand: how the simulator distorts, delays or withholds its answers, switched at run
// time from any thread. Plan() turns one answer into the transmissions that actually go out.

#include "sim/uSimTypes.h"

#include <mutex>
#include <string>

// Where a decoy datagram (from a foreign address, or of version 2 or type 2) goes.
enum class TzSimDecoy {
    Off,
    Before,  // a decoy precedes the real answer; it carries the answer with a broken CRC, so a
             // master that wrongly takes it reports a checksum error instead of passing
    Instead, // the decoy, carrying the correct answer, replaces the real answer
};

struct TzSimFaultSettings
{
    int AnswerDelayMs = 0; // every answer goes out this late
    bool Silent = false;   // requests are logged, nothing is answered
    bool CorruptCrc = false;
    // 1..99: that share of the answers gets a broken CRC, spread evenly (10 breaks every tenth
    // answer); CorruptCrc breaks them all.
    int CorruptCrcPercent = 0;
    int StaleCount = 0; // the next StaleCount answers go out StaleDelayMs late
    int StaleDelayMs = 1000;
    // The converter only (UDP).
    TzSimDecoy ForeignSender = TzSimDecoy::Off;
    TzSimDecoy Version2 = TzSimDecoy::Off;
    TzSimDecoy Type2 = TzSimDecoy::Off;
    int LoseFirstCount = 0;    // the next LoseFirstCount requests are lost on the way in
    int LossPercent = 0;       // 1..100: that share of the requests is lost, spread evenly
    int DuplicateAfterMs = -1; // 0 or more: every answer goes out twice, the copy this late
    bool Reorder = false;      // every second answer waits and goes out after the next one
};

enum class TzSimSendKind {
    Answer,
    Foreign,
    Version2,
    Type2,
};

struct TzSimPlannedSend
{
    int DelayMs = 0;
    TzSimSendKind Kind = TzSimSendKind::Answer;
    TSimBytes Frame;
    const char *Note = ""; // written to the frame log beside the bytes
};

// "before", "instead" or "off", as the program's options and console commands name a decoy mode;
// false (aMode untouched) for any other text.
bool ParseSimDecoy(const std::string &aText, TzSimDecoy &aMode);

class TzSimFaults
{
public:
    TzSimFaultSettings Settings() const;
    void Apply(const TzSimFaultSettings &aSettings);
    void Reset() { Apply({}); }

    void SetAnswerDelay(int aMs);
    void SetSilent(bool aOn);
    void SetCorruptCrc(bool aOn);
    void SetCorruptCrcPercent(int aPercent);
    void SetStaleAnswers(int aCount, int aDelayMs);
    void SetForeignSender(TzSimDecoy aMode);
    void SetVersion2(TzSimDecoy aMode);
    void SetType2(TzSimDecoy aMode);
    void SetLoseFirst(int aCount);
    void SetLossPercent(int aPercent);
    void SetDuplicateAfter(int aMs); // below 0: off
    void SetReorder(bool aOn);

    // Whether the request datagram just received is lost (the converter only): consumes one of
    // the first ones to lose, or counts towards the share lost.
    bool LoseDatagram();

    // The transmissions for one answer, in sending order. aDatagrams: the transport can send the
    // converter's decoys (they are dropped on a serial line). Consumes one stale answer.
    std::vector<TzSimPlannedSend> Plan(const TSimBytes &aAnswer, bool aDatagrams);

private:
    mutable std::mutex fMutex;
    TzSimFaultSettings fSettings;
    int fCorruptCredit = 0; // percent points gathered towards the next broken answer
    int fLossCredit = 0;    // the same towards the next lost request
};

// The frame with its last (CRC) byte inverted.
TSimBytes SimCorruptCrc(TSimBytes aFrame);
