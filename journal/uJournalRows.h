#pragma once
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>
struct TzJournalEvent {
    qint64 TimeMs = 0;
    QString Kind;
    int Output = 0;
    std::optional<qint64> Old, New;
    QString Source;
    QString Text;
};
struct TzJournalSample {
    qint64 TimeMs = 0;
    int SupplyMv = 0;
    int PowerStatus = 0;
    quint32 Outputs = 0;
};
struct TzJournalBatch {
    std::vector<TzJournalEvent> Events;
    std::vector<TzJournalSample> Samples;
};
