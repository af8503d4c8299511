#pragma once
// What the panel attaches to the entries of its search result list.

#include "common/uStringBytes.h"

#include <QMetaType>
#include <QString>

#include <cstdint>

// A Quadrel module found by the search, with the connection settings it answered under.
struct TzFindDevice
{
    int ComPortIndx = -1;
    QString ComPortName; // the port itself: the list's indexes move when the list is refreshed
    int Addr = 0;
    int BaudRateIndx = -1;
    int FormatIndx = -1;
    QString Timeout;
    int aType = 0;
    TStringBytes Answer;
    uint32_t Timestamp = 0;
    bool IsCounter = false;
    bool ByEthernet = false; // found through the converter
};
Q_DECLARE_METATYPE(TzFindDevice)

// Roles of a result list entry: which kind of entry it is, the result itself, and the address
// that answered (a module or a device of another type).
enum TzFindEntryKind { fekNone = 0, fekCounter = 1, fekDevice = 2, fekUnknown = 3 };
inline constexpr int FindEntryKindRole = Qt::UserRole;
inline constexpr int FindEntryDeviceRole = Qt::UserRole + 1;
inline constexpr int FindEntryAddrRole = Qt::UserRole + 2;
