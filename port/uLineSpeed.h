#pragma once
// Line speeds in bit/s on a POSIX terminal, beyond the fixed Bnnn codes of termios: on Linux any
// speed goes through the kernel's arbitrary-speed interface (termios2 with BOTHER), so 14400 and
// 28800 open like every other speed of the panel's lists. Kept apart from <termios.h>, whose
// struct termios clashes with the kernel's own headers.

#include <cstdint>

// A termios structure must carry a fixed speed code when it is written with tcsetattr (a speed
// set by SetLineSpeed does not survive that call): the code of aRate where there is one, else
// the code of a speed the next SetLineSpeed replaces.
unsigned int FixedSpeedCode(uint32_t aRate);
// Sets the input and output speed of an open terminal; false when the system refuses it.
bool SetLineSpeed(int aFd, uint32_t aRate);
// The output speed the terminal is set to, 0 when it cannot be read.
uint32_t ReadLineSpeed(int aFd);
