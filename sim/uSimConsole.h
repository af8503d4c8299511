#pragma once
// Commands typed into a running quadrel-sim (one per line on its standard input): switch faults,
// read and write a module's registers. One line in, one line of reply out.

#include "sim/uSimulator.h"

#include <string>

std::string SimConsoleCommand(TzSimulator &aSim, const std::string &aLine);
std::string SimConsoleHelp();
