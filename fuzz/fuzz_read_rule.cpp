// Drives the decisions of a serial read (TzReadProgress) with a scripted line: the input gives
// the read time-outs, the number of bytes asked for, a request, and the bytes that arrive in
// chunks after delays (often beginning with the request's complete answer). The same script runs
// under the silence rule and under the length-aware rule. Traps when a read hands over more than
// asked, waits past its total time-out, ends without a reason or later than its deadline, spins
// without waiting, changes the bytes, or when the length-aware read does not end at once on a
// complete valid answer, or ends otherwise than the silence rule would.

#include "FuzzCheck.h"

#include "port/uAnswerFit.h"
#include "port/uModbusCRC.h"
#include "port/uReadProgress.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

void AppendCrc(TBytes &aFrame)
{
    const uint16_t crc = CalcModbusCRC(aFrame.data(), int(aFrame.size()));
    aFrame.push_back(uint8_t(crc & 0xFF));
    aFrame.push_back(uint8_t(crc >> 8));
}

uint32_t TimeoutValue(FuzzedDataProvider &aInput)
{
    static constexpr uint32_t Typical[] = {0, 1, 2, 5, 10, 20, 50, 100, 250, 1000, 0xFFFFFFFE, 0xFFFFFFFF};
    const uint8_t pick = aInput.ConsumeIntegral<uint8_t>();
    if (pick < 2 * std::size(Typical))
        return Typical[pick % std::size(Typical)];
    return aInput.ConsumeIntegral<uint32_t>();
}

// A request as the panel sends it (or not quite), and the complete answer a slave would give.
void MakeExchange(FuzzedDataProvider &aInput, TBytes &aRequest, TBytes &aAnswer)
{
    const uint8_t address = aInput.ConsumeBool() ? 16 : aInput.ConsumeIntegral<uint8_t>();
    const uint8_t kind = aInput.ConsumeIntegralInRange<uint8_t>(0, 7);
    aRequest = {address};
    aAnswer = {address};
    if (kind <= 3) { // reads, functions 1..4
        const uint8_t function = uint8_t(kind + 1);
        const uint16_t quantity = aInput.ConsumeIntegralInRange<uint16_t>(0, kind <= 1 ? 2001 : 126);
        aRequest.insert(aRequest.end(), {function, 0x9C, 0x40, uint8_t(quantity >> 8), uint8_t(quantity)});
        const uint32_t bytes = kind <= 1 ? (quantity + 7u) / 8 : 2u * quantity;
        aAnswer.insert(aAnswer.end(), {function, uint8_t(bytes)});
        for (uint32_t i = 0; i < bytes && i < 252; ++i)
            aAnswer.push_back(aInput.ConsumeIntegral<uint8_t>());
    } else if (kind <= 5) { // single writes, answered by their echo
        aRequest.insert(aRequest.end(), {uint8_t(kind == 4 ? 5 : 6), 0x10, 0x00, 0xFF, 0x00});
        aAnswer = aRequest;
    } else if (kind == 6) { // a multiple write
        const uint8_t count = aInput.ConsumeIntegralInRange<uint8_t>(1, 4);
        aRequest.insert(aRequest.end(), {16, 0xEA, 0x60, 0, count, uint8_t(2 * count)});
        for (int i = 0; i < 2 * count; ++i)
            aRequest.push_back(aInput.ConsumeIntegral<uint8_t>());
        aAnswer.insert(aAnswer.end(), aRequest.begin() + 1, aRequest.begin() + 6);
    } else { // anything at all
        const TBytes raw = aInput.ConsumeBytes<uint8_t>(aInput.ConsumeIntegralInRange<size_t>(0, 12));
        aRequest.insert(aRequest.end(), raw.begin(), raw.end());
        aAnswer.push_back(aRequest.size() > 1 ? aRequest[1] : 0);
    }
    AppendCrc(aRequest);
    if (aInput.ConsumeBool()) // the exception answer instead
        aAnswer = {address, uint8_t((aRequest.size() > 1 ? aRequest[1] : 0) | 0x80), aInput.ConsumeIntegral<uint8_t>()};
    AppendCrc(aAnswer);
}

struct TArrival
{
    uint64_t AtUs; // when the chunk is on the line, from the start of the read
    size_t End;    // the stream's bytes up to here have arrived
};

struct TOutcome
{
    TBytes Bytes;
    uint64_t EndUs = 0;
    bool Blocked = false; // waits for ever: no deadline and nothing more comes
    bool EndedByAnswer = false;
    uint64_t LastByteUs = 0;
};

TOutcome Run(const TzReadEndRule &aRule, uint32_t aCount, const TzAnswerNeed *aNeed, const TBytes &aStream,
             const std::vector<TArrival> &aArrivals)
{
    TOutcome outcome;
    TzReadProgress progress(aRule, aCount, aNeed);
    TBytes buffer(size_t(aCount) + 1, 0xEE);
    uint64_t now = 0;
    size_t consumed = 0;
    size_t nextArrival = 0;
    auto arrived = [&] { // bytes on the line by now
        while (nextArrival < aArrivals.size() && aArrivals[nextArrival].AtUs <= now)
            ++nextArrival;
        return nextArrival == 0 ? size_t(0) : aArrivals[nextArrival - 1].End;
    };
    for (int step = 0;; ++step) {
        FUZZ_REQUIRE(step < 100000); // every step takes bytes or waits: no spinning
        const uint32_t want = progress.Want(buffer.data());
        FUZZ_REQUIRE(want <= aCount - progress.Count());
        if (want == 0) {
            outcome.EndedByAnswer = progress.Count() < aCount;
            break;
        }
        const size_t available = arrived() - consumed;
        const size_t taken = std::min<size_t>(want, available);
        if (taken > 0) {
            std::copy_n(aStream.begin() + ptrdiff_t(consumed), taken, buffer.begin() + progress.Count());
            consumed += taken;
            outcome.LastByteUs = now;
            if (progress.Received(uint32_t(taken), now))
                break;
            continue;
        }
        const std::optional<uint64_t> wait = progress.WaitUs(now);
        if (!wait)
            break;
        FUZZ_REQUIRE(*wait > 0);
        const uint64_t nextAt = nextArrival < aArrivals.size() ? aArrivals[nextArrival].AtUs : UINT64_MAX;
        if (*wait == UINT64_MAX && nextAt == UINT64_MAX) {
            outcome.Blocked = true;
            break;
        }
        now = *wait == UINT64_MAX ? nextAt : std::min(nextAt, now + *wait);
    }
    FUZZ_REQUIRE(progress.Count() == consumed);
    FUZZ_REQUIRE(buffer[aCount] == 0xEE); // nothing written past the bytes asked for
    outcome.Bytes.assign(buffer.begin(), buffer.begin() + progress.Count());
    outcome.EndUs = now;
    return outcome;
}

// What holds for every read, whatever the rule ending it.
void CheckRead(const TzReadEndRule &aRule, uint32_t aCount, const TOutcome &aOutcome, const TBytes &aStream,
               const std::vector<TArrival> &aArrivals)
{
    const size_t count = aOutcome.Bytes.size();
    FUZZ_REQUIRE(count <= aCount);
    FUZZ_REQUIRE(std::equal(aOutcome.Bytes.begin(), aOutcome.Bytes.end(), aStream.begin()));
    const uint64_t totalUs = aRule.TotalMs == UINT64_MAX ? UINT64_MAX : aRule.TotalMs * 1000;
    if (aOutcome.Blocked) {
        FUZZ_REQUIRE(totalUs == UINT64_MAX && !aRule.ReturnAtOnce);
        FUZZ_REQUIRE(count == 0 || aRule.IntervalMs == UINT64_MAX);
        return;
    }
    FUZZ_REQUIRE(aOutcome.EndUs <= totalUs);
    if (aRule.ReturnAtOnce) {
        FUZZ_REQUIRE(aOutcome.EndUs == 0);
        return;
    }
    if (count == aCount || aOutcome.EndedByAnswer)
        return;
    if (aRule.ReturnOnFirstByte && count > 0) {
        FUZZ_REQUIRE(aOutcome.EndUs == aArrivals.front().AtUs);
        return;
    }
    // Ended by a time-out: exactly at the nearer deadline, not before and not after.
    uint64_t deadline = totalUs;
    if (count > 0 && aRule.IntervalMs != UINT64_MAX)
        deadline = std::min(deadline, aOutcome.LastByteUs + aRule.IntervalMs * 1000);
    FUZZ_REQUIRE(aOutcome.EndUs == deadline);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    FuzzedDataProvider input(aData, aSize);
    TzLineTimeouts timeouts;
    timeouts.ReadIntervalTimeout = TimeoutValue(input);
    timeouts.ReadTotalTimeoutMultiplier = TimeoutValue(input);
    timeouts.ReadTotalTimeoutConstant = TimeoutValue(input);
    const uint32_t count = input.ConsumeBool() ? 255 : input.ConsumeIntegralInRange<uint32_t>(0, 300);
    const TzReadEndRule rule = TzReadEndRule::From(timeouts, count);

    TBytes request, answer;
    MakeExchange(input, request, answer);
    const bool answerFirst = input.ConsumeBool();
    TBytes stream = answerFirst ? answer : TBytes();
    const TBytes tail = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 300));
    stream.insert(stream.end(), tail.begin(), tail.end());

    // The stream arrives in chunks, each after a delay.
    std::vector<TArrival> arrivals;
    uint64_t at = 0;
    for (size_t end = 0; end < stream.size();) {
        static constexpr uint64_t TypicalUs[] = {0, 1, 520, 1000, 1750, 5000, 9999, 10000, 10001, 100000};
        const uint8_t pick = input.ConsumeIntegral<uint8_t>();
        at += pick < 200 ? TypicalUs[pick % std::size(TypicalUs)] : input.ConsumeIntegralInRange<uint64_t>(0, 5000000);
        end = std::min(stream.size(), end + input.ConsumeIntegralInRange<size_t>(1, 64));
        arrivals.push_back({at, end});
    }

    const TzAnswerNeed need = [&request](const uint8_t *aBytes, uint32_t aCount) {
        return AnswerBytesNeeded(request.data(), uint32_t(request.size()), aBytes, aCount);
    };
    const TOutcome bySilence = Run(rule, count, nullptr, stream, arrivals);
    const TOutcome byLength = Run(rule, count, &need, stream, arrivals);
    CheckRead(rule, count, bySilence, stream, arrivals);
    CheckRead(rule, count, byLength, stream, arrivals);
    FUZZ_REQUIRE(!bySilence.EndedByAnswer);

    // The length rule takes what the silence rule takes, or less when a complete answer ended it
    // sooner: then its bytes are exactly a complete valid answer.
    FUZZ_REQUIRE(byLength.Bytes.size() <= bySilence.Bytes.size());
    if (byLength.EndedByAnswer) {
        FUZZ_REQUIRE(need(byLength.Bytes.data(), uint32_t(byLength.Bytes.size())) == 0);
        FUZZ_REQUIRE(CheckModbusCRC(byLength.Bytes.data(), int(byLength.Bytes.size())));
        FUZZ_REQUIRE(AnswerFitsRequest(request.data(), uint32_t(request.size()), byLength.Bytes.data(),
                                       uint32_t(byLength.Bytes.size())));
        FUZZ_REQUIRE(byLength.EndUs <= bySilence.EndUs || bySilence.Blocked);
    } else if (!rule.ReturnOnFirstByte) {
        FUZZ_REQUIRE(byLength.Bytes == bySilence.Bytes);
        FUZZ_REQUIRE(byLength.Blocked == bySilence.Blocked);
        FUZZ_REQUIRE(byLength.Blocked || byLength.EndUs == bySilence.EndUs);
    }

    // A complete valid answer of a length the request allows ends the read the moment its last
    // byte is there, when the silence rule would have let it arrive whole.
    const uint32_t answerNeed = need(answer.data(), uint32_t(answer.size()));
    if (answerFirst && answerNeed == 0 && !rule.ReturnAtOnce && !rule.ReturnOnFirstByte
        && bySilence.Bytes.size() >= answer.size()) {
        FUZZ_REQUIRE(byLength.EndedByAnswer || answer.size() == count);
        FUZZ_REQUIRE(byLength.Bytes == answer);
        const auto whole = std::find_if(arrivals.begin(), arrivals.end(),
                                        [&](const TArrival &a) { return a.End >= answer.size(); });
        FUZZ_REQUIRE(byLength.EndUs == whole->AtUs);
    }
    return 0;
}
