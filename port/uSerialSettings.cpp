#include "port/uSerialSettings.h"

namespace {

bool IsSet(int32_t aValue)
{
    return aValue != NotSetValue;
}

template <typename T>
void CopyIfSet(int32_t aValue, T &aTarget)
{
    if (IsSet(aValue))
        aTarget = static_cast<T>(aValue); // truncated to the field's width, as the DCB stores it
}

} // namespace

void TzDCB::Clear()
{
    BaudRate = Flags = wReserved = XonLim = XoffLim = ByteSize = Parity = StopBits = NotSetValue;
    bXonChar = bXoffChar = bErrorChar = bEofChar = bEvtChar = OnlyMyFlags = false;
}

void TzDCB::AssignTo(TzLineState &aDCB) const
{
    if (OnlyMyFlags)
        aDCB.Flags = 0;
    CopyIfSet(BaudRate, aDCB.BaudRate);
    if (IsSet(Flags))
        aDCB.Flags |= static_cast<uint32_t>(Flags);
    CopyIfSet(XonLim, aDCB.XonLim);
    CopyIfSet(XoffLim, aDCB.XoffLim);
    CopyIfSet(ByteSize, aDCB.ByteSize);
    CopyIfSet(Parity, aDCB.Parity);
    CopyIfSet(StopBits, aDCB.StopBits);
    if (bXonChar)
        aDCB.XonChar = fXonChar;
    if (bXoffChar)
        aDCB.XoffChar = fXoffChar;
    if (bErrorChar)
        aDCB.ErrorChar = fErrorChar;
    if (bEofChar)
        aDCB.EofChar = fEofChar;
    if (bEvtChar)
        aDCB.EvtChar = fEvtChar;
}

void TzTimeouts::Clear()
{
    ReadIntervalTimeout = ReadTotalTimeoutMultiplier = ReadTotalTimeoutConstant = NotSetValue;
    WriteTotalTimeoutMultiplier = WriteTotalTimeoutConstant = NotSetValue;
}

void TzTimeouts::ChooseAll(const TzLineTimeouts &aTimeouts)
{
    ReadIntervalTimeout = int32_t(aTimeouts.ReadIntervalTimeout);
    ReadTotalTimeoutMultiplier = int32_t(aTimeouts.ReadTotalTimeoutMultiplier);
    ReadTotalTimeoutConstant = int32_t(aTimeouts.ReadTotalTimeoutConstant);
    WriteTotalTimeoutMultiplier = int32_t(aTimeouts.WriteTotalTimeoutMultiplier);
    WriteTotalTimeoutConstant = int32_t(aTimeouts.WriteTotalTimeoutConstant);
}

void TzTimeouts::AssignTo(TzLineTimeouts &aTimeouts) const
{
    CopyIfSet(ReadIntervalTimeout, aTimeouts.ReadIntervalTimeout);
    CopyIfSet(ReadTotalTimeoutMultiplier, aTimeouts.ReadTotalTimeoutMultiplier);
    CopyIfSet(ReadTotalTimeoutConstant, aTimeouts.ReadTotalTimeoutConstant);
    CopyIfSet(WriteTotalTimeoutMultiplier, aTimeouts.WriteTotalTimeoutMultiplier);
    CopyIfSet(WriteTotalTimeoutConstant, aTimeouts.WriteTotalTimeoutConstant);
}
