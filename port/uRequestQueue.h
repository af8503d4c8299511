#pragma once
// The port engine's request queue: the requests in serving order, head first, and beside them a
// count of every frame queued, so the check for an identical waiting frame takes the same time
// however long the queue is (a template of many thousand tags queues them all on connect).
// Every change goes through this class, so the counts always match the list. Not locked here:
// the engine's critical section guards it.

#include "common/uStringBytes.h"

#include <QByteArray>
#include <QHash>

#include <cstdint>
#include <deque>
#include <memory>

// One queued request.
struct TzReq
{
    TStringBytes Cmd;
    uint32_t UID = 0;
    int32_t DevAddr = -1;
    uint32_t Timestamp = 0;
};

class TzRequestQueue
{
public:
    using TItem = std::shared_ptr<TzReq>;
    using TList = std::deque<TItem>;

    // A request with these frame bytes is queued.
    bool Contains(const QByteArray &aFrame) const { return fFrames.contains(aFrame); }
    // Places the request at aIndex (0 = head); an index past the tail appends.
    void Insert(size_t aIndex, TItem aRequest);
    void PushBack(TItem aRequest) { Insert(fItems.size(), std::move(aRequest)); }
    // Takes this very request out (by identity); false when it is no longer queued.
    bool Remove(const TItem &aRequest);
    void clear();

    size_t size() const { return fItems.size(); }
    bool empty() const { return fItems.empty(); }
    const TItem &front() const { return fItems.front(); }
    const TItem &operator[](size_t aIndex) const { return fItems[aIndex]; }
    TList::const_iterator begin() const { return fItems.begin(); }
    TList::const_iterator end() const { return fItems.end(); }
    // How many distinct frames are counted; equals size() as long as no frame is queued twice.
    size_t DistinctFrames() const { return size_t(fFrames.size()); }

private:
    void Forget(const TStringBytes &aCmd);

    TList fItems;
    QHash<QByteArray, int> fFrames; // frame bytes -> queued copies
};
