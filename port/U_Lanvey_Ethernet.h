#pragma once
// TEthernet_COM_Simulator: the Ethernet transport of the port engine. It plays the part of the
// serial port over UDP: each Modbus RTU frame goes to the Lanvey-Ethernet converter in one
// datagram behind a five-byte header, and the answer is the payload of the converter's datagram.

#include "common/uStringBytes.h"
#include "port/uUdpSocketSet.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

// A socket call of the transport failed; the port engine answers it by re-creating the transport.
class ESocketError : public std::runtime_error
{
public:
    explicit ESocketError(const char *aWhat) : std::runtime_error(aWhat) {}
};

#pragma pack(push, 1)
// The converter's frame on the wire.
struct TEthernet_Lanvey_Pack
{
    uint8_t Version;   // high nibble: protocol version 1
    uint8_t Length;    // payload bytes after the header
    uint8_t Number[2]; // sequence number, high byte first
    uint8_t PackType;  // low nibble 2: carries no answer
    uint8_t Data[256];
};
#pragma pack(pop)
static_assert(sizeof(TEthernet_Lanvey_Pack) == 261);

// One converter address.
struct TObjIPStrings
{
    QByteArray IP;
    uint16_t Port = 0;
    uint32_t valueIP = 0; // the dotted parts at successive bytes from the lowest
    int32_t SocketIndex = -1;
};

// One local socket, serving every address of its port.
struct TPropertySockets
{
    uint16_t Port = 0;
    uint32_t RecvAddr = 0; // sender of the last datagram received, coded like valueIP
    uint16_t RecvPort = 0;
    bool RecvBind = false;
    bool Open = false;
};

class TEthernet_COM_Simulator
{
public:
    static constexpr uint8_t PackVersion = 0x10;
    static constexpr uint8_t PackTypeRequest = 0x10;
    static constexpr int HeaderSize = 5;

    explicit TEthernet_COM_Simulator(void *aOwner = nullptr);
    virtual ~TEthernet_COM_Simulator();
    TEthernet_COM_Simulator(const TEthernet_COM_Simulator &) = delete;
    TEthernet_COM_Simulator &operator=(const TEthernet_COM_Simulator &) = delete;

    // Forgets every address and socket (closing the sockets).
    void ClearAdress();
    void SetWaitTime(int32_t aValue) { AWaitTime = aValue; }
    int32_t WaitTime() const { return AWaitTime; }
    void AddAddress(const QString &aIP, uint16_t aPort);
    // Creates and binds one socket per port; returns how many could be bound. Raises ESocketError
    // when a socket cannot even be created.
    int Open();
    // Closes the sockets; a Recv() waiting meanwhile returns empty at once.
    void Close();

    // Sends the frame to every address, after dropping datagrams that arrived since the last call
    // (and, where numbers cannot tell them apart, copies of the last answer: AnswerCopyGapMs).
    virtual void Send(const TStringBytes &aCommand);
    // The payload of the next answer from a listed address that can answer the frame sent,
    // empty when none came in time.
    virtual TStringBytes Recv();
    // Waits up to aWithinMs for aCount answers from a listed address that come too late for
    // their requests, dropping them and anything else that arrives meanwhile; ends early once
    // that many have come, and at once when the sockets are closed. Returns how many came.
    int DropLateAnswers(int aCount, int aWithinMs);

    const std::vector<TObjIPStrings> &Addresses() const { return AIPStrings; }
    TPropertySockets SocketEntry(int aIndex) const;
    int SocketCount() const { return int(WorkSocketsPropertys.size()); }
    // The sequence number the next frame will carry.
    uint16_t NextNumber() const { return Number; }
    // Whether the converter echoes sequence numbers. Only a converter that echoes can give two
    // answers in a row that carry their own requests' (different) numbers: that makes it
    // Echoes. An answer carrying a number that no recent request carried (00 00 from a converter
    // that keeps no count) undoes it. Until it echoes, numbers refuse nothing.
    enum class TEcho { Unknown, Echoes, NoEcho };
    TEcho EchoState() const { return fEcho; }
    // How many of the last numbers sent count as recent: an answer carrying one of them, not
    // its own, is a late answer where the converter echoes.
    static constexpr int RecentNumbers = 32;
    // Where the converter is not known to echo, the sockets must have been quiet this long
    // after the last answer before the next request goes: copies of that answer are dropped.
    static constexpr int AnswerCopyGapMs = 20;

    // What a received datagram is: not an answer (another protocol version, a packet of type 2,
    // shorter than its header says), a foreign one (an unlisted sender, or another request's
    // number where the converter echoes numbers), an answer to another request (a whole frame
    // that cannot answer the last request sent: another function, byte count or echo), or the
    // answer, whose frame goes to aPayload. aSocketPort is the local port of the socket it came
    // in on. Answers taken teach whether the converter echoes sequence numbers.
    enum class TDatagram { Skipped, Foreign, Unfit, Answer };
    TDatagram JudgeDatagram(const uint8_t *aDatagram, size_t aSize, uint32_t aSender, uint16_t aSocketPort,
                            TStringBytes &aPayload);

    static QByteArray BuildPack(uint16_t aNumber, const TStringBytes &aCommand);
    static uint32_t IPValue(const QString &aIP);
    bool CheckSenderAddress(uint32_t aAddr, uint16_t aPort) const;

    // Receives the transport's diagnostic lines; none by default.
    static std::function<void(const QString &)> LogHook;

private:
    static void WriteToLog(const QString &aText);
    void ClearAllEvents();
    void DropAnswerCopies();
    bool RecentNumber(uint16_t aNumber) const;

    std::vector<TObjIPStrings> AIPStrings;
    TzUdpSocketSet WorkSockets;
    std::vector<TPropertySockets> WorkSocketsPropertys;
    TEthernet_Lanvey_Pack Ethernet_Lanvey{};
    uint16_t Number = 65535;
    int32_t AWaitTime = 500;
    std::vector<uint16_t> fSentNumbers;   // the numbers the last Send used
    std::vector<uint16_t> fRecentNumbers; // the last RecentNumbers numbers sent, oldest first
    QByteArray fLastCommand;              // the frame the last Send carried
    TEcho fEcho = TEcho::Unknown;
    int fOwnNumberRun = 0;     // answers in a row that carried their own request's number
    bool fAnswerTaken = false; // since the last Send
    std::chrono::steady_clock::time_point fAnswerAt;
};
