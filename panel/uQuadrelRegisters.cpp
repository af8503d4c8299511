// Register access: reads and writes queued on the port engine and recorded for their answers,
// value read-back for the screen, and validation of integer fields.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"
#include "diagnostics/uPortObserver.h"
#include "panel/uBlinker.h"
#include "port/uFreePort.h"

#include <QLineEdit>

#include <cmath>
#include <optional>

namespace {

constexpr int NoLimit = 2147483647;

TzPortObsRec RequestAnnouncement(const TzTag &aTag, const TStringBytes &aFrame, uint32_t aUID, int aFunction)
{
    TzPortObsRec rec;
    rec.Port = aTag.Device ? aTag.Device->Port : 0;
    rec.Index = static_cast<int32_t>(aUID);
    rec.Addr = aTag.Device ? aTag.Device->DevAddr : 0;
    rec.Func = aFunction;
    rec.Reg = aTag.Reg;
    rec.Cmd = aFrame.AsBytes();
    rec.Name = aTag.OPCName;
    return rec;
}

} // namespace

int TfrQuadrel::PendingAnswers()
{
    std::lock_guard<std::mutex> lock(LineCS);
    return int(ModbusAnswerList.size());
}

// Records a request the engine accepted, so its answer can be matched by number.
static void RegisterPending(TfrQuadrel &aFrame, TzTag *aTag, const TStringBytes &aFrameBytes, uint32_t aUID)
{
    auto record = std::make_unique<TzModbusAnswer>();
    record->Tag = aTag;
    record->Code = aUID;
    record->Mode = mmRTU;
    record->Cmd = aFrameBytes;
    record->ErrCode = 0;
    record->TimeStamp = GetTickCount32();
    std::lock_guard<std::mutex> lock(aFrame.LineCS);
    aFrame.ModbusAnswerList.push_back(std::move(record));
}

std::optional<uint32_t> TfrQuadrel::GetModbusRegRTU(TzTag *aTag)
{
    if (!aTag || !FreePort)
        return std::nullopt;
    const TStringBytes frame = BuildModbusReadRTU(*aTag);
    if (frame.Size() == 0)
        return std::nullopt;
    const int address = aTag->Device ? aTag->Device->DevAddr : -1;
    const std::optional<uint32_t> accepted = aTag->Force || aTag->ForceOnce
                                                 ? FreePort->SendCmdForce(frame, address, aTag->ReadPriority)
                                                 : FreePort->SendCmd(frame, address);
    if (!accepted)
        return std::nullopt;
    aTag->ForceOnce = false;
    const uint32_t uid = *accepted;
    RegisterPending(*this, aTag, frame, uid);
    ObserversAddRequest(RequestAnnouncement(*aTag, frame, uid, aTag->ReadCmd));
    return uid;
}

std::optional<uint32_t> TfrQuadrel::GetModbusRegRTU2(int aID)
{
    if (!Device)
        return std::nullopt;
    TzTag *tag = Device->GetTagByID(aID);
    if (!tag)
        return std::nullopt;
    return GetModbusRegRTU(tag);
}

std::optional<uint32_t> TfrQuadrel::SetModbusRegRTU(TzTag *aTag, double aValue)
{
    if (!aTag || !FreePort)
        return std::nullopt;
    double carried = 0;
    const TStringBytes frame = BuildModbusWriteRTU(*aTag, aValue, &carried);
    if (frame.Size() == 0)
        return std::nullopt;
    const int address = aTag->Device ? aTag->Device->DevAddr : -1;
    const std::optional<uint32_t> accepted = aTag->Force || aTag->ForceOnce
                                                 ? FreePort->SendCmdForce(frame, address, aTag->WritePriority)
                                                 : FreePort->SendCmd(frame, address);
    aTag->ForceOnce = false;
    if (!accepted)
        return std::nullopt;
    const uint32_t uid = *accepted;
    aTag->SetValue(carried);
    TzPortObsRec rec = RequestAnnouncement(*aTag, frame, uid, aTag->WriteCmd);
    rec.Value = QString::number(carried, 'g', 15);
    ObserversAddRequest(rec);
    RegisterPending(*this, aTag, frame, uid);
    return uid;
}

void TfrQuadrel::SetRegByID(int aID, double aValue, bool aForced)
{
    if (!Connected || !Device)
        return;
    TzTag *tag = Device->GetTagByID(aID);
    if (!tag)
        return;
    if (aForced)
        tag->ForceOnce = true;
    SetModbusRegRTU(tag, aValue);
}

bool TfrQuadrel::TryValueByID(int aID, double &aValue) const
{
    if (!Device)
        return false;
    const TzTag *tag = Device->GetTagByID(aID);
    if (!tag || !tag->Enabled || tag->Quality() != QualityGood || tag->ModbusError)
        return false;
    aValue = tag->Value();
    return true;
}

bool TfrQuadrel::TryValueByID(int aID, int &aValue) const
{
    double value = 0;
    if (!TryValueByID(aID, value))
        return false;
    aValue = static_cast<int>(std::trunc(value));
    return true;
}

namespace {

// Reads an integer from the field; text that is not one flashes the field.
bool ReadEditInt(QLineEdit *aEdit, int &aNumber)
{
    if (!aEdit)
        return false;
    if (TryStrToInt(aEdit->text(), aNumber))
        return true;
    BlinkEdit(aEdit);
    return false;
}

// The limit the number breaks (the minimum or the maximum), if any.
std::optional<int> BrokenLimit(int aNumber, int aMin, int aMax)
{
    if (aMin != NoLimit && aNumber < aMin)
        return aMin;
    if (aMax != NoLimit && aNumber > aMax)
        return aMax;
    return std::nullopt;
}

} // namespace

bool TfrQuadrel::CheckBlinkEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
{
    int number = 0;
    if (!ReadEditInt(aEdit, number))
        return false;
    if (const std::optional<int> limit = BrokenLimit(number, aMin, aMax)) {
        aEdit->setText(QString::number(*limit));
        BlinkEdit(aEdit);
        return false;
    }
    aValue = number;
    return true;
}

bool TfrQuadrel::CheckEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
{
    int number = 0;
    if (!ReadEditInt(aEdit, number) || BrokenLimit(number, aMin, aMax))
        return false;
    aValue = number;
    return true;
}
