#include "panel/uProjectFile.h"

#include "common/uSafeSave.h"
#include "panel/uXmlSettings.h"

#include <QDomDocument>

bool ReadProjectFile(const QString &aFileName, TzStoredHints &aHints)
{
    aHints = TzStoredHints{};
    QDomDocument document;
    if (ReadXmlFile(aFileName, document) != TzXmlFileState::Valid)
        return false;
    const QDomElement root = document.documentElement();
    if (root.tagName() != QStringLiteral("project"))
        return false;
    const QDomElement table = root.firstChildElement(QStringLiteral("relay_table"));
    int position = 0;
    for (QDomNode child = table.firstChild(); !child.isNull() && position < 20; child = child.nextSibling()) {
        if (!child.isElement())
            continue; // comments and text are not children of the table's list
        const QDomElement relay = child.toElement();
        if (relay.tagName() == QStringLiteral("relay") && relay.hasAttribute(QStringLiteral("hint")))
            aHints[size_t(position)] = relay.attribute(QStringLiteral("hint"));
        ++position;
    }
    return true;
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
    return SaveFileReplacing(aFileName, XmlText(document, {}), TzFileAccess::Shared, aError);
}
