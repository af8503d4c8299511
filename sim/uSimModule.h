#pragma once
// The simulated Quadrel module: its whole register map as one state. An output's coil, its bit in
// 60015/60016, its fill factor, its safe-state coil and bit in 60013/60014 and its pulse-width
// registers (per output at 4096 + 128 (n - 1) + offset, and in the blocks 60017..60076) are views
// of the same record.

#include "sim/uSimSlave.h"

#include <array>
#include <cstdint>
#include <random>

class TzSimModule : public TzSimSlave
{
public:
    static constexpr int OutputCount = 20;
    static constexpr uint16_t QuadrelDeviceType = 73;
    static constexpr uint16_t RestartCommand = 21930; // 0x55AA

    // Register numbers of the map.
    static constexpr uint16_t RegSpeed = 28672, RegFormat = 28673, RegAddress = 28676, RegTimeout = 28680;
    static constexpr uint16_t RegDeviceType = 36864, RegHardware = 36865, RegId1 = 36866, RegFirmware = 36869;
    static constexpr uint16_t RegVoltage = 24582, RegPowerStatus = 36881;
    static constexpr uint16_t RegCommand = 60000, RegSafe17 = 60013, RegSafe1 = 60014, RegState17 = 60015,
                              RegState1 = 60016, RegPwmFirst = 60017, RegPwmLast = 60076;
    static constexpr uint16_t OutputBase = 4096, OutputStride = 128;
    static constexpr uint16_t OffState = 0, OffUnit = 3, OffPeriod = 4, OffFill = 5, OffSafe = 8;

    explicit TzSimModule(uint8_t aAddress, uint64_t aNowMs = 0);

    uint8_t Address() const override { return fActive.Address; }
    bool HearsLine(const TzSimLineParams &aLine) const override;

    // Direct access for tests and the demo; n is the output number 1..20.
    bool OutputState(int n, uint64_t aNowMs);
    void SetOutputState(int n, bool aOn, uint64_t aNowMs);
    uint16_t FillFactor(int n) const { return fOut[n - 1].Fill; }
    uint16_t PwmUnit(int n) const { return fOut[n - 1].Unit; }
    uint16_t PwmPeriod(int n) const { return fOut[n - 1].Period; }
    // False (and nothing changed) when a value is out of its range.
    bool SetPwm(int n, uint16_t aUnit, uint16_t aPeriod, uint16_t aFill, uint64_t aNowMs);
    bool SafeState(int n) const { return fOut[n - 1].Safe; }
    void SetSafeState(int n, bool aClosed) { fOut[n - 1].Safe = aClosed; }

    // Any register of the map as the master would read it (function 3 or 4); false when unmapped.
    bool ReadRegister(uint16_t aReg, uint64_t aNowMs, uint16_t &aValue);
    // Stores a holding register as a master's write would (a restart command restarts at once);
    // returns 0 or the exception code a master would get.
    uint8_t WriteRegister(uint16_t aReg, uint16_t aValue, uint64_t aNowMs);

    void SetPowerStatus(uint16_t aValue) { fPowerStatus = aValue; }
    // A module that refuses every write with this exception code (0: writes are served), as a
    // protected or failing one would: for tests of how a master reports a refusal.
    void SetRefuseWrites(uint8_t aCode) { fRefuseWrites = aCode; }
    void SetFirmwareVersion(uint16_t aValue) { fFirmware = aValue; }
    void SetHardwareVersion(uint16_t aValue) { fHardware = aValue; }
    void SetIdentifier(uint16_t aW1, uint16_t aW2, uint16_t aW3) { fId = {aW1, aW2, aW3}; }
    // Supply voltage in millivolts, each reading off by a uniform amount up to +-aNoiseMv.
    void SetSupply(uint16_t aMillivolts, uint16_t aNoiseMv);

    // Network settings as stored (what the registers read) and as in effect (since the last
    // restart).
    struct TNetwork
    {
        uint8_t Address = 16;
        uint16_t SpeedCode = 3;  // 9600
        uint16_t FormatCode = 4; // RTU 8N1
        uint16_t TimeoutSec = 0; // 0: no network time-out
    };
    const TNetwork &StoredNetwork() const { return fStored; }
    const TNetwork &ActiveNetwork() const { return fActive; }
    static int SpeedOfCode(uint16_t aCode); // bit/s, 0 for an unknown code
    static int CodeOfSpeed(int aBaudRate);  // -1 for a speed the module does not know
    // Sets the speed (and RTU format code 4..7) as stored and in effect, as if the module had
    // been set up so before the line started; false for a speed or format it does not know.
    bool SetLineSettings(int aBaudRate, uint16_t aFormatCode);

    // Restarts as the command register does: outputs take their safe states, stored network
    // settings take effect.
    void Restart(uint64_t aNowMs);
    int RestartCount() const { return fRestarts; }
    // How often the network time-out has put the outputs into their safe states.
    int NetworkTimeoutCount() const { return fTimeouts; }

protected:
    uint8_t ReadCoil(uint16_t aAddr, uint64_t aNowMs, bool &aValue) override;
    uint8_t ReadDiscreteInput(uint16_t aAddr, uint64_t aNowMs, bool &aValue) override;
    uint8_t ReadHolding(uint16_t aAddr, uint64_t aNowMs, uint16_t &aValue) override;
    uint8_t ReadInput(uint16_t aAddr, uint64_t aNowMs, uint16_t &aValue) override;
    uint8_t WriteCoil(uint16_t aAddr, bool aValue, uint64_t aNowMs) override;
    uint8_t WriteHoldings(uint16_t aAddr, const std::vector<uint16_t> &aValues, uint64_t aNowMs) override;
    void BeforeRequest(uint64_t aNowMs) override;
    void AfterRequest(uint64_t aNowMs) override;

private:
    struct TOutput
    {
        uint16_t Unit = 1;    // x 10 ms, 1..240
        uint16_t Period = 50; // units, 50..36000
        uint16_t Fill = 0;    // tenths of a percent closed, 0..1000
        bool Safe = false;
        uint64_t CycleStart = 0; // the pulse cycle's time origin
    };
    // Where a register lands in the per-output record: output number 1..20 and offset, or 0.
    struct TOutputSlot
    {
        int Output = 0;
        uint16_t Offset = 0;
    };
    static TOutputSlot CoilSlot(uint16_t aAddr);
    static TOutputSlot PwmRegisterSlot(uint16_t aAddr);
    static bool PwmValueValid(uint16_t aOffset, uint16_t aValue);

    void SetFill(int n, uint16_t aFill, uint64_t aNowMs);
    uint16_t StateBits(int aFirst, int aCount, uint64_t aNowMs);
    uint16_t SafeBits(int aFirst, int aCount) const;
    uint8_t CheckHolding(uint16_t aReg, uint16_t aValue) const;
    void StoreHolding(uint16_t aReg, uint16_t aValue, uint64_t aNowMs);
    void CheckNetworkTimeout(uint64_t aNowMs);

    std::array<TOutput, OutputCount> fOut{};
    TNetwork fStored, fActive;
    uint16_t fHardware = 100;
    uint16_t fFirmware = 215;
    std::array<uint16_t, 3> fId{};
    uint16_t fPowerStatus = 0;
    uint8_t fRefuseWrites = 0;
    uint16_t fSupplyMv = 24000;
    uint16_t fSupplyNoiseMv = 40;
    std::minstd_rand fNoise;
    bool fRestartPending = false;
    int fRestarts = 0;
    int fTimeouts = 0;
    uint64_t fLastRequestMs = 0;
    bool fTimedOut = false;
};
