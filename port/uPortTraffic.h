#pragma once
// What the port observers are told of the traffic: a request as it is queued, or an answer as it
// is handled. Described here, below the windows, so that the layers that carry the traffic can
// describe it without knowing who shows it.

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>

// One announcement: a request as it is queued, or an answer as it is handled.
struct TzPortObsRec
{
    int32_t Port = 0;
    int32_t Index = 0;
    int32_t Addr = 0;
    int32_t Func = 0;
    int32_t Reg = 0;
    QByteArray Cmd;
    QString Value;
    QString Name;
};

Q_DECLARE_METATYPE(TzPortObsRec)
