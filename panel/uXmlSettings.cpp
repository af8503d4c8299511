#include "panel/uXmlSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QXmlStreamWriter>

#include <algorithm>

TzXmlFileState ReadXmlFile(const QString &aFileName, QDomDocument &aDocument, QString *aError)
{
    const QFileInfo info(aFileName);
    if (!info.exists())
        return TzXmlFileState::Missing;
    QFile file(aFileName);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        if (aError)
            *aError = QStringLiteral("%1: файл не читается").arg(info.fileName());
        return TzXmlFileState::Unreadable;
    }
    QString message;
    int line = 0, column = 0;
    if (!aDocument.setContent(&file, &message, &line, &column)) {
        if (aError)
            *aError = QStringLiteral("%1: повреждённый XML (строка %2, позиция %3)").arg(info.fileName()).arg(line).arg(column);
        return TzXmlFileState::Malformed;
    }
    return TzXmlFileState::Valid;
}

QDomElement ChildElement(QDomElement aParent, const QString &aName, bool aCreate)
{
    if (aParent.isNull())
        return QDomElement();
    QDomElement child = aParent.firstChildElement(aName);
    if (child.isNull() && aCreate) {
        child = aParent.ownerDocument().createElement(aName);
        aParent.appendChild(child);
    }
    return child;
}

namespace {

// Whether XML 1.0 allows a character of the Basic Multilingual Plane that is no surrogate.
bool IsXmlChar(char16_t aCode)
{
    return aCode == 0x9 || aCode == 0xA || aCode == 0xD || (aCode >= 0x20 && aCode <= 0xD7FF)
           || (aCode >= 0xE000 && aCode <= 0xFFFD);
}

// XML 1.0 cannot carry every character a string can hold (control characters, U+FFFE and
// U+FFFF, an unpaired surrogate, as a pasted text may bring). Such characters are left out: an
// unpaired surrogate would otherwise stop the writer in the middle of the file, and the next
// start would find the whole file unreadable.
QString XmlChars(const QString &aText)
{
    QString result;
    bool changed = false;
    for (qsizetype i = 0; i < aText.size(); ++i) {
        const QChar c = aText[i];
        if (c.isHighSurrogate() && i + 1 < aText.size() && aText[i + 1].isLowSurrogate()) {
            result += c;
            result += aText[++i];
        } else if (!c.isSurrogate() && IsXmlChar(c.unicode())) {
            result += c;
        } else {
            changed = true;
        }
    }
    return changed ? result : aText;
}

// A reader turns every carriage return of a comment or a CDATA section into a line feed (they
// have no character references): written so, the next save writes the same.
QString LineBreaksAsRead(QString aText)
{
    aText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    aText.replace(u'\r', u'\n');
    return aText;
}

void WriteNode(QXmlStreamWriter &aWriter, const QDomNode &aNode, const QHash<QString, QStringList> &aOrders)
{
    if (aNode.isElement()) {
        const QDomElement element = aNode.toElement();
        aWriter.writeStartElement(element.tagName());
        const QDomNamedNodeMap attributes = element.attributes();
        QStringList names;
        for (int i = 0; i < attributes.count(); ++i)
            names.append(attributes.item(i).nodeName());
        const QStringList order = aOrders.value(element.tagName());
        std::sort(names.begin(), names.end(), [&order](const QString &aLeft, const QString &aRight) {
            const qsizetype left = order.indexOf(aLeft), right = order.indexOf(aRight);
            if (left >= 0 || right >= 0)
                return left >= 0 && (right < 0 || left < right);
            return aLeft < aRight;
        });
        for (const QString &name : names)
            aWriter.writeAttribute(name, XmlChars(element.attribute(name)));
        for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling())
            WriteNode(aWriter, child, aOrders);
        aWriter.writeEndElement();
    } else if (aNode.isCDATASection()) {
        aWriter.writeCDATA(LineBreaksAsRead(XmlChars(aNode.nodeValue())));
    } else if (aNode.isText()) {
        // A carriage return written as it is would be read back as a line feed: it goes as a
        // character reference, as it came.
        const QStringList pieces = XmlChars(aNode.nodeValue()).split(u'\r');
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            if (i > 0)
                aWriter.writeEntityReference(QStringLiteral("#13"));
            if (!pieces[i].isEmpty())
                aWriter.writeCharacters(pieces[i]);
        }
    } else if (aNode.isComment()) {
        aWriter.writeComment(LineBreaksAsRead(XmlChars(aNode.nodeValue())));
    }
}

} // namespace

QByteArray XmlText(const QDomDocument &aDocument, const QStringList &aAttributeOrder)
{
    QHash<QString, QStringList> orders;
    for (const QString &entry : aAttributeOrder) {
        const qsizetype colon = entry.indexOf(u':');
        orders.insert(entry.left(colon), entry.mid(colon + 1).split(u','));
    }
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartDocument(QStringLiteral("1.0"));
    for (QDomNode node = aDocument.firstChild(); !node.isNull(); node = node.nextSibling())
        if (!node.isProcessingInstruction())
            WriteNode(writer, node, orders);
    writer.writeEndDocument();
    return text;
}
