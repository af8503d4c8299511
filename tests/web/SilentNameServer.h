#pragma once
// A name server that never answers, for one host name: this test program's own getaddrinfo holds
// every lookup of SilentHostName until Release() (or a minute) and then fails it, as the system's
// resolver does when its name server is unreachable. Every other name is looked up as usual.

inline constexpr char SilentHostName[] = "silent-dns.quadrel.test";

namespace SilentNameServer {

// Lookups of SilentHostName being held right now.
int Holding();
// Lets every held lookup fail now, and each later one at once.
void Release();

} // namespace SilentNameServer
