// Feeds arbitrary answers to the decoder, against tags of every value type, byte order and read
// function, and arbitrary values to the write-frame builder. Traps when the decoder changes a value
// on an answer it rejects, or a built frame is malformed.

#include "model/uGlobals.h"
#include "port/uModbusCRC.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const char *const Orders[] = {"21", "12", "4321", "1234", "2143", "3412", "87654321", "12345678",
                              "1",  "",   "2x",   "11",   "99",   "20",   "321"};
const int ValTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 24, 99};

void Require(bool aCondition)
{
    if (!aCondition)
        __builtin_trap();
}

bool SameValue(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    if (aSize < 4)
        return 0;
    TzDevice device;
    device.DevAddr = aData[0];
    TzTag *tag = device.AddTag();
    tag->ReadCmd = aData[1] % 7; // 0..6: the four read functions and three that are not
    tag->ValType = ValTypes[aData[2] % std::size(ValTypes)];
    const char *order = Orders[aData[3] % std::size(Orders)];
    tag->Order = QString::fromLatin1(order);
    for (const char *c = order; *c; ++c)
        tag->OrderMas.append(*c >= '0' && *c <= '9' ? char(*c - '0') : char(0));
    tag->BitPos = int(aData[3] >> 4) - 2; // -2..13
    tag->WriteCmd = (aData[1] >> 4) % 2 ? 16 : ((aData[1] >> 5) % 2 ? 5 : 6);
    tag->Reg = aData[2] * 257;
    tag->SegSize = 1 + aData[3] % 125;

    const TStringBytes answer = TStringBytes::FromRaw(aData + 4, int(aSize - 4));
    tag->SetValue(12345.678);
    const QString textBefore = tag->ValueStr;
    const QByteArray dataBefore = tag->Data;
    const bool understood = ParseModbusAnswer(answer, tag);
    if (!understood) {
        Require(SameValue(tag->Value(), 12345.678));
        Require(tag->ValueStr == textBefore);
        Require(tag->Data == dataBefore);
    }
    if (answer.Size() >= 2 && (answer.GetByte(2) & 0x80))
        Require(!understood && tag->ModbusError);
    Require(tag->Data.size() <= 252);

    // The same bytes as a value to write: any frame built must be complete and checksummed.
    if (aSize >= 12) {
        double value = 0;
        std::memcpy(&value, aData + 4, sizeof value);
        double carried = 0;
        const TStringBytes frame = BuildModbusWriteRTU(*tag, value, &carried);
        if (frame.Size() > 0) {
            Require(frame.Size() == 8 || frame.Size() == 10 || frame.Size() == 14);
            Require(CheckModbusCRC(frame));
            Require(frame.GetByte(1) == aData[0]);
        }
    }
    const TStringBytes read = BuildModbusReadRTU(*tag);
    if (tag->ReadCmd >= 1 && tag->ReadCmd <= 4)
        Require(read.Size() == 8 && CheckModbusCRC(read));
    else
        Require(read.Size() == 0);
    return 0;
}
