#pragma once
// What the request tells about its answer on the serial line: which lengths a complete answer
// can have (so the engine need not wait for the line's silence), and whether an answer fits the
// request at all (address, function or its exception form, a read's byte count, a write's
// register and value). The converter's transport asks the same of every answer it takes.

#include "port/uSerialLine.h"

#include <cstdint>

// How many more bytes the answer to aRequest needs at least, judged from the aCount bytes
// received: 0 when they are a complete answer of a length the request allows with a valid CRC,
// AnswerNeedUnknown when only the line's silence can end it (a request whose answer length
// cannot be known, bytes that fit no answer of it, a bad CRC).
uint32_t AnswerBytesNeeded(const uint8_t *aRequest, uint32_t aRequestLen, const uint8_t *aAnswer, uint32_t aCount);

// Whether a received frame can be the answer to aRequest: the same slave address, the request's
// function or its exception form (function + 80h), for a read of coils or registers the byte
// count the request asks for, and for a write the register (or coil) and the value or quantity
// it wrote, which its answer repeats.
bool AnswerFitsRequest(const uint8_t *aRequest, uint32_t aRequestLen, const uint8_t *aAnswer, uint32_t aCount);
