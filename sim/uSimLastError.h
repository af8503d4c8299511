#pragma once
// The last error of a transport, with the system's reason, readable from any thread.

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

class TzSimLastError
{
public:
    std::string Get() const
    {
        std::lock_guard lock(fMutex);
        return fText;
    }
    // Records what failed together with the reason errno gives right now.
    void SetFromErrno(const std::string &aWhat)
    {
        const int error = errno;
        std::lock_guard lock(fMutex);
        fText = aWhat + ": " + std::strerror(error);
    }

private:
    mutable std::mutex fMutex;
    std::string fText;
};
