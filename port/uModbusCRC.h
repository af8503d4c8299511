#pragma once
// Modbus CRC-16 (reflected polynomial 0xA001, initial 0xFFFF), carried low byte first.

#include "common/uStringBytes.h"

#include <cstdint>

// Checksum of the frame's bytes 1..aCount.
uint16_t CalcModbusCRC(const TStringBytes &aFrame, uint8_t aCount);
// Same checksum over a plain buffer.
uint16_t CalcModbusCRC(const uint8_t *aData, int aCount);
// Appends the checksum of the frame's present content (low byte, then high byte).
void AppendModbusCRC(TStringBytes &aFrame);

// Whether the last two of aCount received bytes are the checksum of the bytes before them.
// Fewer than three bytes hold no checksummed content and never pass: no RTU frame is that short.
bool CheckModbusCRC(const uint8_t *aData, int aCount);
bool CheckModbusCRC(const TStringBytes &aFrame);
