// Writes handed to the port engine one at a time, so that a batch (a pulse-width apply, the
// network settings, a step of a light sequence) reaches the module in the order it was given.

#include "panel/uQuadrel.h"

#include "port/uFreePort.h"

#include <algorithm>

namespace {

constexpr int FirstOutputCoil = 4096;
constexpr int OutputStride = 128;

} // namespace

void TfrQuadrel::SetRegInOrder(int aID, double aValue)
{
    if (!Connected || !Device)
        return;
    // The same write right behind itself changes nothing; an earlier one may be followed by
    // writes that change the same output, so it does not stand in for this one.
    if (!fOrderedWrites.empty() && fOrderedWrites.back().ID == aID && fOrderedWrites.back().Value == aValue)
        return;
    fOrderedWrites.push_back({aID, aValue});
    // A write handed over on an earlier connection will never be answered on this one.
    if (!fOrderedWriteOut || fOrderedWriteConnection != fConnectionSerial)
        SendNextOrderedWrite();
}

void TfrQuadrel::SendDOUTInOrder(int aIndex, bool aOn)
{
    SetRegInOrder(FirstOutputCoil + OutputStride * (aIndex - 1), aOn ? 1 : 0);
}

void TfrQuadrel::SendNextOrderedWrite()
{
    fOrderedWriteOut = false;
    while (!fOrderedWrites.empty() && Connected && Device && FreePort) {
        const TzOrderedWrite next = fOrderedWrites.front();
        fOrderedWrites.pop_front();
        TzTag *tag = Device->GetTagByID(next.ID);
        if (!tag)
            continue;
        // Near the head of the queue, so the write waits at most for the request on the line. The
        // template's tags carry write priority 0, which would queue even a forced write behind a
        // whole poll cycle: on a silent module, seconds for every write of the chain.
        tag->ForceOnce = true;
        const int priority = tag->WritePriority;
        tag->WritePriority = std::max(priority, 1);
        const std::optional<uint32_t> accepted = SetModbusRegRTU(tag, next.Value);
        tag->WritePriority = priority;
        if (accepted) {
            fOrderedWriteOut = true;
            fOrderedWriteConnection = fConnectionSerial;
            fOrderedWriteUID = *accepted;
            return;
        }
        // Refused: the very same frame is still waiting in the engine, which carries it anyway.
    }
    // Writes left over when the connection ended belong to it: they never reach a later one.
    if (!Connected)
        fOrderedWrites.clear();
}

void TfrQuadrel::OrderedWriteAnswered(uint32_t aUID)
{
    // Any outcome ends the write: an echo, a refusal (a Modbus exception) or no answer at all.
    if (fOrderedWriteOut && fOrderedWriteConnection == fConnectionSerial && aUID == fOrderedWriteUID)
        SendNextOrderedWrite();
}

void TfrQuadrel::ClearOrderedWrites()
{
    fOrderedWrites.clear();
    fOrderedWriteOut = false;
}
