#pragma once
// The XML side of the panel's settings files, without any widget: reading a settings document,
// finding or adding its elements, and writing it back with its attributes in a fixed order.

#include <QDomDocument>
#include <QString>
#include <QStringList>

enum class TzXmlFileState { Missing, Valid, Malformed, Unreadable };

// Reads aFileName into aDocument. A message for the log goes into aError for the two failures; it
// names the file and the place of the fault, never the file's contents.
TzXmlFileState ReadXmlFile(const QString &aFileName, QDomDocument &aDocument, QString *aError = nullptr);

// The first child element of that name, added at the end when aCreate and missing.
QDomElement ChildElement(QDomElement aParent, const QString &aName, bool aCreate);

// The document as text with the declaration version "1.0". Attributes come in the order
// aAttributeOrder gives for their element ("element:attr1,attr2,..."), unknown ones after them by
// name, so the file reads the same from one save to the next. Characters that XML cannot carry
// are left out of values and text.
QByteArray XmlText(const QDomDocument &aDocument, const QStringList &aAttributeOrder);
