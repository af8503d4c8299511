#include "app/uDemo.h"

#include "panel/uQuadrel.h"
#include "sim/uSimulator.h"

#include <QLineEdit>

namespace {
constexpr uint8_t DemoAddress = 16;
constexpr uint16_t DemoConverterPort = 40000;
} // namespace

TzDemo::TzDemo() = default;

TzDemo::~TzDemo() = default;

bool TzDemo::Start(TfrQuadrel *aFrame, QString *aError)
{
    fSim = std::make_unique<TzSimulator>();
    // A demo may run for days: keep only the newest frames in memory.
    fSim->Log().SetCapacity(1000);
    fSim->Bus().AddModule(DemoAddress);
    fSim->Bus().WithModule(DemoAddress, [](TzSimModule &aModule, uint64_t aNow) {
        aModule.SetIdentifier(0x0A1B, 0x2C3D, 0x4E5F);
        // One output pulsing and two closed, so every picture of the grid shows up.
        aModule.SetPwm(5, 10, 1000, 500, aNow);
        aModule.SetOutputState(1, true, aNow);
        aModule.SetOutputState(12, true, aNow);
    });
    const std::string path = fSim->StartPty();
    if (path.empty()) {
        if (aError)
            *aError = QString::fromStdString(fSim->Serial().LastError());
        return false;
    }
    if (aFrame) {
        aFrame->AddPortOnTop(QString::fromStdString(path));
        // The converter is a bonus: another program may hold its port.
        if (fSim->StartUdp("127.0.0.2", DemoConverterPort)) {
            aFrame->findChild<QLineEdit *>(QStringLiteral("txtEthernetAddr"))->setText(QStringLiteral("127.0.0.2"));
            aFrame->findChild<QLineEdit *>(QStringLiteral("txtEthernetPort"))
                ->setText(QString::number(DemoConverterPort));
        }
    }
    return true;
}
