#pragma once
// Announcements of the panel's line traffic to every open port observer: each request as it is
// queued and each answer as it is handled.

#include <QByteArray>
#include <QString>

#include <cstdint>

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

// What an observer window offers to the announcements.
class TzPortObserverSink
{
public:
    virtual ~TzPortObserverSink() = default;
    virtual void AddRequest(const TzPortObsRec &aRec) = 0;
    virtual void AddAnswer(const TzPortObsRec &aRec) = 0;
};

// Observers join when they open and leave when they close; announcements reach them in join order.
void ObserversJoin(TzPortObserverSink *aObserver);
void ObserversLeave(TzPortObserverSink *aObserver);
void ObserversAddRequest(const TzPortObsRec &aRec);
void ObserversAddAnswer(const TzPortObsRec &aRec);
