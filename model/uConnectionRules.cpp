#include "model/uConnectionRules.h"

#include "common/uUtils.h"

#include <QLocale>
#include <QStringList>

int GetTimeout(int aBaudRate)
{
    switch (aBaudRate) {
    case 1200: return 150;
    case 2400: return 80;
    case 4800: return 50;
    case 9600: return 30;
    case 14400: return 20;
    case 19200: return 15;
    case 28800:
    case 38400:
    case 57600:
    case 115200: return 10;
    default: return 150;
    }
}

bool CheckTimeout(int aTimeout, int aBaudRate)
{
    return aTimeout >= GetTimeout(aBaudRate);
}

TzLineFormat LineFormatOfItem(int aItem)
{
    switch (aItem) {
    case 0: return {true, 0, 0};
    case 1: return {true, 1, 0};
    case 2: return {true, 2, 0};
    case 3: return {true, 0, 2};
    default: return {};
    }
}

QString LineFormatLabel(int aItem)
{
    static const QStringList labels{"RTU 8N1", "RTU 8O1", "RTU 8E1", "RTU 8N2"};
    return aItem >= 0 && aItem < labels.size() ? labels[aItem] : QString();
}

QString BaudRateCodeText(int aCode)
{
    static const QStringList speeds{"1200",  "2400",  "4800",  "9600",  "14400",
                                    "19200", "28800", "38400", "57600", "115200"};
    return aCode >= 0 && aCode < speeds.size() ? speeds[aCode] : QString();
}

QString FormatCodeText(int aCode)
{
    static const QStringList formats{"ASCII 7O1", "ASCII 7E1", "ASCII 7N2", "RTU 8N1", "RTU 8O1", "RTU 8E1", "RTU 8N2"};
    return aCode >= 1 && aCode <= formats.size() ? formats[aCode - 1] : QString();
}

QString FirmwareVersionText(int aVersion)
{
    QString text = QString::number(aVersion);
    if (aVersion >= 100)
        text.insert(1, u'.');
    return text;
}

QString IdentifierText(int aWord1, int aWord2, int aWord3)
{
    QStringList bytes;
    for (const int word : {aWord1, aWord2, aWord3}) {
        bytes << QStringLiteral("%1").arg((word >> 8) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
        bytes << QStringLiteral("%1").arg(word & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    }
    return bytes.join(u'-');
}

QString VoltageText(double aMillivolts)
{
    QString number = QString::number(aMillivolts / 1000.0, 'f', 2);
    number.replace(u'.', QLocale().decimalPoint());
    return number + QStringLiteral(" В");
}

bool IsPowerAlarm(int aStatus)
{
    return IsBitSet(aStatus, 14) || IsBitSet(aStatus, 15);
}
