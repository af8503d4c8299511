// Feeds scripts of request frames to the simulated bus (a Quadrel module and a device of another
// kind), with the clock moving between them: frames built right with arbitrary fields, frames
// with the right checksum over arbitrary bytes, and plain noise. Traps when an answer is not a
// well-formed Modbus RTU answer to its request (checksum, address, function or its exception
// with a known code, the byte count and length a read asks for, the echo of a write), when a
// broadcast or a damaged frame is answered, or when the module's register views disagree.

#include "FuzzCheck.h"

#include "port/uModbusCRC.h"
#include "sim/uSimBus.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr uint8_t ForeignAddress = 33;

void AppendCrc(TSimBytes &aFrame)
{
    const uint16_t crc = CalcModbusCRC(aFrame.data(), int(aFrame.size()));
    aFrame.push_back(uint8_t(crc & 0xFF));
    aFrame.push_back(uint8_t(crc >> 8));
}

uint16_t Word(const TSimBytes &aBytes, size_t aPos)
{
    return uint16_t(aBytes[aPos] << 8 | aBytes[aPos + 1]);
}

uint16_t Register(FuzzedDataProvider &aInput)
{
    // Mostly the module's own registers, so the fuzzer reaches its logic.
    static constexpr uint16_t Known[] = {28672,
                                         28673,
                                         28676,
                                         28680,
                                         36864,
                                         36865,
                                         36866,
                                         36869,
                                         24582,
                                         36881,
                                         60000,
                                         60013,
                                         60014,
                                         60015,
                                         60016,
                                         60017,
                                         60075,
                                         60076,
                                         4096,
                                         4099,
                                         4100,
                                         4101,
                                         4104,
                                         4096 + 128 * 19,
                                         4096 + 128 * 19 + 8,
                                         4096 + 128 * 20};
    const uint8_t pick = aInput.ConsumeIntegral<uint8_t>();
    const uint16_t base = pick < 192 ? Known[pick % std::size(Known)] : aInput.ConsumeIntegral<uint16_t>();
    return uint16_t(base + (pick & 0x01 ? 0 : aInput.ConsumeIntegralInRange<int>(-2, 2)));
}

TSimBytes MakeRequest(FuzzedDataProvider &aInput)
{
    const uint8_t shape = aInput.ConsumeIntegral<uint8_t>();
    const uint8_t addressPick = aInput.ConsumeIntegral<uint8_t>();
    const uint8_t address = addressPick < 160   ? ModuleAddress
                            : addressPick < 200 ? ForeignAddress
                            : addressPick < 210 ? 0
                                                : addressPick;
    TSimBytes frame{address};
    if (shape < 200) {
        static constexpr uint8_t Functions[] = {1, 2, 3, 4, 5, 6, 16, 15, 7, 0x83};
        const uint8_t function = Functions[shape % std::size(Functions)];
        frame.push_back(function);
        const uint16_t reg = Register(aInput);
        frame.push_back(uint8_t(reg >> 8));
        frame.push_back(uint8_t(reg));
        if (function == 16 || function == 15) {
            const uint16_t count = aInput.ConsumeIntegralInRange<uint16_t>(0, 130);
            frame.push_back(uint8_t(count >> 8));
            frame.push_back(uint8_t(count));
            const uint8_t bytes = aInput.ConsumeBool() ? uint8_t(2 * count) : aInput.ConsumeIntegral<uint8_t>();
            frame.push_back(bytes);
            for (int i = 0; i < bytes; ++i)
                frame.push_back(aInput.ConsumeIntegral<uint8_t>());
        } else if (function == 5 && aInput.ConsumeBool()) {
            frame.push_back(aInput.ConsumeBool() ? 0xFF : 0x00);
            frame.push_back(0x00);
        } else {
            const uint16_t value = aInput.ConsumeBool() ? aInput.ConsumeIntegralInRange<uint16_t>(0, 130)
                                                        : aInput.ConsumeIntegral<uint16_t>();
            frame.push_back(uint8_t(value >> 8));
            frame.push_back(uint8_t(value));
        }
    } else {
        const TSimBytes raw = aInput.ConsumeBytes<uint8_t>(aInput.ConsumeIntegralInRange<size_t>(0, 260));
        frame.insert(frame.end(), raw.begin(), raw.end());
    }
    if (shape % 8 != 7) // the rest go out with whatever their last bytes are
        AppendCrc(frame);
    return frame;
}

// Everything the master could read of one output agrees with everything else.
void CheckModule(TzSimBus &aBus)
{
    aBus.WithFirstModule([](TzSimModule &aModule, uint64_t aNow) {
        uint16_t state1 = 0, state17 = 0, safe1 = 0, safe17 = 0;
        FUZZ_REQUIRE(aModule.ReadRegister(TzSimModule::RegState1, aNow, state1));
        FUZZ_REQUIRE(aModule.ReadRegister(TzSimModule::RegState17, aNow, state17));
        FUZZ_REQUIRE(aModule.ReadRegister(TzSimModule::RegSafe1, aNow, safe1));
        FUZZ_REQUIRE(aModule.ReadRegister(TzSimModule::RegSafe17, aNow, safe17));
        FUZZ_REQUIRE(state17 <= 0x000F && safe17 <= 0x000F);
        const uint32_t states = state1 | uint32_t(state17) << 16;
        const uint32_t safes = safe1 | uint32_t(safe17) << 16;
        for (int n = 1; n <= TzSimModule::OutputCount; ++n) {
            const uint16_t base = uint16_t(TzSimModule::OutputBase + TzSimModule::OutputStride * (n - 1));
            const uint16_t pwm = uint16_t(TzSimModule::RegPwmFirst + 3 * (n - 1));
            uint16_t unit = 0, period = 0, fill = 0, blockUnit = 0, blockPeriod = 0, blockFill = 0;
            FUZZ_REQUIRE(aModule.ReadRegister(base + TzSimModule::OffUnit, aNow, unit));
            FUZZ_REQUIRE(aModule.ReadRegister(base + TzSimModule::OffPeriod, aNow, period));
            FUZZ_REQUIRE(aModule.ReadRegister(base + TzSimModule::OffFill, aNow, fill));
            FUZZ_REQUIRE(aModule.ReadRegister(pwm, aNow, blockUnit));
            FUZZ_REQUIRE(aModule.ReadRegister(pwm + 1, aNow, blockPeriod));
            FUZZ_REQUIRE(aModule.ReadRegister(pwm + 2, aNow, blockFill));
            FUZZ_REQUIRE(unit == blockUnit && period == blockPeriod && fill == blockFill);
            FUZZ_REQUIRE(unit >= 1 && unit <= 240 && period >= 50 && period <= 36000 && fill <= 1000);
            const bool on = aModule.OutputState(n, aNow);
            FUZZ_REQUIRE(on == bool(states >> (n - 1) & 1));
            if (fill == 0 || fill == 1000)
                FUZZ_REQUIRE(on == (fill == 1000));
            FUZZ_REQUIRE(aModule.SafeState(n) == bool(safes >> (n - 1) & 1));
        }
    });
}

// What a well-formed answer to aRequest looks like.
void CheckAnswer(const TSimBytes &aRequest, const TSimBytes &aAnswer)
{
    FUZZ_REQUIRE(aAnswer.size() >= 5 && aAnswer.size() <= 256);
    FUZZ_REQUIRE(CheckModbusCRC(aAnswer.data(), int(aAnswer.size())));
    FUZZ_REQUIRE(aAnswer[0] == aRequest[0]);
    const uint8_t function = aRequest[1];
    if (aAnswer[1] == (function | 0x80)) {
        FUZZ_REQUIRE(aAnswer.size() == 5);
        FUZZ_REQUIRE(aAnswer[2] >= 1 && aAnswer[2] <= 3);
        return;
    }
    FUZZ_REQUIRE(aAnswer[1] == function);
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4: {
        FUZZ_REQUIRE(aRequest.size() == 8);
        const uint16_t quantity = Word(aRequest, 4);
        const size_t bytes = function <= 2 ? (quantity + 7u) / 8 : 2u * quantity;
        FUZZ_REQUIRE(quantity >= 1 && aAnswer[2] == bytes && aAnswer.size() == 5 + bytes);
        break;
    }
    case 5:
    case 6: FUZZ_REQUIRE(aAnswer == aRequest); break;
    case 16:
        FUZZ_REQUIRE(aAnswer.size() == 8 && std::equal(aAnswer.begin(), aAnswer.begin() + 6, aRequest.begin()));
        break;
    default: FUZZ_REQUIRE(false); // no other function is served
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    FuzzedDataProvider input(aData, aSize);
    uint64_t now = 1000;
    TzSimBus bus([&now] { return now; });
    bus.AddModule(ModuleAddress);
    bus.AddForeignDevice(ForeignAddress, 12);
    for (int frames = 0; frames < 64 && input.remaining_bytes() > 0; ++frames) {
        now += input.ConsumeBool() ? input.ConsumeIntegralInRange<uint64_t>(0, 700000) : 0;
        const TSimBytes request = MakeRequest(input);
        const bool intact = request.size() >= 4 && request.size() <= 256
                            && CheckModbusCRC(request.data(), int(request.size()));
        const std::optional<TSimBytes> answer = bus.HandleFrame(request);
        if (answer) {
            FUZZ_REQUIRE(intact && request[0] != 0);
            CheckAnswer(request, *answer);
        }
        // Only writes change the register map (a broadcast one unanswered); the passing time is
        // checked once at the end.
        if (intact && request.size() >= 2 && (request[1] == 5 || request[1] == 6 || request[1] == 16))
            CheckModule(bus);
    }
    CheckModule(bus);
    return 0;
}
