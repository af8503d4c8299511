#include "PortTestPeers.h"

#include <chrono>

#include "port/uFreePort.h"
#include "port/uModbusCRC.h"

#include <modbus/modbus.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

TPtyPair::TPtyPair()
{
    char name[256] = {};
    if (::openpty(&MasterFd, &SlaveFd, name, nullptr, nullptr) != 0) {
        MasterFd = SlaveFd = -1;
        return;
    }
    // Raw from the start, so nothing is echoed before the engine sets the line up.
    termios tio{};
    ::tcgetattr(SlaveFd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(SlaveFd, TCSANOW, &tio);
    SlavePath = QString::fromLocal8Bit(name);
}

TPtyPair::~TPtyPair()
{
    Unplug();
}

void TPtyPair::Unplug()
{
    if (MasterFd >= 0)
        ::close(MasterFd);
    if (SlaveFd >= 0)
        ::close(SlaveFd);
    MasterFd = SlaveFd = -1;
}

TLibmodbusSlave::TLibmodbusSlave(int aMasterFd, int aSlaveAddr)
    : fMasterFd(aMasterFd), fSlaveAddr(aSlaveAddr), fThread([this] { Run(); })
{
}

TLibmodbusSlave::~TLibmodbusSlave()
{
    fStop = true;
    fThread.join();
}

void TLibmodbusSlave::Run()
{
    // The context is never connected: it works on the master end it is given.
    modbus_t *ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    modbus_set_slave(ctx, fSlaveAddr);
    modbus_set_socket(ctx, fMasterFd);
    modbus_set_indication_timeout(ctx, 0, 100000);
    modbus_mapping_t *map = modbus_mapping_new(0, 0, 100, 0);
    for (int i = 0; i < 100; ++i)
        map->tab_registers[i] = uint16_t(0x1000 + i);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!fStop) {
        const int rc = modbus_receive(ctx, query);
        if (rc > 0 && modbus_reply(ctx, query, rc, map) > 0)
            ++fServed;
    }
    modbus_mapping_free(map);
    modbus_free(ctx);
}

TScriptedDevice::TScriptedDevice(int aMasterFd, TReply aReply)
    : fMasterFd(aMasterFd), fReply(std::move(aReply)), fThread([this] { Run(); })
{
}

TScriptedDevice::~TScriptedDevice()
{
    fStop = true;
    fThread.join();
}

std::vector<QByteArray> TScriptedDevice::Requests() const
{
    std::lock_guard lock(fMutex);
    return fRequests;
}

int TScriptedDevice::RequestCount() const
{
    std::lock_guard lock(fMutex);
    return int(fRequests.size());
}

void TScriptedDevice::Run()
{
    QByteArray request;
    while (!fStop) {
        pollfd p{fMasterFd, POLLIN, 0};
        const int n = ::poll(&p, 1, request.isEmpty() ? 50 : 20);
        if (n > 0 && (p.revents & POLLIN)) {
            char buffer[512];
            const ssize_t got = ::read(fMasterFd, buffer, sizeof buffer);
            if (got > 0)
                request.append(buffer, got);
            else if (got == 0 || errno != EAGAIN)
                return; // the line is gone
            continue;
        }
        if (n > 0)
            return;
        if (n == 0 && !request.isEmpty()) {
            {
                std::lock_guard lock(fMutex);
                fRequests.push_back(request);
            }
            const QByteArray reply = fReply(request);
            const int split = fSplitAt;
            if (split > 0 && split < reply.size()) {
                [[maybe_unused]] const ssize_t first = ::write(fMasterFd, reply.constData(), size_t(split));
                std::this_thread::sleep_for(std::chrono::milliseconds(fPauseMs));
                [[maybe_unused]] const ssize_t rest = ::write(fMasterFd, reply.constData() + split,
                                                              size_t(reply.size() - split));
            } else if (!reply.isEmpty()) {
                [[maybe_unused]] const ssize_t w = ::write(fMasterFd, reply.constData(), size_t(reply.size()));
            }
            request.clear();
        }
    }
}

TUdpPeer::TUdpPeer(const char *aAddress, uint16_t aPort, bool aShareAddress)
{
    fFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (aShareAddress)
        ::setsockopt(fFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr(aAddress);
    address.sin_port = htons(aPort);
    if (::bind(fFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fFd);
        fFd = -1;
        return;
    }
    socklen_t size = sizeof address;
    ::getsockname(fFd, reinterpret_cast<sockaddr *>(&address), &size);
    fPort = ntohs(address.sin_port);
}

TUdpPeer::~TUdpPeer()
{
    if (fFd >= 0)
        ::close(fFd);
}

QByteArray TUdpPeer::Receive(int aTimeoutMs, uint16_t *aFromPort)
{
    pollfd p{fFd, POLLIN, 0};
    if (::poll(&p, 1, aTimeoutMs) <= 0)
        return QByteArray();
    char buffer[8192];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n = ::recvfrom(fFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &size);
    if (n < 0)
        return QByteArray();
    if (aFromPort)
        *aFromPort = ntohs(from.sin_port);
    return QByteArray(buffer, int(n));
}

void TUdpPeer::SendTo(const char *aAddress, uint16_t aPort, const QByteArray &aData)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ::inet_addr(aAddress);
    to.sin_port = htons(aPort);
    ::sendto(fFd, aData.constData(), size_t(aData.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

uint16_t FreeUdpPort()
{
    TUdpPeer probe("0.0.0.0", 0);
    return probe.Port();
}

QByteArray WithCrc(const QByteArray &aBody)
{
    const uint16_t crc = CalcModbusCRC(reinterpret_cast<const uint8_t *>(aBody.constData()), int(aBody.size()));
    return aBody + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray Hex(const char *aText)
{
    return QByteArray::fromHex(QByteArray(aText).replace(' ', ""));
}

std::unique_ptr<TzFreePort> SerialEngineAt(const QString &aPath, int aBaudRate, int aParity,
                                           const TzLineTimeouts &aTimeouts)
{
    auto port = std::make_unique<TzFreePort>(aPath);
    port->LocDCB().BaudRate = aBaudRate;
    port->LocDCB().ByteSize = 8;
    port->LocDCB().Parity = aParity;
    port->LocDCB().StopBits = 0;
    port->LocTimeouts().ChooseAll(aTimeouts);
    return port;
}

std::unique_ptr<TzFreePort> ConverterEngine()
{
    auto port = std::make_unique<TzFreePort>(1);
    port->SetByEthernet(true);
    return port;
}
