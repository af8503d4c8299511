#pragma once
// Modbus RTU request frames built from tags, the record of a request awaiting its answer, and the
// decoder that turns an answer back into the tag's value and error fields.

#include "common/uStringBytes.h"
#include "model/uTag.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

enum TzModbusMode { mmRTU, mmASCII };

class TzModbusAnswer;
using TzModbusAnswerCallback = std::function<void(const QByteArray &aBytes, TzModbusAnswer *aAnswerObj)>;

// One request handed to the port engine and not yet answered, keyed by the engine's request number.
class TzModbusAnswer
{
public:
    TzTag *Tag = nullptr;
    uint32_t Code = 0;
    TzModbusMode Mode = mmRTU;
    TStringBytes Cmd;
    int ErrCode = 0;
    uint32_t TimeStamp = 0;
    int RegID = 0;
    TzModbusAnswerCallback Proc;
};

// The 8-byte read request of the tag (address, ReadCmd, Reg, SegSize, CRC); an empty frame when
// the tag cannot be read (no device, or a read function other than 1..4).
TStringBytes BuildModbusReadRTU(const TzTag &aTag);

// The write request of aValue for the tag's WriteCmd (5, or 6/16 by ValType and Order); an empty
// frame when none can be built. aCarried receives the value the frame actually carries.
TStringBytes BuildModbusWriteRTU(const TzTag &aTag, double aValue, double *aCarried = nullptr);

// Decodes an RTU answer into the tag; true when the answer was understood. Never reads past the
// frame, and never changes the value on an answer it rejects.
bool ParseModbusAnswer(const TStringBytes &aAnswer, TzTag *aTag);
// The link is always RTU: ASCII records decode nothing.
bool ParseModbusAnswerASCII(const TStringBytes &aAnswer, TzTag *aTag);

// Applies one answer report to the tag of its pending record: an exchange error gives quality 0;
// otherwise the decoder chosen by the record's mode decides between 192 and 16. Returns the
// decoder's verdict (false on an exchange error).
bool ApplyModbusAnswer(const TzModbusAnswer &aRecord, const TStringBytes &aAnswer, uint32_t aErrCode);
