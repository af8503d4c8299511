#pragma once
// The XML side of the panel's settings files, without any widget: reading a settings document,
// finding or adding its elements, and writing it back with its attributes in a fixed order.

#include <QDomDocument>
#include <QString>
#include <QStringList>

class QXmlStreamReader;

// Missing: nothing there. Malformed: not well-formed XML, or beyond the bounds below. Unreadable:
// a file that cannot be opened. NotAFile: a folder, a device, a pipe or a link to none of them.
enum class TzXmlFileState { Missing, Valid, Malformed, Unreadable, NotAFile };

// The bounds of what a settings reader accepts, checked before any document is built. The files
// the panel writes are a few kilobytes deep in four levels; anything beyond is taken as damaged,
// so that a huge or deeply nested file costs neither minutes nor the stack.
constexpr qint64 MaxSettingsFileSize = 1024 * 1024;
constexpr int MaxSettingsDepth = 256;

// Reads aFileName into aDocument. The reason of a failure goes into aReason, in Russian; it names
// the place of the fault, never the file's contents (nor the file: the caller names it).
TzXmlFileState ReadXmlFile(const QString &aFileName, QDomDocument &aDocument, QString *aReason = nullptr);

// The checks before reading: kind and size, then the bytes. Valid with the bytes, or the failure.
TzXmlFileState ReadSettingsBytes(const QString &aFileName, QByteArray &aBytes, QString *aReason = nullptr);

// The reason for the log of a stream reader's error, and of a nesting beyond MaxSettingsDepth.
QString XmlFaultText(const QXmlStreamReader &aReader);
QString TooDeepText();

// The first child element of that name, added at the end when aCreate and missing.
QDomElement ChildElement(QDomElement aParent, const QString &aName, bool aCreate);

// The document as text with the declaration version "1.0". Attributes come in the order
// aAttributeOrder gives for their element ("element:attr1,attr2,..."), unknown ones after them by
// name, so the file reads the same from one save to the next. The elements of aOwnElements
// ("root", "root/child", ...) are indented one to a line; anything else is written as it was
// read, without added white space, so foreign content never grows from one save to the next.
// Characters that XML cannot carry are left out of values and text.
QByteArray XmlText(const QDomDocument &aDocument, const QStringList &aAttributeOrder, const QStringList &aOwnElements);
