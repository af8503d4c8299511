#pragma once
// Whole files as the tests write and read them.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

inline void WriteText(const QString &aFileName, const QByteArray &aText)
{
    QFile file(aFileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(aText);
}

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadText(const QString &aFileName)
{
    QFile file(aFileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
