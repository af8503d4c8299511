#pragma once
// TStringBytes: the fixed-size value that carries every Modbus frame through the program.
// At most 255 bytes; positions count from 1 (position 0 is the length byte).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <stdexcept>

// Raised by a byte write past the current length.
class ERangeError : public std::runtime_error
{
public:
    ERangeError() : std::runtime_error("range check error") {}
};

class TStringBytes
{
public:
    TStringBytes() = default;
    // Conversions apply implicitly, so a text or a byte array can stand wherever a frame is expected.
    TStringBytes(const QByteArray &aBytes); // NOLINT(google-explicit-constructor)
    TStringBytes(const QString &aText);     // NOLINT(google-explicit-constructor)
    static TStringBytes FromRaw(const uint8_t *aData, int aCount);

    QString AsString() const;
    QByteArray AsBytes() const;

    uint8_t Size();
    uint8_t Size() const { return IsInitialize ? mvalue[0] : 0; }
    void setSize(uint8_t sSize);

    uint8_t GetByte(uint8_t aPos) const { return mvalue[aPos]; }
    void SetByte(uint8_t aPos, uint8_t aValue);
    uint8_t operator[](uint8_t aPos) const { return mvalue[aPos]; }

    TStringBytes operator+(char aChar) const;
    friend bool operator==(const TStringBytes &a, const TStringBytes &b);

    bool IsInitialize = false;

private:
    void EnsureInitialized();
    // Position 0 is the length, 1..255 the content.
    uint8_t mvalue[256] = {};
};
