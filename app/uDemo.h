#pragma once
// Demo mode: a simulated Quadrel module on a pseudo-terminal (and, where the loopback address is
// free, behind a simulated converter), selected in the panel, so the whole panel can be tried
// without hardware.

#include <QString>

#include <memory>

class TfrQuadrel;
class TzSimulator;

class TzDemo
{
public:
    TzDemo();
    ~TzDemo();

    // Starts the simulated module and points the panel at it; false (with aError) when no
    // pseudo-terminal could be made.
    bool Start(TfrQuadrel *aFrame, QString *aError);

private:
    std::unique_ptr<TzSimulator> fSim;
};
