#include "sim/uSimulator.h"

TzSimulator::TzSimulator(TzSimClock aClock)
    : fBus(std::move(aClock)), fSerial(std::make_unique<TzSimSerialServer>(fBus, fLog, fFaults)),
      fUdp(std::make_unique<TzSimUdpConverter>(fBus, fLog, fFaults))
{
}

TzSimulator::~TzSimulator()
{
    Stop();
}

void TzSimulator::Stop()
{
    fSerial->Stop();
    fUdp->Stop();
}
