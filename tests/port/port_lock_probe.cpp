// Tries to take a converter port as a panel's transport does, for the test that runs it under
// another account: "port_lock_probe PORT try" prints "bound" or "refused" and exits;
// "port_lock_probe PORT hold" prints the same and keeps the port until its input ends.

#include "port/U_Lanvey_Ethernet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[2], "try") != 0 && std::strcmp(argv[2], "hold") != 0)) {
        std::fprintf(stderr, "usage: port_lock_probe PORT try|hold\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    if (port < 1 || port > 65535) {
        std::fprintf(stderr, "port_lock_probe: bad port %s\n", argv[1]);
        return 2;
    }
    TEthernet_COM_Simulator transport;
    transport.AddAddress(QStringLiteral("127.0.0.2"), uint16_t(port));
    const bool bound = transport.Open() > 0;
    std::printf("%s\n", bound ? "bound" : "refused");
    std::fflush(stdout);
    if (std::strcmp(argv[2], "hold") == 0) {
        char buffer[64];
        while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
    }
    return 0;
}
