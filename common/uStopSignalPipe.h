#pragma once
// The raw half of the stop signals (SIGTERM, SIGINT, SIGHUP): handlers that do nothing but write
// the signal's number, one byte, into a socket pair, which is safe inside a handler; the interface
// thread reads the other end. Plain C++, so the Windows build can carry its own version.

// Installs the handlers and returns the non-blocking read end, or -1 where there are no such
// signals or no socket pair could be made. A signal that was ignored when the program started
// (nohup, a background job) stays ignored. Each handler gives way to the default action once it
// has run, so the same signal sent again ends the program at once.
int InstallStopSignalPipe();
