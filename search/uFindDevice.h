#pragma once
// The bus search: TfrmFindDevice probes addresses 1..247 with a read of the device-type register
// on its own port engine, matches every outcome to its probe and reports it through two callbacks,
// pass after pass while cycled. Over a serial line it can also run its passes through every speed
// and format of the lists in turn, for a module whose line settings nobody remembers.

#include "common/uStringBytes.h"
#include "model/uQuadrelMap.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TzFreePort;
struct TzAnswerRec;

inline constexpr int FindFirstAddr = 1;
inline constexpr int FindLastAddr = 247;
inline constexpr int FindQuadrelType = QuadrelMap::DeviceType;
// The probe reads two input registers from here: device type and hardware version.
inline constexpr int FindProbeRegister = QuadrelMap::RegDeviceType;

// The probe for one address: aAddr 04 90 00 00 02 and its CRC, low byte first.
TStringBytes FindProbeFrame(int aAddr);
// A complete answer frame whose byte count is 4 and whose device-type low byte is 73.
bool IsQuadrelAnswer(const TStringBytes &aAnswer);

// One probe sent and not yet answered.
struct TzFindAnswer
{
    int DevAddr = 0;
    QString Info;
    uint32_t Code = 0; // the engine's request number
    TStringBytes Cmd;
    uint32_t TimeStamp = 0;
    bool IsLast = false;
};

// The line settings of one pass: speed in bit/s, index of the format list, time-out in ms.
struct TzFindLine
{
    int BaudRate = 0;
    int Format = 0;
    int Timeout = 0;
};

using TzFindCallback = std::function<void(int aAddr, const TStringBytes &Answer)>;
using TzProgressCallback = std::function<void(int aPos)>;

class TfrmFindDevice : public QObject
{
    Q_OBJECT

public:
    // Why the last Start failed.
    enum TzStartError { feNone, feBadTimeout, feNoPort, fePortBusy };

    static const QStringList BaudRateList; // "1200" .. "115200"
    static const QStringList FormatList;   // "MODBUS RTU 8N1" .. "MODBUS RTU 8N2"

    explicit TfrmFindDevice(QObject *aParent = nullptr);
    ~TfrmFindDevice() override;

    // The port: "COM" + n from the port list, or any port by its name (a device path).
    void SetComPort(int aComPort);
    void SetPortName(const QString &aPortName);
    // Selects the entry of the speed list equal to the speed; none when the speed is not listed.
    void SetBaudRate(int aBaudRate);
    void SetFormat(int aFormat);
    void SetTimeout(int aTimeout);
    int ComPort() const { return fComPort; }
    QString PortName() const { return fPortName; }
    int BaudRate() const { return fBaudRate; }
    int Format() const { return fFormat; }
    int Timeout() const { return fTimeout; }

    bool Cycled = false;
    bool ByEthernet = false;
    // Passes run through every speed and format in turn, starting at the given ones (serial only).
    bool AllLineSettings = false;
    TzFindCallback OnFindAddr;
    TzProgressCallback OnFindProcess;

    bool Start();
    void Stop();
    bool InFindProgress() const { return InProgress; }
    TzStartError LastError() const { return fLastError; }

    // The settings of the pass under way, and its number (1 for the first pass of a scan).
    TzFindLine CurrentLine() const { return fLine; }
    int PassNumber() const { return fPass; }
    int PendingProbes();
    // The engine of the scan under way; null when idle.
    TzFreePort *ScanPort() const { return FreePort.get(); }

signals:
    // A pass begins: its number and line settings. Also emitted for the first pass.
    void PassStarted(int aPass, int aBaudRate, int aFormat);
    // The scan ran out by itself: its one pass is over, or the last line setting has been tried.
    // Not emitted for Stop().
    void ScanEnded();

private:
    bool OpenScanPort();
    bool OpenLine(const TzFindLine &aLine);
    bool NextLine();
    void ApplyLine(const TzFindLine &aLine);
    void SendProbes();
    void SendProbe(int aAddr);
    void AsyncAnswer(const TzAnswerRec &aAnswerRec);
    void CloseScanPort();

    int fComPort = 0;
    QString fPortName;
    int fBaudRate = 0;
    int fFormat = 0;
    int fTimeout = 5;

    QStringList fPortList;
    QString fTimeoutText = QStringLiteral("5");

    std::mutex CS;
    std::vector<TzFindAnswer> AnswerList;
    std::unique_ptr<TzFreePort> FreePort;
    bool InProgress = false;
    TzStartError fLastError = feNone;
    TzFindLine fLine;
    int fPass = 0;
};
