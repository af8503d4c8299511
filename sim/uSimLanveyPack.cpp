#include "sim/uSimLanveyPack.h"

#include <algorithm>

std::optional<TzLanveyPacket> LanveyUnwrap(const uint8_t *aData, size_t aSize)
{
    if (aSize < LanveyHeaderSize || (aData[0] & 0xF0) != LanveyVersion1)
        return std::nullopt;
    const size_t length = aData[1];
    if (length > aSize - LanveyHeaderSize)
        return std::nullopt;
    TzLanveyPacket packet;
    packet.Version = aData[0];
    packet.Number = static_cast<uint16_t>((aData[2] << 8) | aData[3]);
    packet.PackType = aData[4];
    packet.Header.assign(aData, aData + LanveyHeaderSize);
    packet.Payload.assign(aData + LanveyHeaderSize, aData + LanveyHeaderSize + length);
    return packet;
}

TSimBytes LanveyWrap(uint8_t aVersion, uint16_t aNumber, uint8_t aPackType, const TSimBytes &aPayload)
{
    const size_t length = std::min<size_t>(aPayload.size(), 255);
    TSimBytes datagram(LanveyHeaderSize + length);
    datagram[0] = aVersion;
    datagram[1] = static_cast<uint8_t>(length);
    datagram[2] = static_cast<uint8_t>(aNumber >> 8);
    datagram[3] = static_cast<uint8_t>(aNumber & 0xFF);
    datagram[4] = aPackType;
    std::copy_n(aPayload.begin(), length, datagram.begin() + LanveyHeaderSize);
    return datagram;
}
