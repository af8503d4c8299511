#pragma once
// Serial line settings in two layers: the line's full state (TzLineState, TzLineTimeouts, the
// platform-neutral images of the Win32 DCB and COMMTIMEOUTS that the serial layer reads and
// writes) and the owner's partial choices (TzDCB, TzTimeouts) in which any field may stay unset,
// so the line keeps its own value for it. No Qt here: the Win32 serial backend includes this file.

#include <cstdint>

// Bits of the Win32 DCB flag word the serial backends understand.
namespace DcbFlag {
constexpr uint32_t Binary = 0x0001;
constexpr uint32_t Parity = 0x0002;
constexpr uint32_t OutxCtsFlow = 0x0004;
constexpr uint32_t OutX = 0x0100;
constexpr uint32_t InX = 0x0200;
} // namespace DcbFlag

// Win32 parity and stop-bit codes.
namespace DcbCode {
constexpr uint8_t NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4;
constexpr uint8_t OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2;
} // namespace DcbCode

// Everything a serial line is set to; the fields of the Win32 DCB with their widths.
struct TzLineState
{
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = DcbCode::NoParity;
    uint8_t StopBits = DcbCode::OneStopBit;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
};

// The read and write time-outs of a line, in milliseconds, with the meaning of COMMTIMEOUTS.
struct TzLineTimeouts
{
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// The time-outs the panel sets on its line: a 50 ms pause between characters ends an answer, and a
// silent module costs 400 ms plus 1 ms a byte asked for.
constexpr TzLineTimeouts ModbusLineTimeouts{50, 1, 400, 50, 100};

// Integer fields holding this value are "not set".
constexpr int32_t NotSetValue = 2147483647;

// The owner's choice of line parameters; AssignTo overlays the chosen ones onto a line state.
class TzDCB
{
public:
    TzDCB() { Clear(); }
    void Clear();
    void AssignTo(TzLineState &aDCB) const;

    char XonChar() const { return fXonChar; }
    char XoffChar() const { return fXoffChar; }
    char ErrorChar() const { return fErrorChar; }
    char EofChar() const { return fEofChar; }
    char EvtChar() const { return fEvtChar; }
    void SetXonChar(char aValue)
    {
        fXonChar = aValue;
        bXonChar = true;
    }
    void SetXoffChar(char aValue)
    {
        fXoffChar = aValue;
        bXoffChar = true;
    }
    void SetErrorChar(char aValue)
    {
        fErrorChar = aValue;
        bErrorChar = true;
    }
    void SetEofChar(char aValue)
    {
        fEofChar = aValue;
        bEofChar = true;
    }
    void SetEvtChar(char aValue)
    {
        fEvtChar = aValue;
        bEvtChar = true;
    }

    int32_t BaudRate;
    int32_t Flags;
    int32_t wReserved;
    int32_t XonLim;
    int32_t XoffLim;
    int32_t ByteSize;
    int32_t Parity;
    int32_t StopBits;
    bool bXonChar;
    bool bXoffChar;
    bool bErrorChar;
    bool bEofChar;
    bool bEvtChar;
    // Replace the line's flag word instead of adding to it.
    bool OnlyMyFlags;

private:
    char fXonChar = 0;
    char fXoffChar = 0;
    char fErrorChar = 0;
    char fEofChar = 0;
    char fEvtChar = 0;
};

// The owner's choice of time-outs; AssignTo overlays the chosen ones.
class TzTimeouts
{
public:
    TzTimeouts() { Clear(); }
    void Clear();
    void AssignTo(TzLineTimeouts &aTimeouts) const;
    // Chooses all five at once.
    void ChooseAll(const TzLineTimeouts &aTimeouts);

    int32_t ReadIntervalTimeout;
    int32_t ReadTotalTimeoutMultiplier;
    int32_t ReadTotalTimeoutConstant;
    int32_t WriteTotalTimeoutMultiplier;
    int32_t WriteTotalTimeoutConstant;
};
