#pragma once
// The simulated RS-485 bus: the slaves on it and the framing every slave applies (CRC, address,
// broadcast). One lock guards all slave state, so transports and tests may reach it from any
// thread.

#include "sim/uSimForeignDevice.h"
#include "sim/uSimModule.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

class TzSimBus
{
public:
    explicit TzSimBus(TzSimClock aClock = SimSteadyMs);

    // Adds a Quadrel module or a device of another type; false when the address is taken or
    // outside 1..247.
    bool AddModule(uint8_t aAddress);
    bool AddForeignDevice(uint8_t aAddress, uint16_t aDeviceType);

    // One request frame as framed by the line's silence; the answer frame, or nothing when no
    // slave answers (bad CRC, nobody at the address, a broadcast, line settings no slave hears).
    // aWhySilent, when given, says why no answer came ("bad CRC", "no slave at 17", ...).
    std::optional<TSimBytes> HandleFrame(const TSimBytes &aFrame, const TzSimLineParams &aLine = {},
                                         std::string *aWhySilent = nullptr);

    // Runs aAction on the module currently answering at aAddress under the bus lock; false when
    // there is none. Tests and the demo read and set registers through it.
    template <typename F>
    bool WithModule(uint8_t aAddress, F &&aAction)
    {
        std::lock_guard lock(fMutex);
        TzSimModule *module = FindModule(aAddress);
        if (module == nullptr)
            return false;
        aAction(*module, fClock());
        return true;
    }
    // The same for the first Quadrel module added (whatever its address now).
    template <typename F>
    bool WithFirstModule(F &&aAction)
    {
        std::lock_guard lock(fMutex);
        for (const auto &slave : fSlaves)
            if (auto *module = dynamic_cast<TzSimModule *>(slave.get())) {
                aAction(*module, fClock());
                return true;
            }
        return false;
    }
    // Shorthands over WithModule.
    std::optional<uint16_t> ReadRegister(uint8_t aAddress, uint16_t aReg);
    // Whether output aOutput (1..20) of the module at aAddress is closed now; false without one.
    bool OutputOn(uint8_t aAddress, int aOutput);
    uint8_t WriteRegister(uint8_t aAddress, uint16_t aReg, uint16_t aValue); // 0xFF: no module

    uint64_t Now() const { return fClock(); }
    // The speed the first module answers at; what a served line is set to.
    int LineBaudRate();
    int SlaveCount();

private:
    TzSimModule *FindModule(uint8_t aAddress);
    bool AddressFree(uint8_t aAddress) const;

    TzSimClock fClock;
    std::mutex fMutex;
    std::vector<std::unique_ptr<TzSimSlave>> fSlaves;
};
