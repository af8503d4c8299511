#include "sim/uSimModule.h"

#include <algorithm>
#include <iterator>

namespace {

bool Valid(int n)
{
    return n >= 1 && n <= TzSimModule::OutputCount;
}

} // namespace

TzSimModule::TzSimModule(uint8_t aAddress, uint64_t aNowMs) : fNoise(aAddress)
{
    fStored.Address = aAddress;
    fActive = fStored;
    fId = {0x0A1B, 0x2C3D, aAddress};
    fLastRequestMs = aNowMs;
    for (auto &out : fOut)
        out.CycleStart = aNowMs;
}

int TzSimModule::SpeedOfCode(uint16_t aCode)
{
    static constexpr int speeds[] = {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200};
    return aCode < std::size(speeds) ? speeds[aCode] : 0;
}

int TzSimModule::CodeOfSpeed(int aBaudRate)
{
    for (uint16_t code = 0; SpeedOfCode(code) != 0; ++code)
        if (SpeedOfCode(code) == aBaudRate)
            return code;
    return -1;
}

bool TzSimModule::SetLineSettings(int aBaudRate, uint16_t aFormatCode)
{
    const int code = CodeOfSpeed(aBaudRate);
    if (code < 0 || aFormatCode < 4 || aFormatCode > 7)
        return false;
    fStored.SpeedCode = fActive.SpeedCode = uint16_t(code);
    fStored.FormatCode = fActive.FormatCode = aFormatCode;
    return true;
}

bool TzSimModule::HearsLine(const TzSimLineParams &aLine) const
{
    // Codes 1..3 are the ASCII modes: a module switched to them no longer understands RTU.
    if (fActive.FormatCode < 4 || fActive.FormatCode > 7)
        return false;
    if (aLine.BaudRate != 0 && aLine.BaudRate != SpeedOfCode(fActive.SpeedCode))
        return false;
    static constexpr char parityOfFormat[] = {'N', 'O', 'E', 'N'};
    if (aLine.Parity != '?' && aLine.Parity != parityOfFormat[fActive.FormatCode - 4])
        return false;
    return true;
}

// --- outputs -------------------------------------------------------------------------------

bool TzSimModule::OutputState(int n, uint64_t aNowMs)
{
    if (!Valid(n))
        return false;
    CheckNetworkTimeout(aNowMs);
    const TOutput &out = fOut[n - 1];
    if (out.Fill == 0)
        return false;
    if (out.Fill >= 1000)
        return true;
    // Closed for whole units of count at the start of every cycle, open for the rest of it.
    const uint64_t unitMs = out.Unit * 10ull;
    const uint64_t cycleMs = unitMs * out.Period;
    const uint64_t closedMs = (uint64_t(out.Fill) * out.Period / 1000) * unitMs;
    const uint64_t elapsed = aNowMs > out.CycleStart ? aNowMs - out.CycleStart : 0;
    return cycleMs != 0 && elapsed % cycleMs < closedMs;
}

void TzSimModule::SetOutputState(int n, bool aOn, uint64_t aNowMs)
{
    if (Valid(n))
        SetFill(n, aOn ? 1000 : 0, aNowMs);
}

void TzSimModule::SetFill(int n, uint16_t aFill, uint64_t aNowMs)
{
    TOutput &out = fOut[n - 1];
    const bool wasPulsing = out.Fill >= 1 && out.Fill <= 999;
    const bool pulsing = aFill >= 1 && aFill <= 999;
    // A new fill factor does not interrupt a running cycle; a pulse train that starts, starts
    // with its closed part.
    if (pulsing && !wasPulsing)
        out.CycleStart = aNowMs;
    out.Fill = aFill;
}

bool TzSimModule::SetPwm(int n, uint16_t aUnit, uint16_t aPeriod, uint16_t aFill, uint64_t aNowMs)
{
    if (!Valid(n) || !PwmValueValid(OffUnit, aUnit) || !PwmValueValid(OffPeriod, aPeriod)
        || !PwmValueValid(OffFill, aFill))
        return false;
    StoreHolding(OutputBase + OutputStride * (n - 1) + OffUnit, aUnit, aNowMs);
    StoreHolding(OutputBase + OutputStride * (n - 1) + OffPeriod, aPeriod, aNowMs);
    StoreHolding(OutputBase + OutputStride * (n - 1) + OffFill, aFill, aNowMs);
    return true;
}

uint16_t TzSimModule::StateBits(int aFirst, int aCount, uint64_t aNowMs)
{
    uint16_t bits = 0;
    for (int i = 0; i < aCount; ++i)
        if (OutputState(aFirst + i, aNowMs))
            bits |= static_cast<uint16_t>(1u << i);
    return bits;
}

uint16_t TzSimModule::SafeBits(int aFirst, int aCount) const
{
    uint16_t bits = 0;
    for (int i = 0; i < aCount; ++i)
        if (fOut[aFirst + i - 1].Safe)
            bits |= static_cast<uint16_t>(1u << i);
    return bits;
}

void TzSimModule::SetSupply(uint16_t aMillivolts, uint16_t aNoiseMv)
{
    fSupplyMv = aMillivolts;
    fSupplyNoiseMv = aNoiseMv;
}

// --- register map ----------------------------------------------------------------------------

TzSimModule::TOutputSlot TzSimModule::CoilSlot(uint16_t aAddr)
{
    if (aAddr < OutputBase || aAddr >= OutputBase + OutputStride * OutputCount)
        return {};
    const uint16_t offset = (aAddr - OutputBase) % OutputStride;
    if (offset != OffState && offset != OffSafe)
        return {};
    return {(aAddr - OutputBase) / OutputStride + 1, offset};
}

TzSimModule::TOutputSlot TzSimModule::PwmRegisterSlot(uint16_t aAddr)
{
    if (aAddr >= RegPwmFirst && aAddr <= RegPwmLast) {
        const int index = aAddr - RegPwmFirst;
        return {index / 3 + 1, static_cast<uint16_t>(OffUnit + index % 3)};
    }
    if (aAddr < OutputBase || aAddr >= OutputBase + OutputStride * OutputCount)
        return {};
    const uint16_t offset = (aAddr - OutputBase) % OutputStride;
    if (offset != OffUnit && offset != OffPeriod && offset != OffFill)
        return {};
    return {(aAddr - OutputBase) / OutputStride + 1, offset};
}

bool TzSimModule::PwmValueValid(uint16_t aOffset, uint16_t aValue)
{
    switch (aOffset) {
    case OffUnit: return aValue >= 1 && aValue <= 240;
    case OffPeriod: return aValue >= 50 && aValue <= 36000;
    default: return aValue <= 1000;
    }
}

bool TzSimModule::ReadRegister(uint16_t aReg, uint64_t aNowMs, uint16_t &aValue)
{
    return ReadHolding(aReg, aNowMs, aValue) == 0 || ReadInput(aReg, aNowMs, aValue) == 0;
}

uint8_t TzSimModule::ReadHolding(uint16_t aAddr, uint64_t aNowMs, uint16_t &aValue)
{
    if (const TOutputSlot slot = PwmRegisterSlot(aAddr); slot.Output != 0) {
        const TOutput &out = fOut[slot.Output - 1];
        aValue = slot.Offset == OffUnit ? out.Unit : slot.Offset == OffPeriod ? out.Period : out.Fill;
        return 0;
    }
    switch (aAddr) {
    case RegSpeed: aValue = fStored.SpeedCode; return 0;
    case RegFormat: aValue = fStored.FormatCode; return 0;
    case RegAddress: aValue = fStored.Address; return 0;
    case RegTimeout: aValue = fStored.TimeoutSec; return 0;
    case RegSafe17: aValue = SafeBits(17, 4); return 0;
    case RegSafe1: aValue = SafeBits(1, 16); return 0;
    case RegState17: aValue = StateBits(17, 4, aNowMs); return 0;
    case RegState1: aValue = StateBits(1, 16, aNowMs); return 0;
    default: return SimExIllegalAddress; // the command register 60000 is write-only
    }
}

uint8_t TzSimModule::ReadInput(uint16_t aAddr, uint64_t aNowMs, uint16_t &aValue)
{
    (void)aNowMs;
    switch (aAddr) {
    case RegDeviceType: aValue = QuadrelDeviceType; return 0;
    case RegHardware: aValue = fHardware; return 0;
    case RegId1:
    case RegId1 + 1:
    case RegId1 + 2: aValue = fId[aAddr - RegId1]; return 0;
    case RegFirmware: aValue = fFirmware; return 0;
    case RegVoltage: {
        const int noise = fSupplyNoiseMv == 0 ? 0
                                              : static_cast<int>(fNoise() % (2u * fSupplyNoiseMv + 1)) - fSupplyNoiseMv;
        aValue = static_cast<uint16_t>(std::clamp(fSupplyMv + noise, 0, 65535));
        return 0;
    }
    case RegPowerStatus: aValue = fPowerStatus; return 0;
    default: return SimExIllegalAddress;
    }
}

uint8_t TzSimModule::ReadCoil(uint16_t aAddr, uint64_t aNowMs, bool &aValue)
{
    const TOutputSlot slot = CoilSlot(aAddr);
    if (slot.Output == 0)
        return SimExIllegalAddress;
    aValue = slot.Offset == OffState ? OutputState(slot.Output, aNowMs) : fOut[slot.Output - 1].Safe;
    return 0;
}

uint8_t TzSimModule::ReadDiscreteInput(uint16_t aAddr, uint64_t aNowMs, bool &aValue)
{
    // The module has no inputs of its own; its discrete inputs mirror the coils read-only.
    return ReadCoil(aAddr, aNowMs, aValue);
}

uint8_t TzSimModule::WriteCoil(uint16_t aAddr, bool aValue, uint64_t aNowMs)
{
    if (fRefuseWrites != 0)
        return fRefuseWrites;
    const TOutputSlot slot = CoilSlot(aAddr);
    if (slot.Output == 0)
        return SimExIllegalAddress;
    if (slot.Offset == OffState)
        SetFill(slot.Output, aValue ? 1000 : 0, aNowMs);
    else
        fOut[slot.Output - 1].Safe = aValue;
    return 0;
}

uint8_t TzSimModule::CheckHolding(uint16_t aReg, uint16_t aValue) const
{
    if (const TOutputSlot slot = PwmRegisterSlot(aReg); slot.Output != 0)
        return PwmValueValid(slot.Offset, aValue) ? 0 : SimExIllegalValue;
    switch (aReg) {
    case RegSpeed: return aValue <= 9 ? 0 : SimExIllegalValue;
    case RegFormat: return aValue >= 1 && aValue <= 7 ? 0 : SimExIllegalValue;
    case RegAddress: return aValue >= 1 && aValue <= 247 ? 0 : SimExIllegalValue;
    case RegTimeout: return aValue <= 600 ? 0 : SimExIllegalValue;
    case RegCommand: return aValue == RestartCommand ? 0 : SimExIllegalValue;
    case RegSafe17:
    case RegState17: return aValue <= 0x000F ? 0 : SimExIllegalValue; // outputs 17..20 only
    case RegSafe1:
    case RegState1: return 0;
    default: return SimExIllegalAddress;
    }
}

void TzSimModule::StoreHolding(uint16_t aReg, uint16_t aValue, uint64_t aNowMs)
{
    if (const TOutputSlot slot = PwmRegisterSlot(aReg); slot.Output != 0) {
        TOutput &out = fOut[slot.Output - 1];
        if (slot.Offset == OffFill) {
            SetFill(slot.Output, aValue, aNowMs);
        } else {
            (slot.Offset == OffUnit ? out.Unit : out.Period) = aValue;
            out.CycleStart = aNowMs; // new timing starts a new cycle
        }
        return;
    }
    switch (aReg) {
    case RegSpeed: fStored.SpeedCode = aValue; break;
    case RegFormat: fStored.FormatCode = aValue; break;
    case RegAddress: fStored.Address = static_cast<uint8_t>(aValue); break;
    case RegTimeout: fStored.TimeoutSec = aValue; break;
    case RegCommand:
        fRestartPending = true; // after the answer has been built
        break;
    case RegSafe17:
    case RegSafe1: {
        const int first = aReg == RegSafe1 ? 1 : 17;
        for (int i = 0; i < (aReg == RegSafe1 ? 16 : 4); ++i)
            fOut[first + i - 1].Safe = (aValue >> i) & 1u;
        break;
    }
    case RegState17:
    case RegState1: {
        const int first = aReg == RegState1 ? 1 : 17;
        for (int i = 0; i < (aReg == RegState1 ? 16 : 4); ++i)
            SetFill(first + i, ((aValue >> i) & 1u) ? 1000 : 0, aNowMs);
        break;
    }
    default: break;
    }
}

uint8_t TzSimModule::WriteHoldings(uint16_t aAddr, const std::vector<uint16_t> &aValues, uint64_t aNowMs)
{
    if (fRefuseWrites != 0)
        return fRefuseWrites;
    // Addresses first, then values, so a run with a hole answers 02 whatever its values.
    for (size_t i = 0; i < aValues.size(); ++i)
        if (CheckHolding(static_cast<uint16_t>(aAddr + i), 0) == SimExIllegalAddress)
            return SimExIllegalAddress;
    for (size_t i = 0; i < aValues.size(); ++i)
        if (const uint8_t ex = CheckHolding(static_cast<uint16_t>(aAddr + i), aValues[i]); ex != 0)
            return ex;
    for (size_t i = 0; i < aValues.size(); ++i)
        StoreHolding(static_cast<uint16_t>(aAddr + i), aValues[i], aNowMs);
    return 0;
}

uint8_t TzSimModule::WriteRegister(uint16_t aReg, uint16_t aValue, uint64_t aNowMs)
{
    const uint8_t ex = WriteHoldings(aReg, {aValue}, aNowMs);
    AfterRequest(aNowMs);
    return ex;
}

// --- restart and network time-out ----------------------------------------------------------

void TzSimModule::Restart(uint64_t aNowMs)
{
    for (int n = 1; n <= OutputCount; ++n)
        SetFill(n, fOut[n - 1].Safe ? 1000 : 0, aNowMs);
    fActive = fStored;
    ++fRestarts;
    fRestartPending = false;
    fLastRequestMs = aNowMs;
    fTimedOut = false;
}

void TzSimModule::CheckNetworkTimeout(uint64_t aNowMs)
{
    if (fActive.TimeoutSec == 0 || fTimedOut)
        return;
    const uint64_t deadline = fLastRequestMs + fActive.TimeoutSec * 1000ull;
    if (aNowMs < deadline)
        return;
    // The master has been silent too long: every output takes its safe state.
    for (int n = 1; n <= OutputCount; ++n)
        SetFill(n, fOut[n - 1].Safe ? 1000 : 0, deadline);
    fTimedOut = true;
    ++fTimeouts;
}

void TzSimModule::BeforeRequest(uint64_t aNowMs)
{
    CheckNetworkTimeout(aNowMs);
    fLastRequestMs = aNowMs;
    fTimedOut = false;
}

void TzSimModule::AfterRequest(uint64_t aNowMs)
{
    if (fRestartPending)
        Restart(aNowMs);
}
