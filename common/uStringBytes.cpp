#include "common/uStringBytes.h"

#include <algorithm>
#include <cstring>

TStringBytes::TStringBytes(const QByteArray &aBytes)
{
    const int count = std::min<qsizetype>(aBytes.size(), 255);
    IsInitialize = true;
    mvalue[0] = static_cast<uint8_t>(count);
    if (count > 0)
        std::memcpy(mvalue + 1, aBytes.constData(), static_cast<size_t>(count));
}

// Text travels as Latin-1, the one single-byte code page in which every byte value maps to one
// character and back, so a frame survives a round trip through text unchanged.
TStringBytes::TStringBytes(const QString &aText) : TStringBytes(aText.toLatin1()) {}

TStringBytes TStringBytes::FromRaw(const uint8_t *aData, int aCount)
{
    TStringBytes result;
    result.IsInitialize = true;
    const int count = std::clamp(aCount, 0, 255);
    result.mvalue[0] = static_cast<uint8_t>(count);
    if (count > 0)
        std::memcpy(result.mvalue + 1, aData, static_cast<size_t>(count));
    return result;
}

QString TStringBytes::AsString() const
{
    if (!IsInitialize || mvalue[0] == 0)
        return QString();
    return QString::fromLatin1(reinterpret_cast<const char *>(mvalue + 1), mvalue[0]);
}

QByteArray TStringBytes::AsBytes() const
{
    if (!IsInitialize)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(mvalue + 1), mvalue[0]);
}

uint8_t TStringBytes::Size()
{
    EnsureInitialized();
    return mvalue[0];
}

void TStringBytes::setSize(uint8_t sSize)
{
    EnsureInitialized();
    mvalue[0] = sSize;
    std::memset(mvalue + 1, 0, sSize);
}

void TStringBytes::SetByte(uint8_t aPos, uint8_t aValue)
{
    EnsureInitialized();
    if (aPos > mvalue[0])
        throw ERangeError();
    mvalue[aPos] = aValue;
}

TStringBytes TStringBytes::operator+(char aChar) const
{
    TStringBytes result = *this;
    result.EnsureInitialized();
    if (result.mvalue[0] < 255) {
        ++result.mvalue[0];
        result.mvalue[result.mvalue[0]] = static_cast<uint8_t>(aChar);
    }
    return result;
}

bool operator==(const TStringBytes &a, const TStringBytes &b)
{
    if (!a.IsInitialize || !b.IsInitialize)
        return false;
    return a.mvalue[0] == b.mvalue[0] && std::memcmp(a.mvalue + 1, b.mvalue + 1, a.mvalue[0]) == 0;
}

void TStringBytes::EnsureInitialized()
{
    if (!IsInitialize) {
        IsInitialize = true;
        mvalue[0] = 0;
    }
}
