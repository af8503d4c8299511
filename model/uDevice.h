#pragma once
// TzDevice: the module model — address, identity, poll lock, status and the tags it owns, filled
// from the register template.

#include "model/uTag.h"

#include <QByteArray>
#include <QDomElement>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

enum TzDeviceStatus { dsNone, dsGood, dsBad };

class TzDevice
{
public:
    TzDevice() = default;
    ~TzDevice() = default;
    TzDevice(const TzDevice &) = delete;
    TzDevice &operator=(const TzDevice &) = delete;

    // Creates a tag with its initial values, attaches it to this device and appends it.
    TzTag *AddTag();
    // What a tag made by code reads and writes; by default a holding register, read with 3,
    // written with 6, a 16-bit unsigned value.
    struct TzTagKind
    {
        int RegType = 3, ValType = 2, DataSize = 2, DataType = 18, ReadCmd = 3, WriteCmd = 6;
    };
    // AddTag for a tag made by code: one register or coil, numbered as its identifier, high byte
    // first, forced with priority 1, with a new GUID.
    TzTag *AddRegisterTag(int aID, const TzTagKind &aKind);
    // The first tag in list order with that identifier, or null.
    TzTag *GetTagByID(int aID) const;

    // Loads the register template from the built-in resource aResName (":/aResName"). False for a
    // template that breaks the format, with the tags before the faulty element kept and Ready false.
    // A missing resource or a document that does not parse raises EzError.
    bool LoadFromRes(const QString &aResName);
    // Same, from the bytes of a template document.
    bool LoadFromData(const QByteArray &aDocument);
    // Appends one tag from a <tag> element; false, adding nothing, when the element is not usable.
    bool LoadModbusTag(const QDomElement &aNode);

    int Port = 0;
    void *Line = nullptr;
    int DevAddr = -1;
    int DevType = -1;
    int DevVersion = -1;
    QString DevVersionStr;
    int DevPOVersion = 0;
    QString DevPOVersionStr;
    QString DevName;
    int Freq = 1000;
    int FreqCounter = 0;
    uint32_t FreqNext = 0;
    bool Ready = false;
    bool IsSlave = false;
    bool IsLocked = false;
    int IsLockedTime = 3000;
    uint32_t IsLockedFor = 0;
    TzDeviceStatus Status = dsNone;
    QString OPCName;
    std::vector<std::unique_ptr<TzDevice>> Slaves;
    std::vector<std::unique_ptr<TzTag>> Tags;
    std::vector<std::vector<TzTag *>> Groups;
    QStringList Events;
    std::vector<double> AIs, AOs;
    std::vector<int32_t> DIs, DOs;
    int AICount = 0, AOCount = 0, DICount = 0, DOCount = 0;
    bool NeedAI = false, NeedAO = false, NeedDI = false, NeedDO = false;
    uint32_t RefreshTimeStamp = 0;
    uint32_t RequestStartTime = 0;
};
