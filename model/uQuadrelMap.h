#pragma once
// The Quadrel's register map: the numbers the panel, the link and the bus search use to read and
// write the module. Registers are named by what they hold; tag identifiers of the register
// template are the register numbers, except for the two pulse-width blocks (see below).
// The simulator keeps its own table on purpose: it checks these numbers independently.

namespace QuadrelMap {

// What the device-type register (read with function 4) holds for a Quadrel.
inline constexpr int DeviceType = 73;

// Identity and version (input registers).
inline constexpr int RegDeviceType = 36864;
inline constexpr int RegIdentifier1 = 36866; // three words, high byte first: "01-02-03-04-05-06"
inline constexpr int RegIdentifier2 = 36867;
inline constexpr int RegIdentifier3 = 36868;
inline constexpr int RegFirmware = 36869; // 215 is shown as "2.15"

// Supply and power.
inline constexpr int RegSupplyMillivolts = 24582;
inline constexpr int RegPowerStatus = 36881; // bit 14 or 15: attention

// Output states and safe states as bit masks.
inline constexpr int RegStates1to16 = 60016;  // bit n - 1 for output n
inline constexpr int RegStates17to20 = 60015; // bits 0..3 for outputs 17..20
inline constexpr int RegSafe1to16 = 60014;
inline constexpr int RegSafe17to20 = 60013;

// The two pulse-width blocks, 30 registers each (scale, period, fill of ten outputs): the
// template's tags carry a tenfold register number as identifier.
inline constexpr int RegPulseBlock1 = 60017;  // outputs 1..10
inline constexpr int RegPulseBlock11 = 60047; // outputs 11..20
inline constexpr int TagPulseBlock1 = 600170;
inline constexpr int TagPulseBlock11 = 600470;

// Network settings (holding registers), written in this order and taken over at restart.
inline constexpr int RegSpeed = 28672;  // code: index of the speed list
inline constexpr int RegFormat = 28673; // code: 4 + index of the format list
inline constexpr int RegAddress = 28676;
inline constexpr int RegTimeout = 28680;
inline constexpr int FirstFormatCode = 4; // the format list starts at RTU 8N1

// The command register and its restart command.
inline constexpr int RegCommand = 60000;
inline constexpr int RestartCommand = 21930; // 0x55AA

// Per-output registers: output n (1..20) lives at FirstOutputCoil + OutputStride * (n - 1), with
// its pulse-width parameters and safe state at these offsets from there.
inline constexpr int OutputCount = 20;
inline constexpr int FirstOutputCoil = 4096;
inline constexpr int OutputStride = 128;
inline constexpr int OffsetScale = 3;
inline constexpr int OffsetPeriod = 4;
inline constexpr int OffsetFill = 5;
inline constexpr int OffsetSafe = 8;

// The coil (and tag) of output n.
constexpr int OutputCoil(int aOutput)
{
    return FirstOutputCoil + OutputStride * (aOutput - 1);
}

} // namespace QuadrelMap
