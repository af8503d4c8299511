#include "journal/uJournalEventsModel.h"

#include <QDateTime>

#include <map>

QString JournalWordText(const QString &aWord)
{
    static const std::map<QString, QString> texts{
        {QStringLiteral("connection_made"), QStringLiteral("Подключение")},
        {QStringLiteral("connection_lost"), QStringLiteral("Потеря связи")},
        {QStringLiteral("connection_failed"), QStringLiteral("Неудачное подключение")},
        {QStringLiteral("connection_ended"), QStringLiteral("Отключение")},
        {QStringLiteral("output"), QStringLiteral("Выход")},
        {QStringLiteral("power_alarm_raised"), QStringLiteral("Тревога питания")},
        {QStringLiteral("power_alarm_cleared"), QStringLiteral("Питание в норме")},
        {QStringLiteral("restart"), QStringLiteral("Перезагрузка")},
        {QStringLiteral("network_settings"), QStringLiteral("Сетевые настройки")},
        {QStringLiteral("pulse_width_settings"), QStringLiteral("Настройки ШИМ")},
        {QStringLiteral("operator"), QStringLiteral("оператор")},
        {QStringLiteral("sequence"), QStringLiteral("последовательность")},
        {QStringLiteral("all_outputs"), QStringLiteral("все выходы")},
        {QStringLiteral("web"), QStringLiteral("веб-сервис")},
        {QStringLiteral("module"), QStringLiteral("модуль")}};
    const auto text = texts.find(aWord);
    return text == texts.end() ? aWord : text->second;
}

TzJournalEventsModel::TzJournalEventsModel(QObject *aParent) : QAbstractTableModel(aParent) {}

void TzJournalEventsModel::SetEvents(std::vector<TzJournalEvent> aEvents)
{
    beginResetModel();
    fEvents = std::move(aEvents);
    endResetModel();
}

int TzJournalEventsModel::rowCount(const QModelIndex &aParent) const
{
    return aParent.isValid() ? 0 : int(fEvents.size());
}

int TzJournalEventsModel::columnCount(const QModelIndex &aParent) const
{
    return aParent.isValid() ? 0 : ColumnCount;
}

QVariant TzJournalEventsModel::data(const QModelIndex &aIndex, int aRole) const
{
    if (!aIndex.isValid() || aIndex.row() >= rowCount() || (aRole != Qt::DisplayRole && aRole != Qt::ToolTipRole))
        return {};
    const TzJournalEvent &event = fEvents[size_t(aIndex.row())];
    auto state = [](const std::optional<qint64> &aValue) { return aValue ? QString::number(*aValue) : QString(); };
    switch (aIndex.column()) {
    case ColTime:
        return QDateTime::fromMSecsSinceEpoch(event.TimeMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
    case ColKind: return JournalWordText(event.Kind);
    case ColOutput: return event.Output > 0 ? QString::number(event.Output) : QString();
    case ColOld: return state(event.Old);
    case ColNew: return state(event.New);
    case ColSource: return JournalWordText(event.Source);
    case ColText: return event.Text;
    default: return {};
    }
}

QVariant TzJournalEventsModel::headerData(int aSection, Qt::Orientation aOrientation, int aRole) const
{
    if (aOrientation != Qt::Horizontal || aRole != Qt::DisplayRole)
        return QAbstractTableModel::headerData(aSection, aOrientation, aRole);
    static const QStringList titles{QStringLiteral("Время"),   QStringLiteral("Событие"), QStringLiteral("Выход"),
                                    QStringLiteral("Было"),    QStringLiteral("Стало"),   QStringLiteral("Источник"),
                                    QStringLiteral("Описание")};
    return titles.value(aSection);
}
