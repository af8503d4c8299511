#pragma once
// A Modbus RTU slave on the simulated bus, and the generic function dispatch (1, 2, 3, 4, 5, 6,
// 16) that turns a request PDU into an answer PDU over a slave's register accessors.

#include "sim/uSimTypes.h"

#include <cstdint>

class TzSimSlave
{
public:
    virtual ~TzSimSlave() = default;

    // The address the slave currently answers at.
    virtual uint8_t Address() const = 0;
    // Whether the slave can make out a request sent with these line settings.
    virtual bool HearsLine(const TzSimLineParams &aLine) const;
    // Request PDU (function code and data, no address, no CRC) in, answer PDU out; an empty
    // answer means the slave stays silent.
    virtual TSimBytes Process(const TSimBytes &aPdu, uint64_t aNowMs);

protected:
    // Accessors of the four Modbus tables; each returns 0 or the exception code to answer.
    virtual uint8_t ReadCoil(uint16_t aAddr, uint64_t aNowMs, bool &aValue) = 0;
    virtual uint8_t ReadDiscreteInput(uint16_t aAddr, uint64_t aNowMs, bool &aValue) = 0;
    virtual uint8_t ReadHolding(uint16_t aAddr, uint64_t aNowMs, uint16_t &aValue) = 0;
    virtual uint8_t ReadInput(uint16_t aAddr, uint64_t aNowMs, uint16_t &aValue) = 0;
    virtual uint8_t WriteCoil(uint16_t aAddr, bool aValue, uint64_t aNowMs) = 0;
    // Writes a run of holding registers all or nothing: every address and value is checked
    // before the first one is stored.
    virtual uint8_t WriteHoldings(uint16_t aAddr, const std::vector<uint16_t> &aValues, uint64_t aNowMs) = 0;
    // Called once per request that reached this slave, before it is served.
    virtual void BeforeRequest(uint64_t aNowMs) { (void)aNowMs; }
    // Called after the answer PDU has been built (a restart takes effect here).
    virtual void AfterRequest(uint64_t aNowMs) { (void)aNowMs; }

private:
    TSimBytes ServeRead(const TSimBytes &aPdu, uint64_t aNowMs);
    TSimBytes ServeWrite(const TSimBytes &aPdu, uint64_t aNowMs);
};

// An exception answer PDU: function | 0x80, code.
TSimBytes SimExceptionPdu(uint8_t aFunction, uint8_t aCode);
