// Drives the converter transport's judgement of received datagrams with the state it keeps: a
// script of sends (each takes one sequence number per address) and datagrams from listed and
// unlisted senders, with headers that are right, nearly right or arbitrary. Traps when a datagram
// that is not a whole answer from a listed converter is taken, when an answer is taken with other
// bytes than it carried or although its frame cannot answer the request, when the echo of
// sequence numbers is learnt from anything but two own numbers in a row or kept against a number
// no recent request carried, or when an answer that fits is refused.

#include "FuzzCheck.h"

#include "port/U_Lanvey_Ethernet.h"
#include "port/uAnswerFit.h"
#include "port/uModbusCRC.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct TAddress
{
    const char *IP;
    uint32_t Value; // as the transport codes it: the dotted parts from the lowest byte
};
const TAddress Addresses[] = {
    {"192.168.1.10", 192u | 168u << 8 | 1u << 16 | 10u << 24},
    {"127.0.0.2", 127u | 2u << 24},
    {"10.0.0.1", 10u | 1u << 24},
};
const uint16_t Ports[] = {502, 4001, 4002};

using TSent = std::vector<uint16_t>;
using TEcho = TEthernet_COM_Simulator::TEcho;
using TDatagram = TEthernet_COM_Simulator::TDatagram;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    FuzzedDataProvider input(aData, aSize);
    TEthernet_COM_Simulator transport;
    struct TListed
    {
        uint32_t Value;
        uint16_t Port;
    };
    std::vector<TListed> listed;
    const int addressCount = input.ConsumeIntegralInRange(1, 3);
    for (int i = 0; i < addressCount; ++i) {
        const TAddress &address = Addresses[input.ConsumeIntegralInRange<size_t>(0, std::size(Addresses) - 1)];
        const uint16_t port = Ports[input.ConsumeIntegralInRange<size_t>(0, std::size(Ports) - 1)];
        transport.AddAddress(QString::fromLatin1(address.IP), port);
        listed.push_back({address.Value, port});
    }

    uint16_t next = 65535; // the transport's first sequence number
    TSent sent;
    TSent recent; // the last RecentNumbers numbers sent
    TEcho echo = TEcho::Unknown;
    int ownRun = 0;
    static const uint8_t Frame[] = {0x10, 0x03, 0xEA, 0x70, 0x00, 0x01, 0x00, 0x00};
    const TStringBytes request = TStringBytes::FromRaw(Frame, int(sizeof Frame));
    // The state is small (the numbers of the last send, the learnt echo): a few dozen steps reach
    // all of it, and longer scripts would only make each run dearer.
    for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
        if (input.ConsumeIntegralInRange(0, 7) == 0) {
            transport.Send(request);
            sent.clear();
            for (size_t i = 0; i < listed.size(); ++i) {
                sent.push_back(next);
                recent.push_back(next++);
                if (recent.size() > size_t(TEthernet_COM_Simulator::RecentNumbers))
                    recent.erase(recent.begin());
            }
            FUZZ_REQUIRE(transport.NextNumber() == next);
            continue;
        }

        // A datagram: header fields mostly as a converter would send them.
        std::vector<uint8_t> datagram;
        const uint8_t shape = input.ConsumeIntegral<uint8_t>();
        const std::vector<uint8_t> payload = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 260));
        uint16_t number = input.ConsumeIntegral<uint16_t>();
        if (!sent.empty() && (shape & 0x03) != 0)
            number = sent[(shape >> 2) % sent.size()];
        datagram.push_back((shape & 0x10) ? input.ConsumeIntegral<uint8_t>() : 0x10);
        const uint8_t payloadLength = uint8_t(std::min<size_t>(payload.size(), 255));
        datagram.push_back((shape & 0x20) ? input.ConsumeIntegral<uint8_t>() : payloadLength);
        datagram.push_back(uint8_t(number >> 8));
        datagram.push_back(uint8_t(number));
        datagram.push_back((shape & 0x40) ? input.ConsumeIntegral<uint8_t>() : 0x10);
        datagram.insert(datagram.end(), payload.begin(), payload.end());
        if (shape & 0x80) // cut anywhere, even inside the header
            datagram.resize(input.ConsumeIntegralInRange<size_t>(0, datagram.size()));

        uint32_t sender = listed[0].Value;
        uint16_t socketPort = listed[0].Port;
        const uint8_t from = input.ConsumeIntegral<uint8_t>();
        if (from < 200) {
            const TListed &entry = listed[from % listed.size()];
            sender = entry.Value;
            socketPort = entry.Port;
        } else if (from < 230) {
            sender = input.ConsumeIntegral<uint32_t>();
        } else {
            socketPort = input.ConsumeIntegral<uint16_t>();
        }

        TStringBytes taken;
        const TDatagram verdict = transport.JudgeDatagram(datagram.data(), datagram.size(), sender, socketPort, taken);

        const size_t size = datagram.size();
        const uint8_t version = size > 0 ? datagram[0] : 0;
        const uint8_t length = size > 1 ? datagram[1] : 0;
        const uint8_t type = size > 4 ? datagram[4] : 0;
        const uint16_t carried = uint16_t((size > 2 ? datagram[2] << 8 : 0) | (size > 3 ? datagram[3] : 0));
        const bool whole = (version >> 4) == 1 && (type & 0x0F) != 2 && size >= 5u + length;
        const bool fromListed = std::any_of(listed.begin(), listed.end(), [&](const TListed &l) {
            return l.Value == sender && l.Port == socketPort;
        });
        const bool ownNumber = std::find(sent.begin(), sent.end(), carried) != sent.end();

        const bool recentNumber = std::find(recent.begin(), recent.end(), carried) != recent.end();
        const uint8_t *frame = datagram.data() + std::min<size_t>(size, 5);
        const bool fits = sent.empty() || !whole || !CheckModbusCRC(frame, int(length))
                          || AnswerFitsRequest(Frame, uint32_t(sizeof Frame), frame, length);

        if (!whole) {
            FUZZ_REQUIRE(verdict == TDatagram::Skipped);
        } else if (!fromListed || (echo == TEcho::Echoes && !ownNumber && recentNumber)) {
            FUZZ_REQUIRE(verdict == TDatagram::Foreign);
        } else if (!fits) {
            FUZZ_REQUIRE(verdict == TDatagram::Unfit);
        } else {
            // A whole answer from a listed converter that fits its request is never refused.
            FUZZ_REQUIRE(verdict == TDatagram::Answer);
        }
        if (verdict == TDatagram::Answer) {
            FUZZ_REQUIRE(taken.Size() == length);
            FUZZ_REQUIRE(std::equal(datagram.begin() + 5, datagram.begin() + 5 + length, taken.AsBytes().begin(),
                                    [](uint8_t a, char b) { return a == uint8_t(b); }));
            // Two own numbers in a row make it echo; any other number ends the run, and a number
            // no recent request carried undoes the echo.
            if (ownNumber) {
                if (++ownRun >= 2)
                    echo = TEcho::Echoes;
            } else {
                ownRun = 0;
                echo = TEcho::NoEcho;
            }
        }
        FUZZ_REQUIRE(transport.EchoState() == echo);
    }
    return 0;
}
