#pragma once
// TfrmJournal, the window "Журнал": the supply voltage of a range as a band (lowest and highest per
// pixel column) with the power-alarm intervals shaded, one step lane per output, and below it the
// events of the range, filtered by output and kind. Ranges "Час" .. "Всё"; the wheel, a dragged
// band, + and -, the arrow keys and Home zoom and pan; a click on an event brings the chart to it;
// "Сохранить" writes the range as CSV or the chart as PNG. It asks the journal's writer thread
// for everything, so the panel never waits for the disk.

#include "journal/uJournalRows.h"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QButtonGroup;
class QChart;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QPushButton;
class QTableView;
class QValueAxis;
class TzJournalChartView;
class TzJournalEventsModel;
class TzJournalWriter;

class TfrmJournal : public QWidget
{
    Q_OBJECT

public:
    enum class TzRange { Hour, Day, Week, Month, All };

    explicit TfrmJournal(TzJournalWriter &aWriter, QWidget *aParent = nullptr);
    ~TfrmJournal() override;

    void ShowRange(TzRange aRange);
    // Shows [aFromMs, aToMs) and asks the journal for it.
    void ShowSpan(qint64 aFromMs, qint64 aToMs);
    qint64 FromMs() const { return fFromMs; }
    qint64 ToMs() const { return fToMs; }
    // Zooms around the middle (aFactor < 1 in, > 1 out) or moves by a share of the width.
    void Zoom(double aFactor, std::optional<qint64> aAroundMs = {});
    void Pan(double aShare);
    // Brings the chart to an event of the table, keeping the width.
    void GoToEvent(int aRow);
    // Writes the shown range: .png the chart, anything else CSV (events, then the chart's rows).
    bool SaveTo(const QString &aFileName, QString *aError = nullptr);
    // The buckets shown, and a line about the one at a time (what the cross-hair hint says).
    const std::vector<TzJournalBucket> &Buckets() const { return fBuckets; }
    QString HintAt(qint64 aTimeMs) const;
    // Answers of the journal received so far (tests wait on it).
    int Answers() const { return fAnswers; }

signals:
    void Shown();

protected:
    void keyPressEvent(QKeyEvent *aEvent) override;

private:
    void Ask();
    void Answered(std::vector<TzJournalBucket> aBuckets, std::vector<TzJournalEvent> aEvents);
    void Draw();
    void SaveClicked();
    QStringList KindFilter() const;

    TzJournalWriter &fWriter;
    // The controls: range buttons, filters, chart with its three axes, events, status line.
    QButtonGroup *fRanges = nullptr;
    QComboBox *fOutputFilter = nullptr, *fKindFilter = nullptr;
    QPushButton *fSave = nullptr;
    TzJournalChartView *fChartView = nullptr;
    QChart *fChart = nullptr;
    QDateTimeAxis *fTimeAxis = nullptr;
    QValueAxis *fVoltageAxis = nullptr, *fLaneAxis = nullptr;
    QTableView *fEventsView = nullptr;
    TzJournalEventsModel *fEvents = nullptr;
    QLabel *fStatus = nullptr;

    qint64 fFromMs = 0, fToMs = 0;
    int fAsked = 0; // the newest question: older answers are dropped
    int fAnswers = 0;
    std::vector<TzJournalBucket> fBuckets;
};
