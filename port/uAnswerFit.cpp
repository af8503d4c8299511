#include "port/uAnswerFit.h"

#include "port/uModbusCRC.h"

#include <algorithm>

namespace {

constexpr uint32_t ExceptionLength = 5; // address, function + 80h, code, CRC
constexpr uint32_t EchoLength = 8;      // address, function, register, value or quantity, CRC
constexpr uint8_t ExceptionFlag = 0x80;

uint16_t Word(const uint8_t *aBytes)
{
    return uint16_t(aBytes[0] << 8 | aBytes[1]);
}

// What a request's normal answer looks like.
struct TExpected
{
    enum TKind { Unknown, Read, Echo } Kind = Unknown;
    uint32_t ByteCount = 0; // of a read
};

TExpected Expect(const uint8_t *aRequest, uint32_t aRequestLen)
{
    TExpected expected;
    if (aRequestLen < 2 || aRequest[0] == 0) // a broadcast gets no answer
        return expected;
    const uint8_t function = aRequest[1];
    if (function >= 1 && function <= 4 && aRequestLen == 8) {
        const uint32_t quantity = Word(aRequest + 4);
        const bool coils = function <= 2;
        if (quantity == 0 || quantity > (coils ? 2000u : 125u))
            return expected;
        expected.Kind = TExpected::Read;
        expected.ByteCount = coils ? (quantity + 7) / 8 : 2 * quantity;
    } else if ((function == 5 || function == 6) && aRequestLen == 8) {
        expected.Kind = TExpected::Echo;
    } else if ((function == 15 || function == 16) && aRequestLen >= 9 && aRequestLen == 9u + aRequest[6]) {
        // Only the standard layout (quantity and byte count) is answered by an 8-byte echo.
        const uint32_t quantity = Word(aRequest + 4);
        const uint32_t bytes = function == 15 ? (quantity + 7) / 8 : 2 * quantity;
        if (quantity != 0 && bytes == aRequest[6])
            expected.Kind = TExpected::Echo;
    }
    return expected;
}

} // namespace

uint32_t AnswerBytesNeeded(const uint8_t *aRequest, uint32_t aRequestLen, const uint8_t *aAnswer, uint32_t aCount)
{
    const TExpected expected = Expect(aRequest, aRequestLen);
    if (expected.Kind == TExpected::Unknown)
        return AnswerNeedUnknown;
    if (aCount < 2)
        return ExceptionLength - aCount;
    if (aAnswer[0] != aRequest[0])
        return AnswerNeedUnknown;
    uint32_t length;
    if (aAnswer[1] == (aRequest[1] | ExceptionFlag)) {
        length = ExceptionLength;
    } else if (aAnswer[1] != aRequest[1]) {
        return AnswerNeedUnknown;
    } else if (expected.Kind == TExpected::Echo) {
        length = EchoLength;
    } else {
        if (aCount < 3)
            return 3 - aCount;
        if (aAnswer[2] != expected.ByteCount)
            return AnswerNeedUnknown;
        length = 5 + expected.ByteCount;
    }
    if (aCount < length)
        return length - aCount;
    if (aCount == length && CheckModbusCRC(aAnswer, int(aCount)))
        return 0;
    return AnswerNeedUnknown;
}

bool AnswerFitsRequest(const uint8_t *aRequest, uint32_t aRequestLen, const uint8_t *aAnswer, uint32_t aCount)
{
    if (aRequestLen < 2 || aRequest[0] == 0)
        return true; // nothing to compare with
    if (aCount < 2 || aAnswer[0] != aRequest[0])
        return false;
    if (aAnswer[1] == (aRequest[1] | ExceptionFlag))
        return true;
    if (aAnswer[1] != aRequest[1])
        return false;
    const TExpected expected = Expect(aRequest, aRequestLen);
    if (expected.Kind == TExpected::Read)
        return aCount >= 3 && aAnswer[2] == expected.ByteCount;
    // A write is answered by its own register (or coil) and value or quantity: another write's
    // answer, or a read's, does not carry them.
    if (expected.Kind == TExpected::Echo)
        return aCount >= 6 && std::equal(aRequest + 2, aRequest + 6, aAnswer + 2);
    return true;
}
