#include "common/uUtils.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QThread>

#include <chrono>
#include <cstdint>
#include <limits>
#include <random>

QString ModbusErrorText(uint8_t aCode)
{
    switch (aCode) {
    case 1: return QStringLiteral("Принятый код функции не может быть\r\nобработан на подчиненном.");
    case 2: return QStringLiteral("Адрес данных указанный в запросе\r\nнедоступен данному подчиненному.");
    case 3:
        return QStringLiteral("Величина содержащаяся в поле данных запроса\r\n"
                              "является недопустимой величиной для подчиненного.");
    case 4:
        return QStringLiteral("Невосстанавливаемая ошибка имела место пока\r\n"
                              "подчиненный пытался выполнить затребованное действие.");
    case 5: return QStringLiteral("Подчиненный принял запрос и обрабатывает его,\r\nно это требует много времени.");
    case 6: return QStringLiteral("Подчинённый занят обработкой команды.");
    case 7: return QStringLiteral("Подчиненный не может выполнить программную\r\nфункцию, принятую в запросе.");
    case 8: return QStringLiteral("Подчиненный пытается читать расширенную\r\nпамять, но обнаружил ошибку паритета.");
    case 15:
        return QStringLiteral("Запрошенные данные пока не получены.\r\nЗапрос необходимо повторить позже.\r\n"
                              "(возможно устройство отключено)");
    default: return QString();
    }
}

bool TryStrToInt(const QString &aText, int &aValue)
{
    if (aText.isEmpty())
        return false;
    int pos = 0;
    bool negative = false;
    if (aText[0] == u'-' || aText[0] == u'+') {
        negative = aText[0] == u'-';
        pos = 1;
    }
    if (pos >= aText.size())
        return false;
    int64_t magnitude = 0;
    for (; pos < aText.size(); ++pos) {
        const QChar c = aText[pos];
        if (c < u'0' || c > u'9')
            return false;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > int64_t(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return false;
    aValue = static_cast<int>(value);
    return true;
}

bool ExtractDigitsToInt(const QString &aText, int &aValue)
{
    QString digits;
    for (const QChar c : aText)
        if (c >= u'0' && c <= u'9')
            digits.append(c);
    return TryStrToInt(digits, aValue);
}

bool IsValidIPv4(const QString &aText)
{
    if (aText.isEmpty() || aText.endsWith(u'.'))
        return false;
    for (const QChar c : aText)
        if (!((c >= u'0' && c <= u'9') || c == u'.'))
            return false;
    const QStringList parts = aText.split(u'.');
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < parts.size(); ++i) {
        int octet = 0;
        if (!TryStrToInt(parts[i], octet) || octet < 0 || octet > 255)
            return false;
        if (i == 0 && octet == 0)
            return false;
    }
    return true;
}

bool IsBitSet(int aValue, uint8_t aBit)
{
    return ((static_cast<uint32_t>(aValue) >> (aBit % 32)) & 1u) != 0;
}

int BytesToWord(uint8_t aLo, uint8_t aHi)
{
    return aHi * 256 + aLo;
}

bool XmlAttrToInt(const QDomElement &aElement, const QString &aName, int &aValue)
{
    if (aElement.isNull() || !aElement.hasAttribute(aName))
        return false;
    return TryStrToInt(aElement.attribute(aName), aValue);
}

bool XmlAttrToStr(const QDomElement &aElement, const QString &aName, QString &aValue)
{
    if (aElement.isNull() || !aElement.hasAttribute(aName))
        return false;
    aValue = aElement.attribute(aName);
    return true;
}

QString FrameToDecimalText(const TStringBytes &aFrame)
{
    const int size = aFrame.Size();
    if (size < 2)
        return QString();
    QStringList parts;
    for (int i = 1; i < size; ++i)
        parts << QString::number(aFrame.GetByte(static_cast<uint8_t>(i)));
    return parts.join(u'.');
}

int64_t DurationToMs(uint16_t aHours, uint16_t aMinutes, uint16_t aSeconds, uint16_t aMilliseconds)
{
    return int64_t(aHours) * 3600000 + int64_t(aMinutes) * 60000 + int64_t(aSeconds) * 1000 + aMilliseconds;
}

QString DurationToStr(int64_t aMs)
{
    // A duration is never negative; a negative count shows as zero rather than as garbage.
    const int64_t ms = aMs < 0 ? 0 : aMs;
    const int64_t hours = ms / 3600000;
    int64_t rest = ms % 3600000;
    const int64_t minutes = rest / 60000;
    rest %= 60000;
    const int64_t seconds = rest / 1000;
    const int64_t millis = rest % 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(millis, 3, 10, QLatin1Char('0'));
}

bool ValueInRange(double aMax, double aMin, double aValue)
{
    return aMin <= aValue && aValue <= aMax;
}

int NearestMultiple(int aValue, int aStep)
{
    // A step of 0 has no multiples to choose from: the value stands as it is.
    if (aStep == 0)
        return aValue;
    const int64_t step = aStep;
    const int64_t value = aValue;
    const int64_t lower = step * (value / step);
    const int64_t upper = lower + step;
    const int64_t result = std::llabs(lower - value) < std::llabs(upper - value) ? lower : upper;
    if (result > std::numeric_limits<int>::max())
        return static_cast<int>(lower);
    if (result < std::numeric_limits<int>::min())
        return static_cast<int>(lower);
    return static_cast<int>(result);
}

QString GenerateAccessKey(int aLength)
{
    static const QString first = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
    static const QString rest = QStringLiteral("1234567890abcdefghijklmnopqrstuvwxyz");
    std::mt19937 generator(static_cast<uint32_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    QString key;
    for (int i = 0; i < aLength; ++i) {
        const QString &alphabet = i == 0 ? first : rest;
        std::uniform_int_distribution<int> pick(0, int(alphabet.size()) - 1);
        QChar c = alphabet[pick(generator)];
        if (std::uniform_int_distribution<int>(0, 1)(generator) == 1)
            c = c.toUpper();
        key.append(c);
    }
    return key;
}

bool IsNewYearSeason()
{
    return IsNewYearSeason(QDateTime::currentDateTime());
}

bool IsNewYearSeason(const QDateTime &aNow)
{
    const int year = aNow.date().year();
    const QDateTime seasonStart(QDate(year, 12, 15), QTime(0, 0));
    const QDateTime seasonEnd(QDate(year, 1, 10), QTime(0, 0));
    if (aNow >= seasonStart)
        return true;
    if (aNow >= seasonEnd)
        return false;
    return true;
}

uint32_t GetTickCount32()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void WaitWithMessages(uint32_t aMs)
{
    const uint32_t start = GetTickCount32();
    for (;;) {
        const uint32_t now = GetTickCount32();
        if (now - start >= aMs)
            break;
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
}

bool ExtractResourceToFile(const QString &aResName, const QString &aFileName)
{
    QFile resource(QStringLiteral(":/") + aResName);
    if (!resource.open(QIODevice::ReadOnly))
        throw EzError(QStringLiteral("Ресурс %1 не найден").arg(aResName));
    const QByteArray content = resource.readAll();
    QFile target(aFileName);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EzError(QStringLiteral("Не удалось создать файл %1: %2").arg(aFileName, target.errorString()));
    if (target.write(content) != content.size() || !target.flush())
        throw EzError(QStringLiteral("Не удалось записать файл %1: %2").arg(aFileName, target.errorString()));
    return true;
}

bool HasParam(const QString &aText)
{
    if (!QCoreApplication::instance())
        return false;
    return HasParam(aText, QCoreApplication::arguments());
}

bool HasParam(const QString &aText, const QStringList &aArguments)
{
    for (int i = 1; i < aArguments.size(); ++i)
        if (aArguments[i] == aText)
            return true;
    return false;
}
