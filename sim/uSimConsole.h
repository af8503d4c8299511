#pragma once
// Commands typed into a running quadrel-sim (one per line on its standard input): switch faults,
// read and write a module's registers. One line in, one line of reply out.

#include "sim/uSimulator.h"

#include <string>
#include <vector>

std::string SimConsoleCommand(TzSimulator &aSim, const std::string &aLine);
std::string SimConsoleHelp();

// The console's input as it arrives, cut into command lines. A line longer than MaxLineBytes is
// not kept: it gets one short error as soon as it passes the limit, the rest of it up to its
// newline is dropped, and the next line is read as usual.
class TzSimConsoleInput
{
public:
    static constexpr size_t MaxLineBytes = 4096;

    // Takes the bytes read and returns the replies to print, one per finished line that has one.
    std::vector<std::string> Feed(TzSimulator &aSim, const char *aData, size_t aSize);
    // Bytes of the unfinished line held now.
    size_t Buffered() const { return fLine.size(); }

private:
    std::string fLine;
    bool fDropping = false;
};
