#pragma once
// A loopback port whose listener never accepts: its queue is filled at once, so further connection
// attempts stay unanswered, as with a service that is down behind a silent firewall.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <vector>

class TzNeverAccepting
{
public:
    TzNeverAccepting()
    {
        fListener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fListener < 0 || bind(fListener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || listen(fListener, 0) != 0
            || getsockname(fListener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        fPort = ntohs(address.sin_port);
        for (int i = 0; i < 3; ++i) {
            const int filler = socket(AF_INET, SOCK_STREAM, 0);
            fcntl(filler, F_SETFL, O_NONBLOCK);
            connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
            fFillers.push_back(filler);
        }
    }
    ~TzNeverAccepting()
    {
        for (const int filler : fFillers)
            close(filler);
        if (fListener >= 0)
            close(fListener);
    }
    TzNeverAccepting(const TzNeverAccepting &) = delete;
    TzNeverAccepting &operator=(const TzNeverAccepting &) = delete;

    unsigned short Port() const { return fPort; }

private:
    int fListener = -1;
    unsigned short fPort = 0;
    std::vector<int> fFillers;
};
