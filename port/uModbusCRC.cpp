#include "port/uModbusCRC.h"

uint16_t CalcModbusCRC(const uint8_t *aData, int aCount)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < aCount; ++i) {
        crc ^= aData[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

uint16_t CalcModbusCRC(const TStringBytes &aFrame, uint8_t aCount)
{
    uint8_t bytes[255];
    for (int i = 0; i < aCount; ++i)
        bytes[i] = aFrame.GetByte(static_cast<uint8_t>(i + 1));
    return CalcModbusCRC(bytes, aCount);
}

void AppendModbusCRC(TStringBytes &aFrame)
{
    const uint8_t count = aFrame.Size();
    const uint16_t crc = CalcModbusCRC(aFrame, count);
    aFrame = aFrame + static_cast<char>(crc & 0xFF);
    aFrame = aFrame + static_cast<char>(crc >> 8);
}

bool CheckModbusCRC(const uint8_t *aData, int aCount)
{
    if (aCount < 3)
        return false;
    const uint16_t expected = static_cast<uint16_t>(aData[aCount - 2] | (aData[aCount - 1] << 8));
    return CalcModbusCRC(aData, aCount - 2) == expected;
}

bool CheckModbusCRC(const TStringBytes &aFrame)
{
    const QByteArray bytes = aFrame.AsBytes();
    return CheckModbusCRC(reinterpret_cast<const uint8_t *>(bytes.constData()), int(bytes.size()));
}
