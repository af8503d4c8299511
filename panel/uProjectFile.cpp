#include "panel/uProjectFile.h"

#include "common/uSafeSave.h"
#include "settings/uXmlSettings.h"

#include <QDomDocument>
#include <QXmlStreamReader>

TzProjectRead ReadProject(const QString &aFileName, TzStoredHints &aHints, QString *aReason)
{
    aHints = TzStoredHints{};
    QByteArray bytes;
    switch (ReadSettingsBytes(aFileName, bytes, aReason)) {
    case TzXmlFileState::Valid: break;
    case TzXmlFileState::Missing: return TzProjectRead::Missing;
    case TzXmlFileState::Unreadable: return TzProjectRead::Unreadable;
    case TzXmlFileState::NotAFile: return TzProjectRead::NotAFile;
    case TzXmlFileState::Malformed: return TzProjectRead::Damaged;
    }
    // No document is built: the stream gives each `relay` as soon as its tag is whole.
    QXmlStreamReader reader(bytes);
    // Names as written, prefixes and all, as the document reader of the options file takes them.
    reader.setNamespaceProcessing(false);
    int depth = 0;
    int position = 0;
    bool inTable = false, tableSeen = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > MaxSettingsDepth) {
                if (aReason)
                    *aReason = TooDeepText();
                return TzProjectRead::Damaged;
            }
            const QStringView name = reader.qualifiedName();
            if (depth == 1 && name != QStringLiteral("project")) {
                if (aReason)
                    *aReason = QStringLiteral("корневой элемент не «project»");
                return TzProjectRead::ForeignRoot;
            }
            // The first `relay_table` of the root only.
            if (depth == 2 && !tableSeen && name == QStringLiteral("relay_table"))
                inTable = tableSeen = true;
            if (depth == 3 && inTable && position < 20) {
                // Comments and text are not children of the table's list; elements all count.
                const QXmlStreamAttributes attributes = reader.attributes();
                if (name == QStringLiteral("relay") && attributes.hasAttribute(QStringLiteral("hint")))
                    aHints[size_t(position)] = attributes.value(QStringLiteral("hint")).toString();
                ++position;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 2)
                inTable = false;
            --depth;
        }
    }
    if (reader.hasError()) {
        if (aReason)
            *aReason = XmlFaultText(reader);
        return TzProjectRead::Damaged;
    }
    return TzProjectRead::Valid;
}

bool ReadProjectFile(const QString &aFileName, TzStoredHints &aHints)
{
    return ReadProject(aFileName, aHints) == TzProjectRead::Valid;
}

bool WriteProjectFile(const QString &aFileName, const TzProjectHints &aHints, QString *aError)
{
    QDomDocument document;
    QDomElement root = document.createElement(QStringLiteral("project"));
    document.appendChild(root);
    QDomElement table = document.createElement(QStringLiteral("relay_table"));
    root.appendChild(table);
    for (const QString &hint : aHints) {
        QDomElement relay = document.createElement(QStringLiteral("relay"));
        relay.setAttribute(QStringLiteral("hint"), hint);
        table.appendChild(relay);
    }
    const QStringList own{QStringLiteral("project"), QStringLiteral("project/relay_table"),
                          QStringLiteral("project/relay_table/relay")};
    return SaveFileReplacing(aFileName, XmlText(document, {}, own), TzFileAccess::Shared, aError);
}
