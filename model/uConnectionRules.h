#pragma once
// The connection page's rules and the texts the panel shows for the module's registers. No widgets
// here, so every rule is testable on its own.

#include <QString>

// The shortest network time-out, in ms, that a line speed allows.
int GetTimeout(int aBaudRate);
bool CheckTimeout(int aTimeout, int aBaudRate);

// Parity and stop bits of a line-format item ("MODBUS RTU 8N1", "8O1", "8E1", "8N2"), in the serial
// layer's codes: parity 0 none, 1 odd, 2 even; stop bits 0 one, 2 two. Valid is false for no item.
struct TzLineFormat
{
    bool Valid = false;
    int Parity = 0;
    int StopBits = 0;
};
TzLineFormat LineFormatOfItem(int aItem);
// "RTU 8N1" .. "RTU 8N2" for the items of the format list; empty for anything else.
QString LineFormatLabel(int aItem);

// Texts of the module's own network-setting codes; empty for codes without one.
QString BaudRateCodeText(int aCode);
QString FormatCodeText(int aCode);

// Firmware version as shown: a point after the first digit from 100 on (215 gives "2.15").
QString FirmwareVersionText(int aVersion);
// The three identifier words as six bytes, high byte first: "01-02-03-04-05-06".
QString IdentifierText(int aWord1, int aWord2, int aWord3);
// Supply voltage from millivolts, "24.58 В" with the locale's decimal separator.
QString VoltageText(double aMillivolts);
// Power status with bit 14 or bit 15 set asks for attention.
bool IsPowerAlarm(int aStatus);
