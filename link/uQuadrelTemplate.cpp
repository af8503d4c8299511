// The module's register template: the device it fills, and the twenty outputs' own tags that the
// template does not list.

#include "link/uQuadrelLink.h"

#include "model/uQuadrelMap.h"

#include <exception>

namespace {

// The five per-output tags: offset from the output's base register, name, and encoding.
struct OutputTagKind
{
    int Offset;
    const char *Name;
    TzDevice::TzTagKind Kind;
};

const OutputTagKind OutputTagKinds[] = {
    {0, "Реле #", {1, 8, 1, 17, 1, 5}},
    {QuadrelMap::OffsetScale, "DOUT Shim Scale #", {3, 2, 2, 2, 3, 6}},
    {QuadrelMap::OffsetPeriod, "DOUT Shim Period #", {3, 2, 2, 2, 3, 6}},
    {QuadrelMap::OffsetFill, "DOUT Shim Koef #", {3, 2, 2, 2, 3, 6}},
    {QuadrelMap::OffsetSafe, "DOUT State Safe #", {1, 8, 1, 17, 1, 5}},
};

} // namespace

QString QuadrelTemplateResource = QStringLiteral("XMLDATA");

std::unique_ptr<TzDevice> NewQuadrelDevice(int aAddress)
{
    auto device = std::make_unique<TzDevice>();
    device->DevAddr = aAddress;
    device->DevType = 3;
    device->DevVersion = 100;
    device->DevVersionStr = QStringLiteral("1.00");
    device->Freq = 100;
    device->DevName = QStringLiteral("Quadrel");
    return device;
}

bool TzQuadrelLink::LoadTemplate(int aAddress, QString *aException)
{
    fDevice = NewQuadrelDevice(aAddress);
    fTemplateLoaded = false;
    try {
        fTemplateLoaded = fDevice->LoadFromRes(QuadrelTemplateResource);
    } catch (const std::exception &error) {
        if (aException)
            *aException = QString::fromUtf8(error.what());
        return false;
    }
    if (fTemplateLoaded)
        AddOtherQuadrelTags(fDevice.get());
    return fTemplateLoaded;
}

void TzQuadrelLink::AddOtherQuadrelTags(TzDevice *aDevice)
{
    if (!aDevice)
        return;
    for (const OutputTagKind &kind : OutputTagKinds) {
        for (int n = 1; n <= QuadrelMap::OutputCount; ++n) {
            TzTag *tag = aDevice->AddRegisterTag(QuadrelMap::OutputCoil(n) + kind.Offset, kind.Kind);
            tag->OPCName = QString::fromUtf8(kind.Name) + QString::number(n);
            tag->Enabled = false;
            tag->CanRead = false;
        }
    }
}
