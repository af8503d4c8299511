#pragma once
// Serial line settings of the simulator's own side of a line: termios for a speed and an RTU
// character format, and the time of silence that ends a frame.

#include "sim/uSimTypes.h"

#include <string>

// "8N1", "8O1", "8E1" or "8N2" into parity and stop bits; false for anything else.
bool SimParseFormat(const std::string &aText, char &aParity, int &aStopBits);
// Puts aFd into raw mode at the given speed and format; false (errno set) on failure or for a
// speed termios does not know.
bool SimApplyLineSettings(int aFd, int aBaudRate, char aParity, int aStopBits);
// The speed a terminal is set to, 0 when it cannot be read.
int SimReadBaudRate(int aFd);
// Silence that ends a frame: 3.5 characters of 11 bits, at least 1.75 ms (the Modbus rule for
// fast lines), in microseconds.
int64_t SimFrameGapUs(int aBaudRate);
