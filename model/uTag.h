#pragma once
// TzTag: one register point of the module (a register, a block of registers or a coil) with its
// addressing, its encoding rules, its current value and quality, and the error of its last answer.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

class TzDevice;
class TzTag;

enum TzTagMode { tmAll, tmRequest, tmResponse };

// Placeholder type of a tag's script; no tag of this program has one.
class TzScript
{
};

// Quality codes of a tag's value.
constexpr uint16_t QualityGood = 192;
constexpr uint16_t QualityWaiting = 32;
constexpr uint16_t QualityRejected = 16;
constexpr uint16_t QualityFailed = 0;

// Sentinels meaning "not set" in the numeric fields.
constexpr double TagNotSet = 2147483647.0;

using TzTagResponseProc = std::function<void(TzTag *)>;
using TzTagChangeProc = std::function<void()>;

class TzTag
{
public:
    TzTag();

    double Value() const { return fValue; }
    void SetValue(double val);
    uint16_t Quality() const { return fQuality; }
    void SetQuality(uint16_t Value);

    // Text of a value as the display and the log show it: up to 15 significant digits, the locale's
    // decimal separator, scientific form with a capital E for very small or very large magnitudes.
    static QString FormatValue(double aValue);

private:
    double fValue = 0;
    double fOPCValue = 0;
    uint16_t fQuality = 0;

public:
    QString GUID;
    QString UID;
    QString OPCName;
    QString OPCAddr;
    bool Enabled = true;
    TzTagMode Mode = tmAll;
    TzScript *Script = nullptr;
    TzDevice *Device = nullptr;
    QString Direction;
    QString aType;
    int Index = 0;
    int ID = 0;
    int CmdIndex = 0;
    int DataSize = 0;
    int DataType = 0;
    QByteArray Data;
    QByteArray DataFull;
    bool CanRead = true;
    bool CanWrite = true;
    int MemMode = 0;
    bool IsNeed = false;
    bool IsLast = false;
    bool IsChanged = true;
    double Radius = 0;
    double MinValue = 0;
    double MaxValue = 0;
    int Reg = 0;
    int RegType = 0;
    int ValType = 0;
    int Count = 0;
    int ReadCmd = 0;
    int WriteCmd = 0;
    int Offset = 0;
    int SegSize = 0;
    QString Group;
    QString Order;
    QByteArray OrderMas;
    int BitPos = -1;
    bool ModbusError = false;
    int ModbusErrorCode = 0;
    QString ModbusErrorCodeStr;
    QString ValueStr;
    bool Force = false;
    bool ForceOnce = false;
    TzTagResponseProc OnResponse;
    TzTagChangeProc OnChange;
    int ReadPriority = 0;
    int WritePriority = 0;
};
