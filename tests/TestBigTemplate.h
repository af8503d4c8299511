#pragma once
// The built-in register template with aExtra further tags: holding registers 0..65535, then input
// registers, one read of one register each, so every request frame differs.

#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray BigTemplate(int aExtra)
{
    QFile builtIn(QStringLiteral(":/XMLDATA"));
    if (!builtIn.open(QIODevice::ReadOnly))
        return {};
    QByteArray document = builtIn.readAll();
    QByteArray extra;
    extra.reserve(qsizetype(aExtra) * 160);
    for (int i = 0; i < aExtra; ++i) {
        const int function = i < 65536 ? 3 : 4;
        extra += QStringLiteral(
                     "  <tag id=\"%1\" reg=\"%2\" name=\"Регистр %1\" regtype=\"3\" valtype=\"2\" order=\"21\" "
                     "segsize=\"1\" datasize=\"2\" datatype=\"18\" read=\"%3\" offset=\"0\"/>\n")
                     .arg(1000000 + i)
                     .arg(i % 65536)
                     .arg(function)
                     .toUtf8();
    }
    document.insert(document.lastIndexOf("</template>"), extra);
    return document;
}
