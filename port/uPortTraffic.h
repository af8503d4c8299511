#pragma once
// The description of one piece of the port's traffic, as lower layers announce it and the port
// observer shows it.

#include <QByteArray>
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
