#include "diagnostics/uPortObserverModel.h"

#include "diagnostics/uPortObserver.h"

#include <QDateTime>

namespace {

const int ColumnWidths[ocColumnCount] = {35, 120, 90, 40, 55, 60, 200, 140, 140};

// A CSV field, quoted when it holds the separator, a quote or a line break.
QString CsvField(const QString &aText)
{
    if (!aText.contains(QLatin1Char(';')) && !aText.contains(QLatin1Char('"')) && !aText.contains(QLatin1Char('\r'))
        && !aText.contains(QLatin1Char('\n')))
        return aText;
    QString quoted = aText;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString ObsRegisterText(int aReg)
{
    return QStringLiteral("%1 (0x%2)").arg(aReg).arg(QString::number(uint32_t(aReg), 16).toUpper());
}

QString ObsFunctionText(int aFunc)
{
    return QStringLiteral("%1h").arg(QString::number(uint32_t(aFunc) & 0xFF, 16).toUpper(), 2, QLatin1Char('0'));
}

QString ObsBytesText(const QByteArray &aBytes, bool aHex)
{
    static const char Digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(aBytes.size() * 4);
    for (qsizetype i = 0; i < aBytes.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('.');
        const auto byte = uint8_t(aBytes[i]);
        if (aHex) {
            text += QLatin1Char(Digits[byte >> 4]);
            text += QLatin1Char(Digits[byte & 0x0F]);
        } else {
            if (byte < 10)
                text += QLatin1Char('0');
            text += QString::number(byte);
        }
    }
    return text;
}

const QStringList &ObsHeaders()
{
    static const QStringList headers{QStringLiteral("##"),       QStringLiteral("Время"),   QStringLiteral("Регистр"),
                                     QStringLiteral("Ф-ция"),    QStringLiteral("Таймаут"), QStringLiteral("Значение"),
                                     QStringLiteral("Название"), QStringLiteral("Запрос"),  QStringLiteral("Ответ")};
    return headers;
}

int ObsColumnWidth(int aColumn)
{
    return aColumn >= 0 && aColumn < ocColumnCount ? ColumnWidths[aColumn] : 0;
}

TzPortObserverModel::TzPortObserverModel(QObject *aParent) : QAbstractTableModel(aParent)
{
    fRows.emplace_back();
}

int TzPortObserverModel::rowCount(const QModelIndex &aParent) const
{
    return aParent.isValid() ? 0 : int(fRows.size());
}

int TzPortObserverModel::columnCount(const QModelIndex &aParent) const
{
    return aParent.isValid() ? 0 : ocColumnCount;
}

QVariant TzPortObserverModel::data(const QModelIndex &aIndex, int aRole) const
{
    if (!aIndex.isValid() || (aRole != Qt::DisplayRole && aRole != Qt::AccessibleTextRole))
        return QVariant();
    return CellText(aIndex.row(), aIndex.column());
}

QVariant TzPortObserverModel::headerData(int aSection, Qt::Orientation aOrientation, int aRole) const
{
    if (aOrientation != Qt::Horizontal || aSection < 0 || aSection >= ocColumnCount)
        return QAbstractTableModel::headerData(aSection, aOrientation, aRole);
    if (aRole == Qt::DisplayRole || aRole == Qt::AccessibleTextRole)
        return ObsHeaders()[aSection];
    return QVariant();
}

void TzPortObserverModel::SetHex(bool aHex)
{
    if (fHex == aHex)
        return;
    fHex = aHex;
    if (!fRows.empty())
        emit dataChanged(index(0, ocRequest), index(int(fRows.size()) - 1, ocAnswer), {Qt::DisplayRole});
}

QString TzPortObserverModel::CellText(int aRow, int aColumn) const
{
    if (aRow < 0 || aRow >= int(fRows.size()))
        return QString();
    const Row &row = fRows[size_t(aRow)];
    if (!row.Used)
        return QString();
    switch (aColumn) {
    case ocIndex: return QString::number(row.Index);
    case ocTime: return QDateTime::fromMSecsSinceEpoch(row.TimeMs).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    case ocReg: return ObsRegisterText(row.Reg);
    case ocFunc: return ObsFunctionText(row.Func);
    case ocTimeout: return row.Timeout;
    case ocValue: return row.Value;
    case ocName: return row.Tick.Name;
    case ocRequest: return ObsBytesText(row.Tick.Request, fHex);
    case ocAnswer: return ObsBytesText(row.Tick.Answer, fHex);
    default: return QString();
    }
}

bool TzPortObserverModel::IsCleared() const
{
    return fRows.empty() || !fRows.front().Used;
}

int TzPortObserverModel::FindRegRow(int aReg) const
{
    for (size_t i = 0; i < fRows.size(); ++i)
        if (fRows[i].Used && fRows[i].Tick.Reg == aReg)
            return int(i);
    return -1;
}

int TzPortObserverModel::FindIndexRow(int aIndex) const
{
    for (size_t i = 0; i < fRows.size(); ++i)
        if (fRows[i].Used && fRows[i].Index == aIndex)
            return int(i);
    return -1;
}

int TzPortObserverModel::NewRow()
{
    if (IsCleared() && !fRows.empty()) {
        const int last = int(fRows.size()) - 1;
        fRows.back() = Row();
        return last;
    }
    const int row = int(fRows.size());
    beginInsertRows(QModelIndex(), row, row);
    fRows.emplace_back();
    endInsertRows();
    return row;
}

void TzPortObserverModel::EnterRequest(int aRow, const TzPortObsRec &aRec, qint64 aTimeMs, uint32_t aTick)
{
    if (aRow < 0 || aRow >= int(fRows.size()))
        return;
    Row &row = fRows[size_t(aRow)];
    row.Used = true;
    row.Index = aRec.Index;
    row.TimeMs = aTimeMs;
    row.Reg = aRec.Reg;
    row.Func = aRec.Func;
    row.Tick.TickCount = aTick;
    row.Tick.Request = aRec.Cmd;
    row.Tick.Name = aRec.Name;
    row.Tick.Reg = aRec.Reg;
    emit dataChanged(index(aRow, 0), index(aRow, ocColumnCount - 1), {Qt::DisplayRole});
}

QString TzPortObserverModel::EnterAnswer(int aRow, const TzPortObsRec &aRec, uint32_t aTick)
{
    if (aRow < 0 || aRow >= int(fRows.size()))
        return QString();
    Row &row = fRows[size_t(aRow)];
    // Ticks are compared as unsigned numbers, so the difference survives the counter's wrap.
    const uint32_t elapsed = aTick - row.Tick.TickCount;
    row.Tick.Answer = aRec.Cmd;
    row.Value = aRec.Value;
    row.Timeout = QString::number(elapsed) + QStringLiteral(" мс");
    emit dataChanged(index(aRow, ocTimeout), index(aRow, ocAnswer), {Qt::DisplayRole});
    return ObsBytesText(row.Tick.Answer, fHex);
}

QByteArray TzPortObserverModel::RowAnswer(int aRow) const
{
    return aRow >= 0 && aRow < int(fRows.size()) ? fRows[size_t(aRow)].Tick.Answer : QByteArray();
}

void TzPortObserverModel::Clear()
{
    beginResetModel();
    fRows.clear();
    fRows.emplace_back();
    endResetModel();
}

void TzPortObserverModel::RemoveOldest(int aCount)
{
    aCount = std::min(aCount, int(fRows.size()));
    if (aCount <= 0)
        return;
    beginRemoveRows(QModelIndex(), 0, aCount - 1);
    fRows.erase(fRows.begin(), fRows.begin() + aCount);
    endRemoveRows();
    if (fRows.empty()) {
        beginInsertRows(QModelIndex(), 0, 0);
        fRows.emplace_back();
        endInsertRows();
    }
}

QString TzPortObserverModel::RowCopyText(int aRow) const
{
    QStringList lines;
    for (int column = 0; column < ocColumnCount; ++column)
        lines << ObsHeaders()[column] + QStringLiteral(": ") + CellText(aRow, column);
    return lines.join(QStringLiteral("\r\n"));
}

QString TzPortObserverModel::CsvText() const
{
    QString text;
    QStringList fields;
    for (const QString &header : ObsHeaders())
        fields << CsvField(header);
    text += fields.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    for (size_t i = 0; i < fRows.size(); ++i) {
        if (!fRows[i].Used)
            continue;
        fields.clear();
        for (int column = 0; column < ocColumnCount; ++column)
            fields << CsvField(CellText(int(i), column));
        text += fields.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    return text;
}
