#pragma once
// The rows of the module's journal, shared by the collector on the interface thread, the writer
// on its own thread and the window that shows them.
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>
// One event. Time: milliseconds since the epoch, UTC. Output 1..20 where an output is concerned, else 0.
struct TzJournalEvent
{
    qint64 TimeMs = 0;
    // "connection_made" "connection_lost" "connection_failed" "connection_ended" "output"
    // "power_alarm_raised" "power_alarm_cleared" "restart" "network_settings" "pulse_width_settings"
    QString Kind;
    int Output = 0;
    std::optional<qint64> Old, New;
    QString Source; // "operator" "sequence" "all_outputs" "web" "module" or empty
    QString Text;   // Russian, for people
};
// One second of the connected module.
struct TzJournalSample
{
    qint64 TimeMs = 0;
    int SupplyMv = 0;
    int PowerStatus = 0;
    quint32 Outputs = 0; // bit n-1 for output n
};
struct TzJournalBatch
{
    std::vector<TzJournalEvent> Events;
    std::vector<TzJournalSample> Samples;
};
// One time bucket of the chart: supply min/max and the last power status and outputs in it.
struct TzJournalBucket
{
    qint64 FromMs = 0, ToMs = 0;
    int SupplyMin = 0, SupplyMax = 0;
    int PowerStatusLast = 0;
    bool PowerAlarmAny = false; // bit 14 or 15 set in any row of the bucket
    quint32 OutputsLast = 0;
    quint32 OutputsAnyOn = 0; // OR of the outputs over the bucket
};
