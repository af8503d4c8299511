#pragma once
// Shared by the fuzz targets of the settings files: one temporary folder for the whole run (in
// memory where the system offers it, so millions of saves cost no disk), and plain file access.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>

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
