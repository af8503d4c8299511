#pragma once
// Shared by the fuzz targets of the settings files: one temporary folder for the whole run (in
// memory where the system offers it, so millions of saves cost no disk), plain file access, and
// text as an operator might type it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>

inline QString FuzzFolder()
{
    static const QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
                                          ? QStringLiteral("/dev/shm/quadrel-fuzz-XXXXXX")
                                          : QDir::tempPath() + QStringLiteral("/quadrel-fuzz-XXXXXX"));
    if (!folder.isValid())
        __builtin_trap();
    return folder.path();
}

inline void WriteFuzzFile(const QString &aPath, const uint8_t *aData, size_t aSize)
{
    QFile file(aPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(aData), qint64(aSize)) != qint64(aSize))
        __builtin_trap();
}

inline QByteArray ReadFuzzFile(const QString &aPath)
{
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly))
        __builtin_trap();
    return file.readAll();
}

// The bytes as UTF-16 text, any code unit at all: what an operator might type or paste.
inline QString TypedText(const uint8_t *aData, size_t aSize)
{
    QString text(qsizetype(aSize / 2), Qt::Uninitialized);
    std::memcpy(text.data(), aData, aSize / 2 * 2);
    return text;
}

// The text as XML 1.0 can carry it: without control characters (tab and line breaks aside),
// U+FFFE, U+FFFF and surrogates that are not paired.
inline QString XmlStorable(const QString &aText)
{
    QString result;
    for (qsizetype i = 0; i < aText.size(); ++i) {
        const char16_t c = aText[i].unicode();
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < aText.size() && aText[i + 1].unicode() >= 0xDC00 && aText[i + 1].unicode() <= 0xDFFF) {
            result += aText[i];
            result += aText[++i];
        } else if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD)) {
            result += aText[i];
        }
    }
    return result;
}
