#include "common/uStopSignalPipe.h"

#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <initializer_list>

namespace {

int gWriteEnd = -1;

void OnStopSignal(int aSignal)
{
    // Only async-signal-safe calls here; errno belongs to the interrupted code. A full pair drops
    // the byte (one is enough), and a closed reader raises no SIGPIPE.
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(aSignal);
    [[maybe_unused]] const ssize_t sent = send(gWriteEnd, &number, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    errno = savedErrno;
}

} // namespace

int InstallStopSignalPipe()
{
    if (gWriteEnd >= 0)
        return -1; // one reader per process
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    gWriteEnd = ends[1];

    struct sigaction action = {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int stopSignal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction previous = {};
        if (sigaction(stopSignal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        sigaction(stopSignal, &action, nullptr);
    }
    return ends[0];
}
