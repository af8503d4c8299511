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
            aWriter.writeAttribute(name, element.attribute(name));
        for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling())
            WriteNode(aWriter, child, aOrders);
        aWriter.writeEndElement();
    } else if (aNode.isCDATASection()) {
        aWriter.writeCDATA(aNode.nodeValue());
    } else if (aNode.isText()) {
        aWriter.writeCharacters(aNode.nodeValue());
    } else if (aNode.isComment()) {
        aWriter.writeComment(aNode.nodeValue());
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
