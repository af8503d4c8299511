#include "sim/uSimBus.h"

#include "port/uModbusCRC.h"

TzSimBus::TzSimBus(TzSimClock aClock) : fClock(std::move(aClock)) {}

bool TzSimBus::AddressFree(uint8_t aAddress) const
{
    if (aAddress < 1 || aAddress > 247)
        return false;
    for (const auto &slave : fSlaves)
        if (slave->Address() == aAddress)
            return false;
    return true;
}

bool TzSimBus::AddModule(uint8_t aAddress)
{
    std::lock_guard lock(fMutex);
    if (!AddressFree(aAddress))
        return false;
    fSlaves.push_back(std::make_unique<TzSimModule>(aAddress, fClock()));
    return true;
}

bool TzSimBus::AddForeignDevice(uint8_t aAddress, uint16_t aDeviceType)
{
    std::lock_guard lock(fMutex);
    if (!AddressFree(aAddress))
        return false;
    fSlaves.push_back(std::make_unique<TzSimForeignDevice>(aAddress, aDeviceType));
    return true;
}

TzSimModule *TzSimBus::FindModule(uint8_t aAddress)
{
    for (const auto &slave : fSlaves)
        if (slave->Address() == aAddress)
            if (auto *module = dynamic_cast<TzSimModule *>(slave.get()))
                return module;
    return nullptr;
}

std::optional<TSimBytes> TzSimBus::HandleFrame(const TSimBytes &aFrame, const TzSimLineParams &aLine,
                                               std::string *aWhySilent)
{
    auto silent = [&](const std::string &aWhy) -> std::optional<TSimBytes> {
        if (aWhySilent != nullptr)
            *aWhySilent = aWhy;
        return std::nullopt;
    };
    // Address, function and CRC at least; a frame that fails its CRC is noise to every slave.
    if (aFrame.size() < 4 || aFrame.size() > 256)
        return silent("not a frame: " + std::to_string(aFrame.size()) + " bytes");
    if (!CheckModbusCRC(aFrame.data(), static_cast<int>(aFrame.size())))
        return silent("bad CRC");
    const uint8_t address = aFrame[0];
    const TSimBytes pdu(aFrame.begin() + 1, aFrame.end() - 2);

    std::lock_guard lock(fMutex);
    const uint64_t now = fClock();
    if (address == 0) {
        // Broadcast: every slave carries out a write and nobody answers.
        const uint8_t fn = pdu[0];
        if (fn == 5 || fn == 6 || fn == 16)
            for (const auto &slave : fSlaves)
                if (slave->HearsLine(aLine))
                    slave->Process(pdu, now);
        return silent("broadcast");
    }
    bool present = false;
    for (const auto &slave : fSlaves) {
        if (slave->Address() != address)
            continue;
        present = true;
        if (!slave->HearsLine(aLine))
            continue;
        TSimBytes answer = slave->Process(pdu, now);
        if (answer.empty())
            return silent("no answer");
        answer.insert(answer.begin(), address);
        const uint16_t crc = CalcModbusCRC(answer.data(), static_cast<int>(answer.size()));
        answer.push_back(static_cast<uint8_t>(crc & 0xFF));
        answer.push_back(static_cast<uint8_t>(crc >> 8));
        return answer;
    }
    return silent(present ? "line settings differ from the slave's" : "no slave at " + std::to_string(address));
}

bool TzSimBus::OutputOn(uint8_t aAddress, int aOutput)
{
    bool on = false;
    WithModule(aAddress, [&](TzSimModule &aModule, uint64_t aNow) { on = aModule.OutputState(aOutput, aNow); });
    return on;
}

std::optional<uint16_t> TzSimBus::ReadRegister(uint8_t aAddress, uint16_t aReg)
{
    std::optional<uint16_t> result;
    WithModule(aAddress, [&](TzSimModule &m, uint64_t now) {
        uint16_t value = 0;
        if (m.ReadRegister(aReg, now, value))
            result = value;
    });
    return result;
}

uint8_t TzSimBus::WriteRegister(uint8_t aAddress, uint16_t aReg, uint16_t aValue)
{
    uint8_t result = 0xFF;
    WithModule(aAddress, [&](TzSimModule &m, uint64_t now) { result = m.WriteRegister(aReg, aValue, now); });
    return result;
}

int TzSimBus::LineBaudRate()
{
    std::lock_guard lock(fMutex);
    for (const auto &slave : fSlaves)
        if (auto *module = dynamic_cast<TzSimModule *>(slave.get()))
            return TzSimModule::SpeedOfCode(module->ActiveNetwork().SpeedCode);
    return 9600;
}

int TzSimBus::SlaveCount()
{
    std::lock_guard lock(fMutex);
    return static_cast<int>(fSlaves.size());
}
