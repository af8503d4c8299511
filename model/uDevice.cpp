#include "model/uDevice.h"

#include "common/uUtils.h"

#include <QDomDocument>
#include <QFile>
#include <QUuid>

TzTag *TzDevice::AddTag()
{
    auto tag = std::make_unique<TzTag>();
    tag->Device = this;
    Tags.push_back(std::move(tag));
    return Tags.back().get();
}

TzTag *TzDevice::AddRegisterTag(int aID, const TzTagKind &aKind)
{
    TzTag *tag = AddTag();
    tag->ID = aID;
    tag->Reg = aID;
    tag->RegType = aKind.RegType;
    tag->ValType = aKind.ValType;
    tag->DataSize = aKind.DataSize;
    tag->DataType = aKind.DataType;
    tag->ReadCmd = aKind.ReadCmd;
    tag->WriteCmd = aKind.WriteCmd;
    tag->SegSize = 1;
    tag->Offset = 0;
    tag->Order = QStringLiteral("21");
    tag->OrderMas = QByteArray("\x02\x01", 2);
    tag->Force = true;
    tag->ReadPriority = 1;
    tag->WritePriority = 1;
    tag->GUID = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
    return tag;
}

TzTag *TzDevice::GetTagByID(int aID) const
{
    for (const auto &tag : Tags)
        if (tag->ID == aID)
            return tag.get();
    return nullptr;
}

bool TzDevice::LoadFromRes(const QString &aResName)
{
    Ready = false;
    Freq = 1000;
    QFile resource(QStringLiteral(":/") + aResName);
    if (!resource.open(QIODevice::ReadOnly))
        throw EzError(QStringLiteral("Ресурс %1 не найден").arg(aResName));
    return LoadFromData(resource.readAll());
}

bool TzDevice::LoadFromData(const QByteArray &aDocument)
{
    Ready = false;
    Freq = 1000;

    QDomDocument document;
    QString parseError;
    int errorLine = 0;
    int errorColumn = 0;
    if (!document.setContent(aDocument, &parseError, &errorLine, &errorColumn))
        throw EzError(QStringLiteral("Ошибка разбора шаблона регистров (строка %1, столбец %2): %3")
                          .arg(errorLine)
                          .arg(errorColumn)
                          .arg(parseError));

    const QDomElement root = document.documentElement();
    if (root.tagName().toLower() != QStringLiteral("template"))
        return false;
    QString name;
    int version = 0;
    if (!XmlAttrToStr(root, QStringLiteral("name"), name) || !XmlAttrToInt(root, QStringLiteral("ver"), version))
        return false;
    DevName = name;
    DevVersion = version;

    Tags.clear();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        // Any node that is not an element (a comment, text) breaks the template.
        if (!LoadModbusTag(node.toElement()))
            return false;
    }
    Ready = true;
    return true;
}

namespace {

bool ReadIntAttr(const QDomElement &aNode, const char *aName, int &aValue)
{
    return XmlAttrToInt(aNode, QString::fromLatin1(aName), aValue);
}

// The digits of a byte order as numbers; a character that is not a digit counts as 0.
QByteArray OrderDigits(const QString &aOrder)
{
    QByteArray digits;
    digits.reserve(aOrder.size());
    for (const QChar c : aOrder)
        digits.append(c >= u'0' && c <= u'9' ? char(c.unicode() - u'0') : char(0));
    return digits;
}

constexpr int MaxReadRegisters = 125;
constexpr int MaxReadCoils = 2000;

} // namespace

bool TzDevice::LoadModbusTag(const QDomElement &aNode)
{
    if (aNode.isNull() || aNode.tagName().toLower() != QStringLiteral("tag"))
        return false;

    int id = 0, reg = 0, regType = 0, valType = 0, segSize = 0, dataSize = 0, dataType = 0;
    QString name, order;
    if (!ReadIntAttr(aNode, "id", id) || !ReadIntAttr(aNode, "reg", reg)
        || !XmlAttrToStr(aNode, QStringLiteral("name"), name) || !ReadIntAttr(aNode, "regtype", regType)
        || !ReadIntAttr(aNode, "valtype", valType) || !XmlAttrToStr(aNode, QStringLiteral("order"), order)
        || !ReadIntAttr(aNode, "segsize", segSize) || !ReadIntAttr(aNode, "datasize", dataSize)
        || !ReadIntAttr(aNode, "datatype", dataType))
        return false;

    // Register and quantity travel as 16-bit fields of the request: values that do not fit would
    // address another register than the template names.
    if (reg < 0 || reg > 0xFFFF || segSize < 0 || segSize > 0xFFFF)
        return false;
    // A 0 in the byte order would point at the byte count instead of a value byte.
    if (order.contains(u'0'))
        return false;

    int readCmd = 0, writeCmd = 0, offset = 0, bitPos = 0;
    const bool canRead = ReadIntAttr(aNode, "read", readCmd);
    const bool canWrite = ReadIntAttr(aNode, "write", writeCmd);
    if (!canRead)
        readCmd = 0;
    if (!canWrite)
        writeCmd = 0;
    if (!ReadIntAttr(aNode, "offset", offset))
        offset = 0;
    if (!ReadIntAttr(aNode, "bitpos", bitPos))
        bitPos = 0;
    // A slave refuses larger blocks than its answer frame can carry: 125 registers (5 + 2 x 125
    // bytes) or 2000 coils in one read.
    if (canRead && (readCmd == 3 || readCmd == 4) && segSize > MaxReadRegisters)
        return false;
    if (canRead && (readCmd == 1 || readCmd == 2) && segSize > MaxReadCoils)
        return false;

    TzTag *tag = AddTag();
    tag->Enabled = true;
    tag->Reg = reg;
    tag->RegType = regType;
    tag->ValType = valType;
    tag->Order = order;
    tag->ReadCmd = readCmd;
    tag->WriteCmd = writeCmd;
    tag->SegSize = segSize;
    tag->Offset = offset;
    tag->ID = id;
    tag->OPCName = name;
    tag->DataSize = dataSize;
    tag->DataType = dataType;
    tag->Group.clear();
    tag->CanRead = canRead;
    tag->CanWrite = canWrite;
    tag->OrderMas = OrderDigits(order);
    tag->BitPos = bitPos;
    tag->IsNeed = true;
    return true;
}
