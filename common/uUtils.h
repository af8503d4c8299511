#pragma once
// Small free helpers shared by every subsystem: Modbus exception texts, bit and byte helpers,
// XML attribute readers, duration formatting, address validation and platform conveniences.

#include "common/uStringBytes.h"

#include <QDateTime>
#include <QDomElement>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>
#include <string>

// A failure the caller is expected to report to the operator (missing resource, unwritable file).
class EzError : public std::runtime_error
{
public:
    explicit EzError(const QString &aMessage) : std::runtime_error(aMessage.toStdString()) {}
    QString Message() const { return QString::fromUtf8(what()); }
};

// Text of a Modbus exception code; empty for codes without one.
QString ModbusErrorText(uint8_t aCode);

// Strict decimal integer: optional sign and digits only, within 32 bits.
bool TryStrToInt(const QString &aText, int &aValue);
// Keeps only the digits of the text ("COM12" gives 12); false when none are left or they overflow.
bool ExtractDigitsToInt(const QString &aText, int &aValue);
bool IsValidIPv4(const QString &aText);
bool IsBitSet(int aValue, uint8_t aBit);
int BytesToWord(uint8_t aLo, uint8_t aHi);

// True and the value when the attribute exists and is a decimal integer; the target is untouched
// otherwise.
bool XmlAttrToInt(const QDomElement &aElement, const QString &aName, int &aValue);
bool XmlAttrToStr(const QDomElement &aElement, const QString &aName, QString &aValue);

// The frame's bytes but the last, in decimal, joined with ".".
QString FrameToDecimalText(const TStringBytes &aFrame);

// 64-bit, so that even 65535 hours are counted exactly.
int64_t DurationToMs(uint16_t aHours, uint16_t aMinutes, uint16_t aSeconds, uint16_t aMilliseconds);
// "HH:MM:SS.mmm", hours not reduced to the day.
QString DurationToStr(int64_t aMs);
bool ValueInRange(double aMax, double aMin, double aValue);
int NearestMultiple(int aValue, int aStep);
QString GenerateAccessKey(int aLength);

bool IsNewYearSeason();
bool IsNewYearSeason(const QDateTime &aNow);

// 32-bit millisecond tick count from a monotonic clock; compare differences as unsigned.
uint32_t GetTickCount32();
// Waits at least aMs while the interface keeps handling its events.
void WaitWithMessages(uint32_t aMs);

// Writes the built-in resource aResName to aFileName; raises EzError when either side fails.
bool ExtractResourceToFile(const QString &aResName, const QString &aFileName);

// Whether one of the command-line parameters (the program name excluded) equals aText exactly.
bool HasParam(const QString &aText);
bool HasParam(const QString &aText, const QStringList &aArguments);
