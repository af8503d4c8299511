#pragma once
// A slave of another kind on the same bus: it answers the device-type read (36864, and 36865
// beside it) with its own type and refuses everything else, as an unknown device would.

#include "sim/uSimSlave.h"

class TzSimForeignDevice : public TzSimSlave
{
public:
    TzSimForeignDevice(uint8_t aAddress, uint16_t aDeviceType, uint16_t aVersion = 1)
        : fAddress(aAddress), fType(aDeviceType), fVersion(aVersion)
    {
    }

    uint8_t Address() const override { return fAddress; }
    uint16_t DeviceType() const { return fType; }

protected:
    uint8_t ReadCoil(uint16_t, uint64_t, bool &) override { return SimExIllegalAddress; }
    uint8_t ReadDiscreteInput(uint16_t, uint64_t, bool &) override { return SimExIllegalAddress; }
    uint8_t ReadHolding(uint16_t, uint64_t, uint16_t &) override { return SimExIllegalAddress; }
    uint8_t ReadInput(uint16_t aAddr, uint64_t, uint16_t &aValue) override;
    uint8_t WriteCoil(uint16_t, bool, uint64_t) override { return SimExIllegalAddress; }
    uint8_t WriteHoldings(uint16_t, const std::vector<uint16_t> &, uint64_t) override { return SimExIllegalAddress; }

private:
    uint8_t fAddress;
    uint16_t fType;
    uint16_t fVersion;
};
