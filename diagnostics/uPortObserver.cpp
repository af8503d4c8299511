#include "diagnostics/uPortObserver.h"

#include <QList>

namespace {

QList<TzPortObserverSink *> &PortObservers()
{
    static QList<TzPortObserverSink *> observers;
    return observers;
}

} // namespace

void ObserversJoin(TzPortObserverSink *aObserver)
{
    if (aObserver && !PortObservers().contains(aObserver))
        PortObservers().append(aObserver);
}

void ObserversLeave(TzPortObserverSink *aObserver)
{
    PortObservers().removeAll(aObserver);
}

void ObserversAddRequest(const TzPortObsRec &aRec)
{
    // A copy, so an observer that closes during the announcement does not disturb the walk.
    const QList<TzPortObserverSink *> observers = PortObservers();
    for (TzPortObserverSink *observer : observers)
        observer->AddRequest(aRec);
}

void ObserversAddAnswer(const TzPortObsRec &aRec)
{
    const QList<TzPortObserverSink *> observers = PortObservers();
    for (TzPortObserverSink *observer : observers)
        observer->AddAnswer(aRec);
}
