#pragma once
// Answers that go out later (a delay or stale-answer fault): kept by due time, so a transport's
// loop sends each one on time while it goes on reading requests.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

template <typename TItem>
class TzSimSendQueue
{
public:
    void Push(uint64_t aDueMs, TItem aItem) { fItems.emplace(aDueMs, std::move(aItem)); }
    std::optional<uint64_t> NextDue() const
    {
        return fItems.empty() ? std::nullopt : std::optional<uint64_t>(fItems.begin()->first);
    }
    // Everything due at aNowMs, oldest first; equal due times keep their order.
    std::vector<TItem> PopDue(uint64_t aNowMs)
    {
        std::vector<TItem> due;
        while (!fItems.empty() && fItems.begin()->first <= aNowMs) {
            due.push_back(std::move(fItems.begin()->second));
            fItems.erase(fItems.begin());
        }
        return due;
    }
    void Clear() { fItems.clear(); }
    bool Empty() const { return fItems.empty(); }

private:
    std::multimap<uint64_t, TItem> fItems;
};
