#include "port/U_Lanvey_Ethernet.h"

#include "port/uAnswerFit.h"
#include "port/uModbusCRC.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point aStart)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - aStart).count();
}

constexpr int DatagramCapacity = 8192;
// A flood of stale datagrams must not hold a send up for ever.
constexpr int MaxStaleDatagrams = 10000;
// Every receive starts this late, so an answer is never taken up earlier.
constexpr int ReceiveDelayMs = 15;

QString DottedAddress(uint32_t aValue)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(aValue & 0xFF)
        .arg((aValue >> 8) & 0xFF)
        .arg((aValue >> 16) & 0xFF)
        .arg(aValue >> 24);
}

} // namespace

std::function<void(const QString &)> TEthernet_COM_Simulator::LogHook;

TEthernet_COM_Simulator::TEthernet_COM_Simulator(void *) {}

TEthernet_COM_Simulator::~TEthernet_COM_Simulator()
{
    Close();
    ClearAdress();
}

void TEthernet_COM_Simulator::WriteToLog(const QString &aText)
{
    if (LogHook)
        LogHook(aText);
}

void TEthernet_COM_Simulator::ClearAdress()
{
    AIPStrings.clear();
    WorkSocketsPropertys.clear();
    WorkSockets.Clear();
}

uint32_t TEthernet_COM_Simulator::IPValue(const QString &aIP)
{
    uint32_t value = 0;
    int part = 0;
    uint32_t digits = 0;
    bool haveDigits = false;
    auto endPart = [&] {
        if (haveDigits && part < 4)
            value += digits << (8 * part);
        if (haveDigits)
            ++part;
        digits = 0;
        haveDigits = false;
    };
    for (const QChar c : aIP) {
        if (c.isDigit() && c.unicode() < 128) {
            digits = digits * 10 + uint32_t(c.unicode() - '0');
            haveDigits = true;
        } else if (c == u'.') {
            endPart();
        }
    }
    endPart();
    return value;
}

void TEthernet_COM_Simulator::AddAddress(const QString &aIP, uint16_t aPort)
{
    TObjIPStrings entry;
    entry.IP = aIP.toLatin1();
    entry.Port = aPort;
    entry.valueIP = IPValue(aIP);
    const auto same = std::find_if(WorkSocketsPropertys.begin(), WorkSocketsPropertys.end(),
                                   [&](const TPropertySockets &s) { return s.Port == aPort; });
    if (same != WorkSocketsPropertys.end()) {
        entry.SocketIndex = int32_t(same - WorkSocketsPropertys.begin());
    } else {
        TPropertySockets socket;
        socket.Port = aPort;
        WorkSocketsPropertys.push_back(socket);
        entry.SocketIndex = WorkSockets.AddSlot();
    }
    AIPStrings.push_back(entry);
}

int TEthernet_COM_Simulator::Open()
{
    int bound = 0;
    for (int i = 0; i < int(WorkSocketsPropertys.size()); ++i) {
        if (!WorkSockets.Create(i))
            throw ESocketError("socket");
        if (WorkSockets.Bind(i, WorkSocketsPropertys[i].Port))
            ++bound;
    }
    return bound;
}

void TEthernet_COM_Simulator::Close()
{
    WorkSockets.CloseAll();
}

TPropertySockets TEthernet_COM_Simulator::SocketEntry(int aIndex) const
{
    TPropertySockets entry = WorkSocketsPropertys.at(size_t(aIndex));
    entry.Open = WorkSockets.IsOpen(aIndex);
    entry.RecvBind = WorkSockets.IsBound(aIndex);
    return entry;
}

QByteArray TEthernet_COM_Simulator::BuildPack(uint16_t aNumber, const TStringBytes &aCommand)
{
    QByteArray pack;
    pack.reserve(HeaderSize + aCommand.Size());
    pack.append(char(PackVersion));
    pack.append(char(aCommand.Size()));
    pack.append(char(aNumber >> 8));
    pack.append(char(aNumber & 0xFF));
    pack.append(char(PackTypeRequest));
    pack.append(aCommand.AsBytes());
    return pack;
}

void TEthernet_COM_Simulator::ClearAllEvents()
{
    uint8_t scrap[DatagramCapacity];
    for (int n = 0; n < MaxStaleDatagrams; ++n) {
        int slot = -1;
        const TzUdpSocketSet::TWait wait = WorkSockets.Wait(0, slot);
        if (wait != TzUdpSocketSet::TWait::Readable && wait != TzUdpSocketSet::TWait::Other)
            return;
        uint32_t sender;
        uint16_t senderPort;
        WorkSockets.RecvFrom(slot, scrap, sizeof scrap, sender, senderPort);
    }
}

// A converter that keeps no sequence numbers may send an answer twice: the copy would be taken
// for the next request's answer. As after a frame on the serial line, the sockets must fall
// quiet for a gap after the answer; what arrives meanwhile is dropped. Numbers tell copies
// apart where the converter echoes them, so it costs nothing there.
void TEthernet_COM_Simulator::DropAnswerCopies()
{
    if (!std::exchange(fAnswerTaken, false) || fEcho == TEcho::Echoes)
        return;
    using std::chrono::milliseconds;
    const Clock::time_point latest = fAnswerAt + milliseconds(std::max(AWaitTime, AnswerCopyGapMs));
    Clock::time_point quietUntil = fAnswerAt + milliseconds(AnswerCopyGapMs);
    uint8_t scrap[DatagramCapacity];
    for (int n = 0; n < MaxStaleDatagrams; ++n) {
        const int64_t left = std::chrono::ceil<milliseconds>(std::min(quietUntil, latest) - Clock::now()).count();
        if (left <= 0)
            return;
        int slot = -1;
        const TzUdpSocketSet::TWait wait = WorkSockets.Wait(int(left), slot);
        if (wait == TzUdpSocketSet::TWait::Other)
            continue;
        if (wait != TzUdpSocketSet::TWait::Readable)
            return;
        uint32_t sender = 0;
        uint16_t senderPort = 0;
        const int received = WorkSockets.RecvFrom(slot, scrap, sizeof scrap, sender, senderPort);
        // Only the converter's own datagrams keep the gap open: strangers cannot hold it up.
        if (received >= 0 && CheckSenderAddress(sender, WorkSocketsPropertys[size_t(slot)].Port))
            quietUntil = Clock::now() + milliseconds(AnswerCopyGapMs);
    }
}

bool TEthernet_COM_Simulator::RecentNumber(uint16_t aNumber) const
{
    return std::find(fRecentNumbers.begin(), fRecentNumbers.end(), aNumber) != fRecentNumbers.end();
}

void TEthernet_COM_Simulator::Send(const TStringBytes &aCommand)
{
    TzUdpSocketSet::RaiseThreadPriority();
    if (!WorkSockets.Ready())
        throw ESocketError("socket library");
    DropAnswerCopies();
    ClearAllEvents();
    fSentNumbers.clear();
    fLastCommand = aCommand.AsBytes();
    for (const TObjIPStrings &entry : AIPStrings) {
        const QByteArray pack = BuildPack(Number, aCommand);
        fSentNumbers.push_back(Number);
        fRecentNumbers.push_back(Number);
        if (fRecentNumbers.size() > size_t(RecentNumbers))
            fRecentNumbers.erase(fRecentNumbers.begin());
        Number = uint16_t(Number + 1);
        if (WorkSockets.IsOpen(entry.SocketIndex) && WorkSockets.IsBound(entry.SocketIndex))
            WorkSockets.SendTo(entry.SocketIndex, entry.IP.constData(), entry.Port,
                               reinterpret_cast<const uint8_t *>(pack.constData()), size_t(pack.size()));
    }
}

TStringBytes TEthernet_COM_Simulator::Recv()
{
    if (!WorkSockets.Ready())
        throw ESocketError("socket library");
    WriteToLog(QStringLiteral("-> Прием данных ->"));
    const Clock::time_point t0 = Clock::now();
    bool foreignSeen = false;
    uint8_t datagram[DatagramCapacity];
    for (;;) {
        // Closed sockets (the engine stopped) end the receive at once.
        if (!WorkSockets.AnyOpen())
            return TStringBytes();
        // A wait period; after a foreign sender a new one starts, but all of them together end
        // within twice the wait time.
        const Clock::time_point periodStart = Clock::now();
        int64_t periodLength = AWaitTime;
        if (foreignSeen)
            periodLength = std::min<int64_t>(periodLength, 2 * int64_t(AWaitTime) - MsSince(t0));
        bool newPeriod = false;
        while (!newPeriod) {
            if (!foreignSeen)
                WorkSockets.Sleep(ReceiveDelayMs);
            // What is left of the period; skipped packets and the delay above count against it.
            const int64_t remaining = foreignSeen
                                          ? periodLength - MsSince(periodStart)
                                          : periodLength - std::max<int64_t>(0, MsSince(periodStart) - ReceiveDelayMs);
            if (remaining <= 0)
                return TStringBytes();
            int slot = -1;
            const TzUdpSocketSet::TWait wait = WorkSockets.Wait(int(std::min<int64_t>(remaining, 1 << 30)), slot);
            if (wait == TzUdpSocketSet::TWait::Other)
                continue;
            if (wait != TzUdpSocketSet::TWait::Readable)
                return TStringBytes();

            uint32_t sender = 0;
            uint16_t senderPort = 0;
            const int received = WorkSockets.RecvFrom(slot, datagram, sizeof datagram, sender, senderPort);
            if (received < 0)
                continue;
            TPropertySockets &socket = WorkSocketsPropertys[size_t(slot)];
            socket.RecvAddr = sender;
            socket.RecvPort = senderPort;

            TStringBytes payload;
            switch (JudgeDatagram(datagram, size_t(received), sender, socket.Port, payload)) {
            case TDatagram::Skipped: continue;
            case TDatagram::Unfit: WriteToLog(QStringLiteral("RECV <--  ***  Ответ не на этот запрос")); continue;
            case TDatagram::Foreign:
                WriteToLog(QStringLiteral("RECV <--  ***  Ответ не с ожидаемого адреса : ") + DottedAddress(sender)
                           + u':' + QString::number(socket.Port));
                foreignSeen = true;
                if (MsSince(t0) > 2 * int64_t(AWaitTime))
                    return TStringBytes();
                newPeriod = true;
                continue;
            case TDatagram::Answer:
                fAnswerTaken = true;
                fAnswerAt = Clock::now();
                return payload;
            }
        }
    }
}

int TEthernet_COM_Simulator::DropLateAnswers(int aCount, int aWithinMs)
{
    const Clock::time_point start = Clock::now();
    uint8_t datagram[DatagramCapacity];
    int dropped = 0;
    while (dropped < aCount) {
        const int64_t left = aWithinMs - MsSince(start);
        if (left <= 0)
            break;
        int slot = -1;
        const TzUdpSocketSet::TWait wait = WorkSockets.Wait(int(std::min<int64_t>(left, 1 << 30)), slot);
        if (wait == TzUdpSocketSet::TWait::Other)
            continue;
        if (wait != TzUdpSocketSet::TWait::Readable)
            break;
        uint32_t sender = 0;
        uint16_t senderPort = 0;
        const int received = WorkSockets.RecvFrom(slot, datagram, sizeof datagram, sender, senderPort);
        if (received < HeaderSize)
            continue;
        const bool answer = (datagram[0] >> 4) == 1 && (datagram[4] & 0x0F) != 2;
        if (answer && CheckSenderAddress(sender, WorkSocketsPropertys[size_t(slot)].Port))
            ++dropped;
    }
    return dropped;
}

TEthernet_COM_Simulator::TDatagram TEthernet_COM_Simulator::JudgeDatagram(const uint8_t *aDatagram, size_t aSize,
                                                                          uint32_t aSender, uint16_t aSocketPort,
                                                                          TStringBytes &aPayload)
{
    std::memset(&Ethernet_Lanvey, 0, sizeof Ethernet_Lanvey);
    std::memcpy(&Ethernet_Lanvey, aDatagram, std::min(aSize, sizeof Ethernet_Lanvey));
    if ((Ethernet_Lanvey.Version >> 4) != 1 || (Ethernet_Lanvey.PackType & 0x0F) == 2)
        return TDatagram::Skipped;
    // A datagram shorter than its header says carries no whole frame.
    if (aSize < size_t(HeaderSize) + Ethernet_Lanvey.Length)
        return TDatagram::Skipped;
    if (!CheckSenderAddress(aSender, aSocketPort))
        return TDatagram::Foreign;
    const uint16_t number = uint16_t(Ethernet_Lanvey.Number[0] << 8 | Ethernet_Lanvey.Number[1]);
    const bool ownNumber = std::find(fSentNumbers.begin(), fSentNumbers.end(), number) != fSentNumbers.end();
    // A whole frame (its CRC holds) that cannot answer the request sent is another one's answer;
    // a frame with a broken CRC is left to the engine, which reports it as such.
    const auto *frame = Ethernet_Lanvey.Data;
    const uint32_t length = Ethernet_Lanvey.Length;
    const bool fits = fLastCommand.isEmpty() || !CheckModbusCRC(frame, int(length))
                      || AnswerFitsRequest(reinterpret_cast<const uint8_t *>(fLastCommand.constData()),
                                           uint32_t(fLastCommand.size()), frame, length);
    if (fEcho == TEcho::Echoes && !ownNumber) {
        // Where the converter echoes, a recent request's number marks that request's answer,
        // come late: skipped like a foreign sender's packet.
        if (RecentNumber(number))
            return TDatagram::Foreign;
        if (!fits)
            return TDatagram::Unfit;
        // An answer that fits but carries a number no recent request carried: this converter
        // does not echo after all.
        fEcho = TEcho::NoEcho;
        fOwnNumberRun = 0;
    }
    if (!fits)
        return TDatagram::Unfit;
    if (ownNumber) {
        if (++fOwnNumberRun >= 2)
            fEcho = TEcho::Echoes;
    } else {
        fOwnNumberRun = 0;
        if (fEcho == TEcho::Unknown)
            fEcho = TEcho::NoEcho;
    }
    aPayload = TStringBytes::FromRaw(frame, int(length));
    return TDatagram::Answer;
}

bool TEthernet_COM_Simulator::CheckSenderAddress(uint32_t aAddr, uint16_t aPort) const
{
    // The lines are only composed when someone takes them: this runs for every datagram.
    const bool logging = bool(LogHook);
    if (logging)
        WriteToLog(QStringLiteral("RECV <--  ***  Проверка элементов: ") + QString::number(AIPStrings.size()));
    for (const TObjIPStrings &entry : AIPStrings) {
        if (logging)
            WriteToLog(QStringLiteral("RECV <--  ***  Проверка : ")
                       + QString::asprintf("ip %d:%d (%s) и %d:%d", int(entry.valueIP), int(entry.Port),
                                           entry.IP.constData(), int(aAddr), int(aPort)));
        if (entry.valueIP == aAddr && entry.Port == aPort)
            return true;
    }
    return false;
}
