// Feeds arbitrary documents to the register template loader. A document either raises EzError
// (not XML), or loads with Ready set, or fails with Ready clear; every tag kept belongs to the device.

#include "common/uUtils.h"
#include "model/uGlobals.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    TzDevice device;
    bool loaded = false;
    try {
        loaded = device.LoadFromData(QByteArray(reinterpret_cast<const char *>(aData), qsizetype(aSize)));
    } catch (const EzError &) {
        if (device.Ready || !device.Tags.empty())
            __builtin_trap();
        return 0;
    }
    if (loaded != device.Ready)
        __builtin_trap();
    for (const auto &tag : device.Tags) {
        if (tag->Device != &device || tag->Reg < 0 || tag->Reg > 0xFFFF || tag->Order.contains(u'0'))
            __builtin_trap();
        if (tag->OrderMas.size() != tag->Order.size())
            __builtin_trap();
        if (tag != device.Tags.front() && device.GetTagByID(tag->ID) == nullptr)
            __builtin_trap();
    }
    return 0;
}
