#pragma once
// The Lanvey-Ethernet converter's datagram: a five-byte header (version, length, sequence number
// high byte first, packet type) in front of one Modbus RTU frame.

#include "sim/uSimTypes.h"

#include <cstddef>
#include <optional>

struct TzLanveyPacket
{
    uint8_t Version = 0x10;
    uint16_t Number = 0;
    uint8_t PackType = 0x10;
    TSimBytes Header; // the five header bytes as received
    TSimBytes Payload;
};

constexpr size_t LanveyHeaderSize = 5;
constexpr uint8_t LanveyVersion1 = 0x10, LanveyVersion2 = 0x20;
constexpr uint8_t LanveyTypeAnswer = 0x10, LanveyTypeNoAnswer = 0x12;

// The packet in a received datagram, or nothing when it is not a version-1 packet or its length
// byte claims more payload than the datagram holds.
std::optional<TzLanveyPacket> LanveyUnwrap(const uint8_t *aData, size_t aSize);
// A datagram carrying aPayload (at most 255 bytes).
TSimBytes LanveyWrap(uint8_t aVersion, uint16_t aNumber, uint8_t aPackType, const TSimBytes &aPayload);
