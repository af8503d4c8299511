#include "ctl/uCtlTarget.h"

#include "common/uUtils.h"
#include "model/uConnectionRules.h"
#include "port/uFreePort.h"
#include "settings/uOptionsFile.h"

#include <algorithm>

namespace {

// The probe's wait: a second, or longer when one exchange may take longer (a slow line, a long
// converter wait with its repeated attempts).
int ProbeWaitFor(const TzCtlConnection &aConnection)
{
    const int exchange = aConnection.Link.ByEthernet
                             ? std::max<int>(1, EthernetTries) * (aConnection.TimeoutMs + 20)
                             : aConnection.TimeoutMs + 255 + int(ModbusLineTimeouts.WriteTotalTimeoutConstant);
    return std::max(1000, exchange + 500);
}

} // namespace

bool ResolveCtlConnection(const TzCtlTarget &aTarget, const QString &aOptionsFile, TzCtlConnection &aConnection,
                          QString &aMistake)
{
    TzStoredOptions stored;
    const bool named = aTarget.Port || aTarget.UdpHost;
    if (!named && ReadOptions(aOptionsFile, stored) != TzOptionsRead::Valid) {
        aMistake = QStringLiteral(
                       "не указано, где модуль: нужен «--port» или «--udp» (настройки панели в %1 не найдены)")
                       .arg(aOptionsFile);
        return false;
    }
    TzLinkSettings &link = aConnection.Link;
    // From the options file only what the command line leaves open, and only the page the panel
    // last used.
    const bool byOptions = !named;
    link.ByEthernet = aTarget.UdpHost || (byOptions && stored.EthernetActive.value_or(0) != 0);
    if (link.ByEthernet) {
        link.Host = aTarget.UdpHost.value_or(byOptions ? stored.EthernetHost.value_or(QString()) : QString());
        if (!IsValidIPv4(link.Host)) {
            aMistake = QStringLiteral("в настройках панели нет верного адреса преобразователя: укажите «--udp»");
            return false;
        }
        link.UdpPort = aTarget.UdpPort.value_or(byOptions ? stored.EthernetPort.value_or(CtlDefaultConverterPort)
                                                          : CtlDefaultConverterPort);
        link.Address = aTarget.Address.value_or(byOptions ? stored.EthernetAddr.value_or(16) : 16);
        aConnection.TimeoutMs = aTarget.TimeoutMs.value_or(
            byOptions ? stored.EthernetTimeout.value_or(CtlDefaultConverterWaitMs) : CtlDefaultConverterWaitMs);
        if (aConnection.TimeoutMs < 50 || aConnection.TimeoutMs > 10000) {
            aMistake = QStringLiteral("время ожидания преобразователя должно быть от 50 до 10000 мс, получено %1")
                           .arg(aConnection.TimeoutMs);
            return false;
        }
        if (link.UdpPort < 1 || link.UdpPort > 65535 || link.Address < 1 || link.Address > 247) {
            aMistake = QStringLiteral("в настройках панели неверный порт преобразователя или адрес модуля");
            return false;
        }
        link.WaitMs = aConnection.TimeoutMs;
        aConnection.Where = QStringLiteral("преобразователь %1:%2").arg(link.Host).arg(link.UdpPort);
    } else {
        QString port = aTarget.Port.value_or(QString());
        if (port.isEmpty() && byOptions)
            port = stored.Name.value_or(stored.Indx ? QStringLiteral("COM%1").arg(*stored.Indx) : QString());
        if (port.isEmpty()) {
            aMistake = QStringLiteral("в настройках панели не выбран порт: укажите «--port»");
            return false;
        }
        link.PortName = port;
        ExtractDigitsToInt(port, link.ComPort);
        link.BaudRate = aTarget.BaudRate.value_or(byOptions ? stored.BaudRate.value_or(9600) : 9600);
        link.FormatItem = aTarget.FormatItem.value_or(byOptions ? stored.Format.value_or(0) : 0);
        link.Address = aTarget.Address.value_or(byOptions ? stored.Addr.value_or(16) : 16);
        if (!CtlSpeeds().contains(QString::number(link.BaudRate)) || !LineFormatOfItem(link.FormatItem).Valid
            || link.Address < 1 || link.Address > 247) {
            aMistake = QStringLiteral("в настройках панели неверная скорость, формат или адрес модуля");
            return false;
        }
        aConnection.TimeoutMs = aTarget.TimeoutMs.value_or(CtlDefaultSerialTimeoutMs);
        if (!CheckTimeout(aConnection.TimeoutMs, link.BaudRate)) {
            aMistake = QStringLiteral("на скорости %1 время ожидания не меньше %2 мс, получено %3")
                           .arg(link.BaudRate)
                           .arg(GetTimeout(link.BaudRate))
                           .arg(aConnection.TimeoutMs);
            return false;
        }
        link.Timeouts.ReadTotalTimeoutConstant = uint32_t(aConnection.TimeoutMs);
        aConnection.Where = QStringLiteral("порт %1").arg(port);
    }
    link.FirstCycleAndPoll = false;
    link.ProbeWaitMs = ProbeWaitFor(aConnection);
    return true;
}
