// The link's reading: the first cycle over every enabled tag, the periodic poll of the status
// registers, and the stale rule.

#include "link/uQuadrelLink.h"

#include "link/uLinkLog.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"
#include "port/uFreePort.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>

namespace {

// Tags read by the periodic poll, in order: supply voltage, power status, safe states, output
// states and the two pulse-width blocks.
const int PolledTags[] = {QuadrelMap::RegSupplyMillivolts, QuadrelMap::RegPowerStatus,  QuadrelMap::RegSafe17to20,
                          QuadrelMap::RegSafe1to16,        QuadrelMap::RegStates17to20, QuadrelMap::RegStates1to16,
                          QuadrelMap::TagPulseBlock1,      QuadrelMap::TagPulseBlock11};

} // namespace

void TzQuadrelLink::LetsDoIt()
{
    if (!fConnected || !fDevice || fDevice->IsLocked)
        return;
    fDevice->IsLocked = true;
    for (const auto &tag : fDevice->Tags)
        tag->IsLast = false;
    fFirstCycleNext = 0;
    fFirstCycleLast = nullptr;
    fFirstCycleQueuing = true;
    QueueFirstCycleSlice(++fFirstCycleRun);
}

// The first cycle reads every enabled tag. A template of many thousand tags would hold the
// interface for a long while if all were queued at once: they are queued in slices of a few
// milliseconds, one slice per event-loop turn, so answers, clicks and painting go on meanwhile.
// The last readable tag is marked once all are queued; its answer ends the first cycle.
void TzQuadrelLink::QueueFirstCycleSlice(quint64 aRun)
{
    // A disconnect or a new connection meanwhile ends this run.
    if (aRun != fFirstCycleRun || !fFirstCycleQueuing || !fConnected || !fDevice || !fDevice->IsLocked) {
        if (aRun == fFirstCycleRun)
            fFirstCycleQueuing = false;
        return;
    }
    constexpr qint64 SliceMs = 10;
    constexpr size_t TagsBetweenClockLooks = 256;
    QElapsedTimer slice;
    slice.start();
    const auto &tags = fDevice->Tags;
    while (fFirstCycleNext < tags.size()) {
        TzTag *tag = tags[fFirstCycleNext++].get();
        if (tag->Enabled) {
            GetModbusRegRTU(tag);
            if (!tag->Force && tag->CanRead)
                fFirstCycleLast = tag;
        }
        if (fFirstCycleNext % TagsBetweenClockLooks == 0 && fFirstCycleNext < tags.size()
            && slice.elapsed() >= SliceMs) {
            QTimer::singleShot(0, this, [this, aRun] { QueueFirstCycleSlice(aRun); });
            return;
        }
    }
    fFirstCycleQueuing = false;
    if (fFirstCycleLast)
        fFirstCycleLast->IsLast = true;
}

void TzQuadrelLink::AfterFirstUpdate()
{
    // The answers of a first cycle cut short by a disconnect still arrive, as failures; they must
    // not fill the screen of an idle panel or start polling.
    if (!fConnected)
        return;
    int value = 0;
    if (TryValueByID(QuadrelMap::RegDeviceType, value))
        fDevice->DevVersion = value;
    if (TryValueByID(QuadrelMap::RegFirmware, value)) {
        fDevice->DevPOVersion = value;
        fDevice->DevPOVersionStr = FirmwareVersionText(value);
    }
    emit FirstCycleDone();
    if (!fConnected)
        return;
    // Request numbers of an earlier engine mean nothing to this one.
    fPollReadsOut.clear();
    fPollReadsDue.clear();
    fPollOverdue = false;
    fPollTimer->start();
}

bool TzQuadrelLink::Polling() const
{
    return fPollTimer->isActive();
}

void TzQuadrelLink::StopPoll()
{
    fPollTimer->stop();
}

void TzQuadrelLink::OprosTimerTimer()
{
    if (!fConnected || !fDevice)
        return;
    // On a slow line a cycle outlasts the timer. Queued again now, the reads still waiting would
    // be refused as duplicates and the cycle would go on a tick late; instead the next cycle
    // follows the last answer of this one.
    if (PollCycleOut()) {
        QueueDuePollReads();
        fPollOverdue = true;
        return;
    }
    QueuePollCycle();
}

void TzQuadrelLink::QueuePollCycle()
{
    fPollOverdue = false;
    fPollReadsOut.clear();
    fPollReadsDue.assign(std::begin(PolledTags), std::end(PolledTags));
    QueueDuePollReads();
}

void TzQuadrelLink::QueueDuePollReads()
{
    std::vector<int> refused;
    for (const int id : fPollReadsDue) {
        TzTag *tag = fDevice ? fDevice->GetTagByID(id) : nullptr;
        if (!fEngine || !tag)
            continue;
        if (const std::optional<uint32_t> uid = QueueRead(tag))
            fPollReadsOut.push_back(*uid);
        else
            refused.push_back(id);
    }
    // A cycle queued from the last answer of the one before finds that answer's own read still in
    // the engine's queue while it is delivered; it goes out with the next answer, at the cycle's end.
    fPollReadsDue = std::move(refused);
}

bool TzQuadrelLink::PollCycleOut()
{
    // A read is out while its record awaits an answer; a record dropped otherwise (a new
    // connection empties the list) no longer holds the poll back.
    std::erase_if(fPollReadsOut, [this](uint32_t aUID) {
        return std::none_of(fPending.begin(), fPending.end(),
                            [aUID](const auto &aEntry) { return aEntry->Code == aUID; });
    });
    return !fPollReadsOut.empty();
}

void TzQuadrelLink::PollReadAnswered(uint32_t aUID)
{
    const auto read = std::find(fPollReadsOut.begin(), fPollReadsOut.end(), aUID);
    if (read == fPollReadsOut.end())
        return;
    fPollReadsOut.erase(read);
    if (!fConnected || !fPollTimer->isActive())
        return;
    if (!fPollReadsDue.empty())
        QueueDuePollReads();
    if (fPollReadsOut.empty() && fPollReadsDue.empty() && fPollOverdue)
        QueuePollCycle();
}

void TzQuadrelLink::ForgetOutputValues()
{
    // The state registers' values belong to the previous connection (perhaps another module):
    // marked unread, so that nobody takes them for read on this one.
    if (fDevice)
        for (const int id : {QuadrelMap::RegStates17to20, QuadrelMap::RegStates1to16})
            if (TzTag *states = fDevice->GetTagByID(id))
                states->SetQuality(QualityWaiting);
}

void TzQuadrelLink::CheckStale()
{
    if (!fValuesStale && fConnected && fPollTimer->isActive() && fLastAnswer.isValid()
        && fLastAnswer.elapsed() >= StaleAfterMs)
        MarkStale(true);
}

QString TzQuadrelLink::StaleHint() const
{
    // The clock time is worked out only when the hint is asked for: reading the local time for
    // each of the many answers a second would cost more than everything else an answer does.
    const QDateTime lastAnswer = fLastAnswer.isValid() ? QDateTime::currentDateTime().addMSecs(-fLastAnswer.elapsed())
                                                       : QDateTime();
    return QStringLiteral("Нет ответа от модуля с %1").arg(lastAnswer.toString(QStringLiteral("HH:mm:ss")));
}

void TzQuadrelLink::MarkStale(bool aStale)
{
    if (aStale == fValuesStale)
        return;
    fValuesStale = aStale;
    const QString hint = aStale ? StaleHint() : QString();
    qCDebug(lcLink).noquote() << (aStale ? hint : QStringLiteral("values fresh again"));
    emit StaleChanged(aStale, hint);
}
