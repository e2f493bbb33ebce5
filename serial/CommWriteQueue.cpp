#include "serial/CommWriteQueue.h"

namespace kestrune {

bool TCommWriteQueue::Push(std::string Request)
{
    {
        std::lock_guard lock(FLock);
        if (FClosed)
            return false;
        FPending.fetch_add(Request.size());
        FRequests.push_back(std::move(Request));
    }
    FWake.Set();
    return true;
}

std::optional<std::string> TCommWriteQueue::TryTake()
{
    std::lock_guard lock(FLock);
    if (FRequests.empty())
        return std::nullopt;
    std::string request = std::move(FRequests.front());
    FRequests.pop_front();
    return request;
}

void TCommWriteQueue::Close()
{
    std::deque<std::string> dropped;
    {
        std::lock_guard lock(FLock);
        FClosed = true;
        dropped.swap(FRequests);
        // Includes the unwritten rest of a request the writer gave up on.
        FPending.store(0);
    }
}

} // namespace kestrune
