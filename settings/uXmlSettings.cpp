#include "settings/uXmlSettings.h"

#include "common/uSafeSave.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace {

TzXmlFileState Failed(TzXmlFileState aState, QString *aReason, const QString &aText)
{
    if (aReason)
        *aReason = aText;
    return aState;
}

} // namespace

QString XmlFaultText(const QXmlStreamReader &aReader)
{
    return QStringLiteral("повреждённый XML (строка %1, позиция %2)")
        .arg(aReader.lineNumber())
        .arg(aReader.columnNumber());
}

QString TooDeepText()
{
    return QStringLiteral("вложенность элементов глубже %1 уровней").arg(MaxSettingsDepth);
}

TzXmlFileState ReadSettingsBytes(const QString &aFileName, QByteArray &aBytes, QString *aReason)
{
    aBytes.clear();
    QString what;
    switch (PathKindOf(aFileName, &what)) {
    case TzPathKind::Missing: return TzXmlFileState::Missing;
    case TzPathKind::NotAFile:
        // Never opened: a pipe or a device would hold the panel up.
        return Failed(TzXmlFileState::NotAFile, aReason, QStringLiteral("на этом месте %1, а не файл").arg(what));
    case TzPathKind::File: break;
    }
    QFile file(aFileName);
    QString reason;
    if (!OpenRegularForReading(file, &reason))
        return Failed(TzXmlFileState::Unreadable, aReason, reason);
    if (file.size() > MaxSettingsFileSize)
        return Failed(TzXmlFileState::Malformed, aReason,
                      QStringLiteral("файл больше %1 КиБ").arg(MaxSettingsFileSize / 1024));
    // At most one byte past the bound, also when the file grows while it is read.
    aBytes = file.read(MaxSettingsFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return Failed(TzXmlFileState::Unreadable, aReason, QStringLiteral("файл не читается"));
    if (aBytes.size() > MaxSettingsFileSize)
        return Failed(TzXmlFileState::Malformed, aReason,
                      QStringLiteral("файл больше %1 КиБ").arg(MaxSettingsFileSize / 1024));
    return TzXmlFileState::Valid;
}

TzXmlFileState ReadXmlFile(const QString &aFileName, QDomDocument &aDocument, QString *aReason)
{
    QByteArray bytes;
    const TzXmlFileState state = ReadSettingsBytes(aFileName, bytes, aReason);
    if (state != TzXmlFileState::Valid)
        return state;
    // One pass of the stream reader first: it builds nothing, so a nesting beyond the bound is
    // found before a document of that depth exists.
    QXmlStreamReader scan(bytes);
    scan.setNamespaceProcessing(false); // as the document reader below
    int depth = 0;
    while (!scan.atEnd()) {
        const QXmlStreamReader::TokenType token = scan.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > MaxSettingsDepth)
            return Failed(TzXmlFileState::Malformed, aReason, TooDeepText());
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    if (scan.hasError())
        return Failed(TzXmlFileState::Malformed, aReason, XmlFaultText(scan));
    QString message;
    int line = 0, column = 0;
    if (!aDocument.setContent(bytes, &message, &line, &column))
        return Failed(TzXmlFileState::Malformed, aReason,
                      QStringLiteral("повреждённый XML (строка %1, позиция %2)").arg(line).arg(column));
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

struct TzWriteRules
{
    QHash<QString, QStringList> Orders;
    QSet<QString> OwnElements;
};

// aPath: the element names from the root down to aNode's parent, "a/b"; empty at the top.
void WriteNode(QXmlStreamWriter &aWriter, const QDomNode &aNode, const TzWriteRules &aRules, const QString &aPath)
{
    if (aNode.isElement()) {
        const QDomElement element = aNode.toElement();
        const QString path = aPath.isEmpty() ? element.tagName() : aPath + u'/' + element.tagName();
        // An element of the panel's own is placed on a line of its own, indented; inside anything
        // else no white space is added: indentation would grow with the square of the nesting.
        const bool formatted = aWriter.autoFormatting();
        aWriter.writeStartElement(element.tagName());
        if (formatted && !aRules.OwnElements.contains(path))
            aWriter.setAutoFormatting(false);
        const QDomNamedNodeMap attributes = element.attributes();
        QStringList names;
        for (int i = 0; i < attributes.count(); ++i)
            names.append(attributes.item(i).nodeName());
        const QStringList order = aRules.Orders.value(element.tagName());
        std::sort(names.begin(), names.end(), [&order](const QString &aLeft, const QString &aRight) {
            const qsizetype left = order.indexOf(aLeft), right = order.indexOf(aRight);
            if (left >= 0 || right >= 0)
                return left >= 0 && (right < 0 || left < right);
            return aLeft < aRight;
        });
        for (const QString &name : names)
            aWriter.writeAttribute(name, XmlChars(element.attribute(name)));
        for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling())
            WriteNode(aWriter, child, aRules, path);
        aWriter.writeEndElement();
        aWriter.setAutoFormatting(formatted);
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

QByteArray XmlText(const QDomDocument &aDocument, const QStringList &aAttributeOrder, const QStringList &aOwnElements)
{
    TzWriteRules rules;
    for (const QString &entry : aAttributeOrder) {
        const qsizetype colon = entry.indexOf(u':');
        rules.Orders.insert(entry.left(colon), entry.mid(colon + 1).split(u','));
    }
    rules.OwnElements = QSet<QString>(aOwnElements.begin(), aOwnElements.end());
    QByteArray text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartDocument(QStringLiteral("1.0"));
    for (QDomNode node = aDocument.firstChild(); !node.isNull(); node = node.nextSibling())
        if (!node.isProcessingInstruction())
            WriteNode(writer, node, rules, QString());
    writer.writeEndDocument();
    return text;
}
