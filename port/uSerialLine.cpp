#include "port/uSerialLine.h"

#include <cctype>

namespace {
constexpr uint32_t MaxDword = 0xFFFFFFFFu;
}

TzReadEndRule TzReadEndRule::From(const TzLineTimeouts &aTimeouts, uint32_t aCount)
{
    TzReadEndRule rule;
    const uint32_t interval = aTimeouts.ReadIntervalTimeout;
    const uint32_t multiplier = aTimeouts.ReadTotalTimeoutMultiplier;
    const uint32_t constant = aTimeouts.ReadTotalTimeoutConstant;
    if (interval == MaxDword && multiplier == 0 && constant == 0) {
        rule.ReturnAtOnce = true;
        return rule;
    }
    if (interval == MaxDword && multiplier == MaxDword && constant != 0 && constant != MaxDword) {
        rule.ReturnOnFirstByte = true;
        rule.TotalMs = constant;
        return rule;
    }
    if (multiplier != 0 || constant != 0)
        rule.TotalMs = uint64_t(multiplier) * aCount + constant;
    if (interval != 0)
        rule.IntervalMs = interval;
    return rule;
}

uint64_t WriteTotalMs(const TzLineTimeouts &aTimeouts, uint32_t aCount)
{
    if (aTimeouts.WriteTotalTimeoutMultiplier == 0 && aTimeouts.WriteTotalTimeoutConstant == 0)
        return UINT64_MAX;
    return uint64_t(aTimeouts.WriteTotalTimeoutMultiplier) * aCount + aTimeouts.WriteTotalTimeoutConstant;
}

std::string Win32ComDevicePath(const std::string &aName)
{
    if (aName.size() > 3 && (aName.compare(0, 3, "COM") == 0 || aName.compare(0, 3, "com") == 0)) {
        bool digits = true;
        for (size_t i = 3; i < aName.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(aName[i]));
        if (digits)
            return aName.size() == 4 ? aName : "\\\\.\\" + aName;
    }
    return aName;
}
