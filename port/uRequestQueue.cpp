#include "port/uRequestQueue.h"

#include <algorithm>

void TzRequestQueue::Insert(size_t aIndex, TItem aRequest)
{
    ++fFrames[aRequest->Cmd.AsBytes()];
    fItems.insert(fItems.begin() + std::ptrdiff_t(std::min(aIndex, fItems.size())), std::move(aRequest));
}

bool TzRequestQueue::Remove(const TItem &aRequest)
{
    // The served request is normally the head, or close behind forced requests placed before it.
    const auto it = std::find(fItems.begin(), fItems.end(), aRequest);
    if (it == fItems.end())
        return false;
    Forget((*it)->Cmd);
    fItems.erase(it);
    return true;
}

void TzRequestQueue::clear()
{
    fItems.clear();
    fFrames.clear();
}

void TzRequestQueue::Forget(const TStringBytes &aCmd)
{
    const auto it = fFrames.find(aCmd.AsBytes());
    if (it == fFrames.end())
        return;
    if (--it.value() <= 0)
        fFrames.erase(it);
}
