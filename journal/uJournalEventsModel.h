#pragma once
// The events of the journal window's range as a table: time, event, output, before, after, who
// asked, description. No widgets here; the window's table view shows it.

#include "journal/uJournalRows.h"

#include <QAbstractTableModel>

#include <vector>

// The Russian word of a stored kind or source ("output": "Выход", "module": "модуль").
QString JournalWordText(const QString &aWord);

class TzJournalEventsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum TzColumn { ColTime, ColKind, ColOutput, ColOld, ColNew, ColSource, ColText, ColumnCount };

    explicit TzJournalEventsModel(QObject *aParent = nullptr);

    void SetEvents(std::vector<TzJournalEvent> aEvents);
    const TzJournalEvent &Event(int aRow) const { return fEvents[size_t(aRow)]; }

    int rowCount(const QModelIndex &aParent = {}) const override;
    int columnCount(const QModelIndex &aParent = {}) const override;
    QVariant data(const QModelIndex &aIndex, int aRole = Qt::DisplayRole) const override;
    QVariant headerData(int aSection, Qt::Orientation aOrientation, int aRole = Qt::DisplayRole) const override;

private:
    std::vector<TzJournalEvent> fEvents;
};
