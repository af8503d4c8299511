#include "model/uModbusFrames.h"

#include "common/uUtils.h"
#include "model/uDevice.h"
#include "port/uModbusCRC.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int ValTypeBlock = 24;

// Size in bytes of the value types that carry a number (0..5); 0 for the others.
int ValueSize(int aValType)
{
    switch (aValType) {
    case 0: return 4;
    case 1: return 8;
    case 2: return 2;
    case 3: return 4;
    case 4: return 2;
    case 5: return 4;
    default: return 0;
    }
}

// The order fits a value of aSize bytes: one digit per byte, each naming a byte 1..aSize.
bool OrderFits(const TzTag &aTag, int aSize)
{
    if (aTag.OrderMas.size() != aSize)
        return false;
    for (const char digit : aTag.OrderMas)
        if (digit < 1 || digit > aSize)
            return false;
    return true;
}

// The low 64 bits of the value truncated toward zero, as two's complement (no undefined casts
// for values outside the integer range; infinities carry no bits).
uint64_t TruncatedLowBits(double aValue)
{
    if (!std::isfinite(aValue))
        return 0;
    constexpr double twoTo64 = 18446744073709551616.0;
    const double magnitude = std::fmod(std::fabs(std::trunc(aValue)), twoTo64);
    const uint64_t low = static_cast<uint64_t>(magnitude);
    return aValue < 0 ? ~low + 1 : low;
}

// Encodes the value as the value type's bytes (least significant first) and reports the number
// that those bytes stand for.
bool EncodeValue(int aValType, double aValue, uint8_t aBytes[8], double &aCarried)
{
    uint64_t bits = 0;
    switch (aValType) {
    case 0: {
        const float single = static_cast<float>(aValue);
        uint32_t raw = 0;
        std::memcpy(&raw, &single, sizeof raw);
        bits = raw;
        aCarried = single;
        break;
    }
    case 1: {
        std::memcpy(&bits, &aValue, sizeof bits);
        aCarried = aValue;
        break;
    }
    case 2:
        bits = TruncatedLowBits(aValue) & 0xFFFFu;
        aCarried = static_cast<double>(bits);
        break;
    case 3:
        bits = TruncatedLowBits(aValue) & 0xFFFFFFFFu;
        aCarried = static_cast<double>(bits);
        break;
    case 4:
        bits = TruncatedLowBits(aValue) & 0xFFFFu;
        aCarried = static_cast<int16_t>(static_cast<uint16_t>(bits));
        break;
    case 5:
        bits = TruncatedLowBits(aValue) & 0xFFFFFFFFu;
        aCarried = static_cast<int32_t>(static_cast<uint32_t>(bits));
        break;
    default: return false;
    }
    for (int i = 0; i < 8; ++i)
        aBytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    return true;
}

// Reads aSize little-endian bytes as the value type's number.
double DecodeValue(int aValType, const uint8_t aBytes[8])
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | aBytes[i];
    switch (aValType) {
    case 0: {
        const uint32_t raw = static_cast<uint32_t>(bits);
        float single = 0;
        std::memcpy(&single, &raw, sizeof single);
        return single;
    }
    case 1: {
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case 2: return static_cast<uint16_t>(bits);
    case 3: return static_cast<uint32_t>(bits);
    case 4: return static_cast<int16_t>(static_cast<uint16_t>(bits));
    case 5: return static_cast<int32_t>(static_cast<uint32_t>(bits));
    default: return 0;
    }
}

TStringBytes FrameHeader(const TzTag &aTag, int aFunction, int aSize)
{
    TStringBytes frame;
    frame.setSize(static_cast<uint8_t>(aSize));
    frame.SetByte(1, static_cast<uint8_t>(aTag.Device->DevAddr & 0xFF));
    frame.SetByte(2, static_cast<uint8_t>(aFunction));
    frame.SetByte(3, static_cast<uint8_t>((aTag.Reg >> 8) & 0xFF));
    frame.SetByte(4, static_cast<uint8_t>(aTag.Reg & 0xFF));
    return frame;
}

void CloseFrame(TStringBytes &aFrame)
{
    const uint8_t length = aFrame.Size();
    const uint16_t crc = CalcModbusCRC(aFrame, static_cast<uint8_t>(length - 2));
    aFrame.SetByte(static_cast<uint8_t>(length - 1), static_cast<uint8_t>(crc & 0xFF));
    aFrame.SetByte(length, static_cast<uint8_t>(crc >> 8));
}

} // namespace

TStringBytes BuildModbusReadRTU(const TzTag &aTag)
{
    if (!aTag.Device || aTag.ReadCmd < 1 || aTag.ReadCmd > 4)
        return TStringBytes();
    TStringBytes frame = FrameHeader(aTag, aTag.ReadCmd, 8);
    frame.SetByte(5, static_cast<uint8_t>((aTag.SegSize >> 8) & 0xFF));
    frame.SetByte(6, static_cast<uint8_t>(aTag.SegSize & 0xFF));
    CloseFrame(frame);
    return frame;
}

TStringBytes BuildModbusWriteRTU(const TzTag &aTag, double aValue, double *aCarried)
{
    // A value that is not a number means nothing to the module: nothing is sent.
    if (!aTag.Device || std::isnan(aValue))
        return TStringBytes();

    if (aTag.WriteCmd == 5) {
        const bool on = std::trunc(aValue) != 0;
        TStringBytes frame = FrameHeader(aTag, 5, 8);
        frame.SetByte(5, on ? 0xFF : 0x00);
        frame.SetByte(6, 0x00);
        CloseFrame(frame);
        if (aCarried)
            *aCarried = on ? 1 : 0;
        return frame;
    }
    if (aTag.WriteCmd != 6 && aTag.WriteCmd != 16)
        return TStringBytes();

    const int size = ValueSize(aTag.ValType);
    if (size == 0 || !OrderFits(aTag, size))
        return TStringBytes();
    uint8_t bytes[8] = {};
    double carried = 0;
    if (!EncodeValue(aTag.ValType, aValue, bytes, carried))
        return TStringBytes();

    TStringBytes frame = FrameHeader(aTag, aTag.WriteCmd, 4 + size + 2);
    for (int i = 0; i < size; ++i)
        frame.SetByte(static_cast<uint8_t>(4 + aTag.OrderMas[i]), bytes[i]);
    CloseFrame(frame);
    if (aCarried)
        *aCarried = carried;
    return frame;
}

bool ParseModbusAnswer(const TStringBytes &aAnswer, TzTag *aTag)
{
    const int size = aAnswer.Size();
    if (!aTag || !aTag->Device || size < 2)
        return false;
    auto at = [&aAnswer](int aPos) { return aAnswer.GetByte(static_cast<uint8_t>(aPos)); };
    // Data byte k of an answer stands at position 3 + k.
    auto dataByte = [&at](int k) { return at(3 + k); };

    if (at(2) & 0x80) {
        aTag->ModbusError = true;
        if (size >= 3) {
            aTag->ModbusErrorCode = at(3);
            aTag->ModbusErrorCodeStr = QStringLiteral("%1").arg(at(3), 2, 16, QLatin1Char('0')).toUpper()
                                       + QStringLiteral("h");
        }
        aTag->DataFull = aAnswer.AsBytes();
        return false;
    }

    aTag->ModbusError = false;
    if (aTag->Script)
        return true;

    if (aTag->ValType == ValTypeBlock) {
        if (size < 3 || at(3) < 1)
            return false;
        // Blocks are only defined in register order; any other order has no meaning for raw data.
        if (aTag->Order != QStringLiteral("21"))
            return false;
        const int count = std::min<int>(at(3), size - 3);
        aTag->Data = aAnswer.AsBytes().mid(3, count);
        aTag->DataFull = aAnswer.AsBytes();
        return true;
    }

    if (aTag->ReadCmd == 1 || aTag->ReadCmd == 2) {
        if (size != 6 || at(3) != 1)
            return false;
        aTag->SetValue(dataByte(1) & 1);
        return true;
    }
    if (aTag->ReadCmd < 1 || aTag->ReadCmd > 4)
        return true;

    if (size < 5 || at(3) == 0)
        return false;
    const int byteCount = at(3);
    const int valueSize = ValueSize(aTag->ValType);
    if (valueSize > 0) {
        if (byteCount != valueSize || !OrderFits(*aTag, valueSize) || size < 3 + byteCount)
            return false;
        uint8_t bytes[8] = {};
        for (int i = 0; i < valueSize; ++i)
            bytes[i] = dataByte(aTag->OrderMas[i]);
        aTag->SetValue(DecodeValue(aTag->ValType, bytes));
        return true;
    }
    if (aTag->ValType == 6 || aTag->ValType == 7) {
        if (byteCount != 2)
            return false;
        aTag->SetValue(aTag->ValType == 6 ? dataByte(2) : dataByte(1));
        return true;
    }
    if (aTag->BitPos < 0)
        return true;
    if (byteCount != 2)
        return false;
    const int word = dataByte(1) + 256 * dataByte(2);
    aTag->SetValue(IsBitSet(word, static_cast<uint8_t>(aTag->BitPos)) ? 1 : 0);
    return true;
}

bool ParseModbusAnswerASCII(const TStringBytes &, TzTag *)
{
    return false;
}

bool ApplyModbusAnswer(const TzModbusAnswer &aRecord, const TStringBytes &aAnswer, uint32_t aErrCode)
{
    TzTag *tag = aRecord.Tag;
    if (!tag)
        return false;
    if (aErrCode != 0) {
        tag->SetQuality(QualityFailed);
        return false;
    }
    const bool understood = aRecord.Mode == mmRTU ? ParseModbusAnswer(aAnswer, tag)
                                                  : ParseModbusAnswerASCII(aAnswer, tag);
    tag->SetQuality(understood ? QualityGood : QualityRejected);
    return understood;
}
