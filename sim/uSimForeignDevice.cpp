#include "sim/uSimForeignDevice.h"

uint8_t TzSimForeignDevice::ReadInput(uint16_t aAddr, uint64_t, uint16_t &aValue)
{
    if (aAddr == 36864) {
        aValue = fType;
        return 0;
    }
    if (aAddr == 36865) {
        aValue = fVersion;
        return 0;
    }
    return SimExIllegalAddress;
}
