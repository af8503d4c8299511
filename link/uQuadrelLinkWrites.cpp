// The link's register access: reads and writes queued on the engine and recorded for their
// answers, value read-back, and the writes handed over one at a time so that a batch (a
// pulse-width apply, the network settings, a step of a light sequence) reaches the module in the
// order it was given.

#include "link/uQuadrelLink.h"

#include "common/uUtils.h"
#include "model/uQuadrelMap.h"
#include "port/uFreePort.h"

#include <algorithm>
#include <cmath>

std::optional<uint32_t> TzQuadrelLink::QueueFrame(const TzTag &aTag, const TStringBytes &aFrame, int aPriority)
{
    const int address = aTag.Device ? aTag.Device->DevAddr : -1;
    return aTag.Force || aTag.ForceOnce ? fEngine->SendCmdForce(aFrame, address, aPriority)
                                        : fEngine->SendCmd(aFrame, address);
}

void TzQuadrelLink::RegisterPending(TzTag *aTag, const TStringBytes &aFrame, uint32_t aUID)
{
    auto record = std::make_unique<TzModbusAnswer>();
    record->Tag = aTag;
    record->Code = aUID;
    record->Mode = mmRTU;
    record->Cmd = aFrame;
    record->ErrCode = 0;
    record->TimeStamp = GetTickCount32();
    fPending.push_back(std::move(record));
}

void TzQuadrelLink::AnnounceRequest(const TzTag &aTag, const TStringBytes &aFrame, uint32_t aUID, int aFunction,
                                    const QString &aValue)
{
    TzPortObsRec rec;
    rec.Port = aTag.Device ? aTag.Device->Port : 0;
    rec.Index = static_cast<int32_t>(aUID);
    rec.Addr = aTag.Device ? aTag.Device->DevAddr : 0;
    rec.Func = aFunction;
    rec.Reg = aTag.Reg;
    rec.Cmd = aFrame.AsBytes();
    rec.Name = aTag.OPCName;
    rec.Value = aValue;
    emit RequestQueued(rec);
}

std::optional<uint32_t> TzQuadrelLink::QueueRead(TzTag *aTag)
{
    if (!aTag || !fEngine)
        return std::nullopt;
    const TStringBytes frame = BuildModbusReadRTU(*aTag);
    if (frame.Size() == 0)
        return std::nullopt;
    const std::optional<uint32_t> uid = QueueFrame(*aTag, frame, aTag->ReadPriority);
    if (!uid)
        return std::nullopt;
    aTag->ForceOnce = false;
    RegisterPending(aTag, frame, *uid);
    AnnounceRequest(*aTag, frame, *uid, aTag->ReadCmd, QString());
    return uid;
}

std::optional<uint32_t> TzQuadrelLink::QueueWrite(TzTag *aTag, double aValue)
{
    if (!aTag || !fEngine)
        return std::nullopt;
    double carried = 0;
    const TStringBytes frame = BuildModbusWriteRTU(*aTag, aValue, &carried);
    if (frame.Size() == 0)
        return std::nullopt;
    const std::optional<uint32_t> uid = QueueFrame(*aTag, frame, aTag->WritePriority);
    aTag->ForceOnce = false;
    if (!uid)
        return std::nullopt;
    aTag->SetValue(carried);
    AnnounceRequest(*aTag, frame, *uid, aTag->WriteCmd, QString::number(carried, 'g', 15));
    RegisterPending(aTag, frame, *uid);
    return uid;
}

bool TzQuadrelLink::GetModbusRegRTU(TzTag *aTag)
{
    return QueueRead(aTag).has_value();
}

bool TzQuadrelLink::GetModbusRegRTU2(int aID)
{
    return fDevice && GetModbusRegRTU(fDevice->GetTagByID(aID));
}

bool TzQuadrelLink::SetModbusRegRTU(TzTag *aTag, double aValue)
{
    return QueueWrite(aTag, aValue).has_value();
}

void TzQuadrelLink::SetRegByID(int aID, double aValue, bool aForced)
{
    if (!fConnected || !fDevice)
        return;
    TzTag *tag = fDevice->GetTagByID(aID);
    if (!tag)
        return;
    if (aForced)
        tag->ForceOnce = true;
    if (SetModbusRegRTU(tag, aValue))
        TellOutputCommands(aID, aValue);
}

void TzQuadrelLink::TellOutputCommands(int aID, double aValue)
{
    using namespace QuadrelMap;
    const int bits = int(aValue);
    if (aID == RegStates1to16 || aID == RegStates17to20) {
        const int first = aID == RegStates1to16 ? 1 : 17;
        const int last = aID == RegStates1to16 ? 16 : OutputCount;
        for (int n = first; n <= last; ++n)
            emit OutputCommanded(n, (bits >> (n - first)) & 1, fCommandSource);
        return;
    }
    const int offset = aID - FirstOutputCoil;
    if (offset >= 0 && offset % OutputStride == 0 && offset / OutputStride < OutputCount)
        emit OutputCommanded(offset / OutputStride + 1, bits != 0, fCommandSource);
}

std::optional<uint32_t> TzQuadrelLink::RequestRead(int aID)
{
    TzTag *tag = fConnected && fDevice ? fDevice->GetTagByID(aID) : nullptr;
    if (!tag)
        return std::nullopt;
    tag->ForceOnce = true;
    const std::optional<uint32_t> request = QueueRead(tag);
    tag->ForceOnce = false;
    return request;
}

std::optional<uint32_t> TzQuadrelLink::RequestWrite(int aID, double aValue)
{
    TzTag *tag = fConnected && fDevice ? fDevice->GetTagByID(aID) : nullptr;
    if (!tag)
        return std::nullopt;
    tag->ForceOnce = true;
    return QueueWrite(tag, aValue);
}

void TzQuadrelLink::SendDOUT(int aIndex, bool aOn)
{
    SetRegByID(QuadrelMap::OutputCoil(aIndex), aOn ? 1 : 0, false);
}

bool TzQuadrelLink::TryValueByID(int aID, double &aValue) const
{
    if (!fDevice)
        return false;
    const TzTag *tag = fDevice->GetTagByID(aID);
    if (!tag || !tag->Enabled || tag->Quality() != QualityGood || tag->ModbusError)
        return false;
    aValue = tag->Value();
    return true;
}

bool TzQuadrelLink::TryValueByID(int aID, int &aValue) const
{
    double value = 0;
    if (!TryValueByID(aID, value))
        return false;
    aValue = static_cast<int>(std::trunc(value));
    return true;
}

void TzQuadrelLink::ClearRequests()
{
    if (fEngine)
        fEngine->ClearRequestList();
}

void TzQuadrelLink::SetRegInOrder(int aID, double aValue)
{
    if (!fConnected || !fDevice)
        return;
    // The same write right behind itself changes nothing; an earlier one may be followed by
    // writes that change the same output, so it does not stand in for this one.
    if (!fOrderedWrites.empty() && fOrderedWrites.back().ID == aID && fOrderedWrites.back().Value == aValue)
        return;
    fOrderedWrites.push_back({aID, aValue});
    TellOutputCommands(aID, aValue);
    // A write handed over on an earlier connection will never be answered on this one.
    if (!fOrderedWriteOut || fOrderedWriteConnection != fConnectionSerial)
        SendNextOrderedWrite();
}

void TzQuadrelLink::SendDOUTInOrder(int aIndex, bool aOn)
{
    SetRegInOrder(QuadrelMap::OutputCoil(aIndex), aOn ? 1 : 0);
}

void TzQuadrelLink::SendNextOrderedWrite()
{
    fOrderedWriteOut = false;
    while (!fOrderedWrites.empty() && fConnected && fDevice && fEngine) {
        const TzOrderedWrite next = fOrderedWrites.front();
        fOrderedWrites.pop_front();
        TzTag *tag = fDevice->GetTagByID(next.ID);
        if (!tag)
            continue;
        // Near the head of the queue, so the write waits at most for the request on the line. The
        // template's tags carry write priority 0, which would queue even a forced write behind a
        // whole poll cycle: on a silent module, seconds for every write of the chain.
        tag->ForceOnce = true;
        const int priority = tag->WritePriority;
        tag->WritePriority = std::max(priority, 1);
        const std::optional<uint32_t> uid = QueueWrite(tag, next.Value);
        tag->WritePriority = priority;
        if (uid) {
            fOrderedWriteOut = true;
            fOrderedWriteConnection = fConnectionSerial;
            fOrderedWriteUID = *uid;
            return;
        }
        // Refused: the very same frame is still waiting in the engine, which carries it anyway.
    }
    // Writes left over when the connection ended belong to it: they never reach a later one.
    if (!fConnected)
        fOrderedWrites.clear();
}

void TzQuadrelLink::OrderedWriteAnswered(uint32_t aUID)
{
    // Any outcome ends the write: an echo, a refusal (a Modbus exception) or no answer at all.
    if (fOrderedWriteOut && fOrderedWriteConnection == fConnectionSerial && aUID == fOrderedWriteUID)
        SendNextOrderedWrite();
}

void TzQuadrelLink::ClearOrderedWrites()
{
    fOrderedWrites.clear();
    fOrderedWriteOut = false;
}
