#include "sim/uSimSlave.h"

namespace {

uint16_t Word(const TSimBytes &aPdu, size_t aPos)
{
    return static_cast<uint16_t>((aPdu[aPos] << 8) | aPdu[aPos + 1]);
}

void PushWord(TSimBytes &aOut, uint16_t aValue)
{
    aOut.push_back(static_cast<uint8_t>(aValue >> 8));
    aOut.push_back(static_cast<uint8_t>(aValue & 0xFF));
}

// Limits of one request, from the Modbus application protocol.
constexpr uint16_t MaxReadBits = 2000;
constexpr uint16_t MaxReadRegisters = 125;
constexpr uint16_t MaxWriteRegisters = 123;

} // namespace

TSimBytes SimExceptionPdu(uint8_t aFunction, uint8_t aCode)
{
    return {static_cast<uint8_t>(aFunction | 0x80), aCode};
}

bool TzSimSlave::HearsLine(const TzSimLineParams &aLine) const
{
    (void)aLine;
    return true;
}

TSimBytes TzSimSlave::Process(const TSimBytes &aPdu, uint64_t aNowMs)
{
    if (aPdu.empty())
        return {};
    BeforeRequest(aNowMs);
    TSimBytes answer;
    switch (aPdu[0]) {
    case 1:
    case 2:
    case 3:
    case 4: answer = ServeRead(aPdu, aNowMs); break;
    case 5:
    case 6:
    case 16: answer = ServeWrite(aPdu, aNowMs); break;
    default: answer = SimExceptionPdu(aPdu[0], SimExIllegalFunction); break;
    }
    AfterRequest(aNowMs);
    return answer;
}

TSimBytes TzSimSlave::ServeRead(const TSimBytes &aPdu, uint64_t aNowMs)
{
    const uint8_t fn = aPdu[0];
    if (aPdu.size() != 5)
        return SimExceptionPdu(fn, SimExIllegalValue);
    const uint16_t start = Word(aPdu, 1);
    const uint16_t count = Word(aPdu, 3);
    const bool bits = fn == 1 || fn == 2;
    if (count == 0 || count > (bits ? MaxReadBits : MaxReadRegisters))
        return SimExceptionPdu(fn, SimExIllegalValue);
    if (static_cast<uint32_t>(start) + count > 0x10000)
        return SimExceptionPdu(fn, SimExIllegalAddress);

    TSimBytes answer{fn, 0};
    if (bits) {
        answer.resize(2 + (count + 7) / 8, 0);
        for (uint16_t i = 0; i < count; ++i) {
            bool value = false;
            const uint16_t addr = static_cast<uint16_t>(start + i);
            const uint8_t ex = fn == 1 ? ReadCoil(addr, aNowMs, value) : ReadDiscreteInput(addr, aNowMs, value);
            if (ex != 0)
                return SimExceptionPdu(fn, ex);
            if (value)
                answer[2 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        }
    } else {
        for (uint16_t i = 0; i < count; ++i) {
            uint16_t value = 0;
            const uint16_t addr = static_cast<uint16_t>(start + i);
            const uint8_t ex = fn == 3 ? ReadHolding(addr, aNowMs, value) : ReadInput(addr, aNowMs, value);
            if (ex != 0)
                return SimExceptionPdu(fn, ex);
            PushWord(answer, value);
        }
    }
    answer[1] = static_cast<uint8_t>(answer.size() - 2);
    return answer;
}

TSimBytes TzSimSlave::ServeWrite(const TSimBytes &aPdu, uint64_t aNowMs)
{
    const uint8_t fn = aPdu[0];
    if (fn == 5 || fn == 6) {
        if (aPdu.size() != 5)
            return SimExceptionPdu(fn, SimExIllegalValue);
        const uint16_t addr = Word(aPdu, 1);
        const uint16_t value = Word(aPdu, 3);
        uint8_t ex = 0;
        if (fn == 5) {
            if (value != 0xFF00 && value != 0x0000)
                return SimExceptionPdu(fn, SimExIllegalValue);
            ex = WriteCoil(addr, value == 0xFF00, aNowMs);
        } else {
            ex = WriteHoldings(addr, {value}, aNowMs);
        }
        return ex != 0 ? SimExceptionPdu(fn, ex) : aPdu; // the answer echoes the request
    }

    // Function 16: start, count, byte count, values.
    if (aPdu.size() < 6)
        return SimExceptionPdu(fn, SimExIllegalValue);
    const uint16_t start = Word(aPdu, 1);
    const uint16_t count = Word(aPdu, 3);
    const uint8_t byteCount = aPdu[5];
    if (count == 0 || count > MaxWriteRegisters || byteCount != count * 2 || aPdu.size() != 6u + byteCount)
        return SimExceptionPdu(fn, SimExIllegalValue);
    if (static_cast<uint32_t>(start) + count > 0x10000)
        return SimExceptionPdu(fn, SimExIllegalAddress);
    std::vector<uint16_t> values;
    for (uint16_t i = 0; i < count; ++i)
        values.push_back(Word(aPdu, 6 + 2 * i));
    if (const uint8_t ex = WriteHoldings(start, values, aNowMs); ex != 0)
        return SimExceptionPdu(fn, ex);
    return TSimBytes(aPdu.begin(), aPdu.begin() + 5);
}
