#include "sim/uSimFaults.h"

#include <algorithm>

TSimBytes SimCorruptCrc(TSimBytes aFrame)
{
    if (!aFrame.empty())
        aFrame.back() ^= 0xFF;
    return aFrame;
}

TzSimFaultSettings TzSimFaults::Settings() const
{
    std::lock_guard lock(fMutex);
    return fSettings;
}

void TzSimFaults::Apply(const TzSimFaultSettings &aSettings)
{
    std::lock_guard lock(fMutex);
    fSettings = aSettings;
    fSettings.CorruptCrcPercent = std::clamp(fSettings.CorruptCrcPercent, 0, 100);
    fSettings.LossPercent = std::clamp(fSettings.LossPercent, 0, 100);
    fSettings.LoseFirstCount = std::max(0, fSettings.LoseFirstCount);
    fSettings.DuplicateAfterMs = std::max(-1, fSettings.DuplicateAfterMs);
    fCorruptCredit = 0;
    fLossCredit = 0;
}

void TzSimFaults::SetAnswerDelay(int aMs)
{
    std::lock_guard lock(fMutex);
    fSettings.AnswerDelayMs = std::max(0, aMs);
}

void TzSimFaults::SetSilent(bool aOn)
{
    std::lock_guard lock(fMutex);
    fSettings.Silent = aOn;
}

void TzSimFaults::SetCorruptCrc(bool aOn)
{
    std::lock_guard lock(fMutex);
    fSettings.CorruptCrc = aOn;
}

void TzSimFaults::SetCorruptCrcPercent(int aPercent)
{
    std::lock_guard lock(fMutex);
    fSettings.CorruptCrcPercent = std::clamp(aPercent, 0, 100);
    fCorruptCredit = 0;
}

void TzSimFaults::SetStaleAnswers(int aCount, int aDelayMs)
{
    std::lock_guard lock(fMutex);
    fSettings.StaleCount = std::max(0, aCount);
    fSettings.StaleDelayMs = std::max(0, aDelayMs);
}

void TzSimFaults::SetForeignSender(TzSimDecoy aMode)
{
    std::lock_guard lock(fMutex);
    fSettings.ForeignSender = aMode;
}

void TzSimFaults::SetVersion2(TzSimDecoy aMode)
{
    std::lock_guard lock(fMutex);
    fSettings.Version2 = aMode;
}

void TzSimFaults::SetType2(TzSimDecoy aMode)
{
    std::lock_guard lock(fMutex);
    fSettings.Type2 = aMode;
}

void TzSimFaults::SetLoseFirst(int aCount)
{
    std::lock_guard lock(fMutex);
    fSettings.LoseFirstCount = std::max(0, aCount);
}

void TzSimFaults::SetLossPercent(int aPercent)
{
    std::lock_guard lock(fMutex);
    fSettings.LossPercent = std::clamp(aPercent, 0, 100);
    fLossCredit = 0;
}

void TzSimFaults::SetDuplicateAfter(int aMs)
{
    std::lock_guard lock(fMutex);
    fSettings.DuplicateAfterMs = std::max(-1, aMs);
}

void TzSimFaults::SetReorder(bool aOn)
{
    std::lock_guard lock(fMutex);
    fSettings.Reorder = aOn;
}

bool TzSimFaults::LoseDatagram()
{
    std::lock_guard lock(fMutex);
    if (fSettings.LoseFirstCount > 0) {
        --fSettings.LoseFirstCount;
        return true;
    }
    if (fSettings.LossPercent <= 0)
        return false;
    fLossCredit += fSettings.LossPercent;
    if (fLossCredit < 100)
        return false;
    fLossCredit -= 100;
    return true;
}

std::vector<TzSimPlannedSend> TzSimFaults::Plan(const TSimBytes &aAnswer, bool aDatagrams)
{
    std::lock_guard lock(fMutex);
    if (fSettings.Silent)
        return {};
    int delay = fSettings.AnswerDelayMs;
    const char *note = "";
    if (fSettings.StaleCount > 0) {
        --fSettings.StaleCount;
        delay = fSettings.StaleDelayMs;
        note = "stale";
    }
    bool corrupt = fSettings.CorruptCrc;
    if (!corrupt && fSettings.CorruptCrcPercent > 0) {
        fCorruptCredit += fSettings.CorruptCrcPercent;
        corrupt = fCorruptCredit >= 100;
        if (corrupt)
            fCorruptCredit -= 100;
    }
    TSimBytes answer = corrupt ? SimCorruptCrc(aAnswer) : aAnswer;
    if (corrupt)
        note = "corrupt CRC";

    std::vector<TzSimPlannedSend> plan;
    bool replaced = false;
    if (aDatagrams) {
        const struct
        {
            TzSimDecoy Mode;
            TzSimSendKind Kind;
            const char *Note;
        } decoys[] = {
            {fSettings.ForeignSender, TzSimSendKind::Foreign, "foreign sender"},
            {fSettings.Version2, TzSimSendKind::Version2, "version 2"},
            {fSettings.Type2, TzSimSendKind::Type2, "type 2"},
        };
        // Every "before" decoy precedes whatever carries the answer.
        for (const auto &decoy : decoys)
            if (decoy.Mode == TzSimDecoy::Before)
                plan.push_back({delay, decoy.Kind, SimCorruptCrc(answer), decoy.Note});
        for (const auto &decoy : decoys)
            if (decoy.Mode == TzSimDecoy::Instead) {
                plan.push_back({delay, decoy.Kind, answer, decoy.Note});
                replaced = true;
            }
    }
    if (!replaced)
        plan.push_back({delay, TzSimSendKind::Answer, answer, note});
    return plan;
}

bool ParseSimDecoy(const std::string &aText, TzSimDecoy &aMode)
{
    if (aText == "before")
        aMode = TzSimDecoy::Before;
    else if (aText == "instead")
        aMode = TzSimDecoy::Instead;
    else if (aText == "off")
        aMode = TzSimDecoy::Off;
    else
        return false;
    return true;
}
