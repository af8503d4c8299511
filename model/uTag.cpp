#include "model/uTag.h"

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Built-in dead band used while no radius is configured.
constexpr double DefaultDeadBand = 0.0001;
} // namespace

TzTag::TzTag()
{
    // The first value goes in while range and dead band are still zero, so the text reads "0"; only
    // then the wide defaults are installed and the tag marked as waiting for its first answer.
    SetValue(0);
    MinValue = -2147483647.0;
    MaxValue = 2147483647.0;
    Radius = TagNotSet;
    SetQuality(QualityWaiting);
}

void TzTag::SetValue(double val)
{
    if (std::isnan(val)) {
        ValueStr.clear();
        return;
    }
    fValue = val;
    if (!(fValue >= MinValue))
        fValue = MinValue;
    if (fValue > MaxValue)
        fValue = MaxValue;
    SetQuality(QualityGood);

    // The change report follows the value as given, so an out-of-range value still shows as such.
    const double deadBand = Radius == TagNotSet ? DefaultDeadBand : Radius;
    if (std::fabs(val - fOPCValue) >= deadBand) {
        fOPCValue = val;
        ValueStr = FormatValue(val);
        IsChanged = true;
        if (OnChange)
            OnChange();
    }
}

void TzTag::SetQuality(uint16_t Value)
{
    if (Value != fQuality)
        IsChanged = true;
    fQuality = Value;
}

QString TzTag::FormatValue(double aValue)
{
    if (std::isinf(aValue))
        return aValue > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (aValue == 0)
        return QStringLiteral("0");

    // Round to 15 significant digits first; the exponent is the one of the rounded number.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", aValue);
    const bool negative = buffer[0] == '-';
    const char *p = buffer + (negative ? 1 : 0);
    QString digits;
    digits.append(QChar::fromLatin1(p[0]));
    for (int i = 2; i < 16; ++i)
        digits.append(QChar::fromLatin1(p[i]));
    const int exponent = std::atoi(std::strchr(p, 'e') + 1);
    while (digits.size() > 1 && digits.endsWith(u'0'))
        digits.chop(1);

    const QString point = QLocale().decimalPoint();
    QString text;
    if (exponent < -5 || exponent >= 15) {
        text = digits.left(1);
        if (digits.size() > 1)
            text += point + digits.mid(1);
        text += QStringLiteral("E") + QString::number(exponent);
    } else if (exponent < 0) {
        text = QStringLiteral("0") + point + QString(-exponent - 1, u'0') + digits;
    } else if (digits.size() <= exponent + 1) {
        text = digits + QString(exponent + 1 - digits.size(), u'0');
    } else {
        text = digits.left(exponent + 1) + point + digits.mid(exponent + 1);
    }
    return negative ? QStringLiteral("-") + text : text;
}
