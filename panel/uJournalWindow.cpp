#include "panel/uJournalWindow.h"

#include "journal/uJournalEventsModel.h"
#include "journal/uJournalStore.h"
#include "journal/uJournalWriter.h"
#include "model/uConnectionRules.h"

#include <QAreaSeries>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableView>
#include <QTextStream>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 HourMs = 3600 * 1000LL;
constexpr qint64 MinimumSpanMs = 60 * 1000LL; // zooming in stops at a minute

// The kinds behind the kind filter's items.
const std::vector<std::pair<QString, QStringList>> &KindFilters()
{
    static const std::vector<std::pair<QString, QStringList>> filters{
        {QStringLiteral("Все события"), {}},
        {QStringLiteral("Подключения"),
         {"connection_made", "connection_lost", "connection_failed", "connection_ended"}},
        {QStringLiteral("Выходы"), {"output"}},
        {QStringLiteral("Питание"), {"power_alarm_raised", "power_alarm_cleared"}},
        {QStringLiteral("Настройки"), {"restart", "network_settings", "pulse_width_settings"}}};
    return filters;
}

} // namespace

// The chart's view: the wheel zooms around the pointer, a dragged band zooms to it, and the
// pointer's time and values follow it as a hint.
class TzJournalChartView : public QChartView
{
public:
    TzJournalChartView(QChart *aChart, TfrmJournal *aWindow) : QChartView(aChart, aWindow), fWindow(aWindow)
    {
        setMouseTracking(true);
        setRubberBand(QChartView::HorizontalRubberBand);
        setRenderHint(QPainter::Antialiasing);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    qint64 TimeAt(const QPointF &aPos) const { return qint64(chart()->mapToValue(aPos).x()); }
    void wheelEvent(QWheelEvent *aEvent) override
    {
        fWindow->Zoom(aEvent->angleDelta().y() > 0 ? 0.5 : 2.0, TimeAt(aEvent->position()));
        aEvent->accept();
    }
    void mouseMoveEvent(QMouseEvent *aEvent) override
    {
        QChartView::mouseMoveEvent(aEvent);
        if (chart()->plotArea().contains(aEvent->position()))
            QToolTip::showText(aEvent->globalPosition().toPoint(), fWindow->HintAt(TimeAt(aEvent->position())), this);
    }
    void mouseReleaseEvent(QMouseEvent *aEvent) override
    {
        // The band zooms the axes itself; the window then asks the journal for the new span.
        if (aEvent->button() == Qt::RightButton) {
            fWindow->Zoom(2.0);
            aEvent->accept();
            return;
        }
        QChartView::mouseReleaseEvent(aEvent);
        const QDateTimeAxis *axis = qobject_cast<QDateTimeAxis *>(chart()->axes(Qt::Horizontal).value(0));
        if (axis
            && (axis->min().toMSecsSinceEpoch() != fWindow->FromMs()
                || axis->max().toMSecsSinceEpoch() != fWindow->ToMs()))
            fWindow->ShowSpan(axis->min().toMSecsSinceEpoch(), axis->max().toMSecsSinceEpoch());
    }

private:
    TfrmJournal *fWindow;
};

TfrmJournal::TfrmJournal(TzJournalWriter &aWriter, QWidget *aParent) : QWidget(aParent, Qt::Window), fWriter(aWriter)
{
    setObjectName(QStringLiteral("frmJournal"));
    setWindowTitle(QStringLiteral("Журнал"));
    setAccessibleName(QStringLiteral("Журнал"));
    resize(1000, 720);

    auto *top = new QHBoxLayout;
    fRanges = new QButtonGroup(this);
    const std::pair<const char *, const char *> ranges[] = {{"btnRangeHour", "Час"},
                                                            {"btnRangeDay", "Сутки"},
                                                            {"btnRangeWeek", "Неделя"},
                                                            {"btnRangeMonth", "Месяц"},
                                                            {"btnRangeAll", "Всё"}};
    int id = 0;
    for (const auto &[name, text] : ranges) {
        auto *button = new QPushButton(QString::fromUtf8(text), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setCheckable(true);
        button->setAccessibleName(QStringLiteral("Диапазон: ") + QString::fromUtf8(text));
        fRanges->addButton(button, id++);
        top->addWidget(button);
    }
    connect(fRanges, &QButtonGroup::idClicked, this, [this](int aId) { ShowRange(TzRange(aId)); });
    top->addSpacing(16);
    fOutputFilter = new QComboBox(this);
    fOutputFilter->setObjectName(QStringLiteral("cbJournalOutput"));
    fOutputFilter->setAccessibleName(QStringLiteral("Выход"));
    fOutputFilter->addItem(QStringLiteral("Все выходы"));
    for (int n = 1; n <= 20; ++n)
        fOutputFilter->addItem(QStringLiteral("Выход %1").arg(n));
    fKindFilter = new QComboBox(this);
    fKindFilter->setObjectName(QStringLiteral("cbJournalKind"));
    fKindFilter->setAccessibleName(QStringLiteral("Вид событий"));
    for (const auto &[text, kinds] : KindFilters())
        fKindFilter->addItem(text);
    connect(fOutputFilter, &QComboBox::currentIndexChanged, this, &TfrmJournal::Ask);
    connect(fKindFilter, &QComboBox::currentIndexChanged, this, &TfrmJournal::Ask);
    top->addWidget(fOutputFilter);
    top->addWidget(fKindFilter);
    top->addStretch();
    fSave = new QPushButton(QStringLiteral("Сохранить"), this);
    fSave->setObjectName(QStringLiteral("btnJournalSave"));
    fSave->setAccessibleName(QStringLiteral("Сохранить"));
    connect(fSave, &QPushButton::clicked, this, &TfrmJournal::SaveClicked);
    top->addWidget(fSave);

    fChart = new QChart;
    fChart->legend()->setVisible(true);
    fChart->legend()->setAlignment(Qt::AlignBottom);
    fTimeAxis = new QDateTimeAxis(fChart);
    fTimeAxis->setTitleText(QStringLiteral("Время"));
    fVoltageAxis = new QValueAxis(fChart);
    fVoltageAxis->setTitleText(QStringLiteral("Напряжение питания, В"));
    fLaneAxis = new QValueAxis(fChart);
    // The lanes take the lower half of the plot, the supply the upper half.
    fLaneAxis->setRange(0, 40);
    fLaneAxis->setTickCount(9);
    fLaneAxis->setLabelFormat(QStringLiteral("%d"));
    fLaneAxis->setTitleText(QStringLiteral("Выходы"));
    fChart->addAxis(fTimeAxis, Qt::AlignBottom);
    fChart->addAxis(fVoltageAxis, Qt::AlignLeft);
    fChart->addAxis(fLaneAxis, Qt::AlignRight);
    fChartView = new TzJournalChartView(fChart, this);
    fChartView->setObjectName(QStringLiteral("chartJournal"));
    fChartView->setAccessibleName(QStringLiteral("График напряжения питания и состояний выходов"));

    fEvents = new TzJournalEventsModel(this);
    fEventsView = new QTableView(this);
    fEventsView->setObjectName(QStringLiteral("tblJournalEvents"));
    fEventsView->setAccessibleName(QStringLiteral("События журнала"));
    fEventsView->setModel(fEvents);
    fEventsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    fEventsView->setSelectionMode(QAbstractItemView::SingleSelection);
    fEventsView->horizontalHeader()->setStretchLastSection(true);
    fEventsView->verticalHeader()->hide();
    connect(fEventsView, &QTableView::clicked, this, [this](const QModelIndex &aIndex) { GoToEvent(aIndex.row()); });
    connect(fEventsView, &QTableView::activated, this, [this](const QModelIndex &aIndex) { GoToEvent(aIndex.row()); });

    fStatus = new QLabel(this);
    fStatus->setObjectName(QStringLiteral("labJournalStatus"));

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(fChartView);
    split->addWidget(fEventsView);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);
    fChartView->setMinimumHeight(320);
    fEventsView->setMinimumHeight(120);
    split->setSizes({480, 200});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(fStatus);
    fRanges->button(int(TzRange::Day))->setChecked(true);
    ShowRange(TzRange::Day);
}

TfrmJournal::~TfrmJournal() = default;

void TfrmJournal::ShowRange(TzRange aRange)
{
    fRanges->button(int(aRange))->setChecked(true);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    switch (aRange) {
    case TzRange::Hour: ShowSpan(now - HourMs, now); return;
    case TzRange::Day: ShowSpan(now - 24 * HourMs, now); return;
    case TzRange::Week: ShowSpan(now - 7 * 24 * HourMs, now); return;
    case TzRange::Month: ShowSpan(now - 30 * 24 * HourMs, now); return;
    case TzRange::All: break;
    }
    // Everything the journal keeps: its earliest row is asked first.
    QPointer<TfrmJournal> window(this);
    fWriter.Read([window, now](const TzJournalStore &aStore) -> std::function<void()> {
        const std::optional<qint64> first = aStore.FirstTime();
        return [window, now, first] {
            if (window)
                window->ShowSpan(std::min(first.value_or(now - HourMs), now - MinimumSpanMs), now);
        };
    });
}

void TfrmJournal::ShowSpan(qint64 aFromMs, qint64 aToMs)
{
    if (aToMs - aFromMs < MinimumSpanMs) {
        const qint64 middle = aFromMs + (aToMs - aFromMs) / 2;
        aFromMs = middle - MinimumSpanMs / 2;
        aToMs = aFromMs + MinimumSpanMs;
    }
    fFromMs = aFromMs;
    fToMs = aToMs;
    fTimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(fFromMs), QDateTime::fromMSecsSinceEpoch(fToMs));
    fTimeAxis->setFormat(fToMs - fFromMs <= 2 * 24 * HourMs ? QStringLiteral("HH:mm") : QStringLiteral("dd.MM HH:mm"));
    Ask();
}

void TfrmJournal::Zoom(double aFactor, std::optional<qint64> aAroundMs)
{
    const qint64 around = aAroundMs.value_or(fFromMs + (fToMs - fFromMs) / 2);
    const double left = double(around - fFromMs) * aFactor;
    const double right = double(fToMs - around) * aFactor;
    fRanges->setExclusive(false);
    if (QAbstractButton *checked = fRanges->checkedButton())
        checked->setChecked(false);
    fRanges->setExclusive(true);
    ShowSpan(around - qint64(left), around + qint64(right));
}

void TfrmJournal::Pan(double aShare)
{
    const qint64 step = qint64(double(fToMs - fFromMs) * aShare);
    ShowSpan(fFromMs + step, fToMs + step);
}

void TfrmJournal::GoToEvent(int aRow)
{
    if (aRow < 0 || aRow >= fEvents->rowCount())
        return;
    const qint64 at = fEvents->Event(aRow).TimeMs;
    const qint64 half = (fToMs - fFromMs) / 2;
    ShowSpan(at - half, at + half);
}

void TfrmJournal::keyPressEvent(QKeyEvent *aEvent)
{
    switch (aEvent->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: Zoom(0.5); break;
    case Qt::Key_Minus: Zoom(2.0); break;
    case Qt::Key_Left: Pan(-0.25); break;
    case Qt::Key_Right: Pan(0.25); break;
    case Qt::Key_Home: ShowRange(TzRange::Day); break;
    default: QWidget::keyPressEvent(aEvent); return;
    }
    aEvent->accept();
}

QStringList TfrmJournal::KindFilter() const
{
    return KindFilters()[size_t(std::max(0, fKindFilter->currentIndex()))].second;
}

void TfrmJournal::Ask()
{
    const int asked = ++fAsked;
    // One bucket for every two pixel columns of the plot (as fine as the eye can tell), and never
    // fewer than 200, also before the window has been laid out.
    const int buckets = std::clamp(int(fChart->plotArea().width()) / 2, 200, 2000);
    QPointer<TfrmJournal> window(this);
    fWriter.Query(fFromMs, fToMs, buckets, fOutputFilter->currentIndex(), KindFilter(),
                  [window, asked](std::vector<TzJournalBucket> aBuckets, std::vector<TzJournalEvent> aEvents) {
                      if (window && asked == window->fAsked)
                          window->Answered(std::move(aBuckets), std::move(aEvents));
                  });
}

void TfrmJournal::Answered(std::vector<TzJournalBucket> aBuckets, std::vector<TzJournalEvent> aEvents)
{
    ++fAnswers;
    fBuckets = std::move(aBuckets);
    fEvents->SetEvents(std::move(aEvents));
    fEventsView->resizeColumnsToContents();
    Draw();
    fStatus->setText(QStringLiteral("%1 — %2; событий: %3")
                         .arg(QDateTime::fromMSecsSinceEpoch(fFromMs).toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                              QDateTime::fromMSecsSinceEpoch(fToMs).toString(QStringLiteral("dd.MM.yyyy HH:mm")))
                         .arg(fEvents->rowCount()));
    emit Shown();
}

void TfrmJournal::Draw()
{
    fChart->removeAllSeries();
    auto attach = [this](QAbstractSeries *aSeries, QValueAxis *aY) {
        fChart->addSeries(aSeries);
        aSeries->attachAxis(fTimeAxis);
        aSeries->attachAxis(aY);
    };
    // The supply: the lowest and highest reading of each bucket as a band.
    auto *high = new QLineSeries;
    auto *low = new QLineSeries;
    double least = 1e9, most = -1e9;
    for (const TzJournalBucket &bucket : fBuckets) {
        const double mid = double(bucket.FromMs + bucket.ToMs) / 2;
        high->append(mid, bucket.SupplyMax / 1000.0);
        low->append(mid, bucket.SupplyMin / 1000.0);
        least = std::min(least, bucket.SupplyMin / 1000.0);
        most = std::max(most, bucket.SupplyMax / 1000.0);
    }
    if (fBuckets.empty()) {
        least = 0;
        most = 30;
    }
    const double margin = std::max(0.5, (most - least) * 0.1);
    const double top = std::ceil(most + margin), bottom = std::floor(least - margin);
    fVoltageAxis->setRange(bottom - (top - bottom), top);
    // The power alarm: each interval shaded over the whole height.
    for (size_t i = 0; i < fBuckets.size();) {
        if (!fBuckets[i].PowerAlarmAny) {
            ++i;
            continue;
        }
        const qint64 start = fBuckets[i].FromMs;
        while (i < fBuckets.size() && fBuckets[i].PowerAlarmAny)
            ++i;
        const qint64 end = fBuckets[i - 1].ToMs;
        auto *top = new QLineSeries;
        auto *bottom = new QLineSeries;
        top->append(double(start), fVoltageAxis->max());
        top->append(double(end), fVoltageAxis->max());
        bottom->append(double(start), fVoltageAxis->min());
        bottom->append(double(end), fVoltageAxis->min());
        auto *alarm = new QAreaSeries(top, bottom);
        alarm->setName(QStringLiteral("Тревога питания"));
        alarm->setColor(QColor(220, 60, 60, 60));
        alarm->setBorderColor(Qt::transparent);
        attach(alarm, fVoltageAxis);
    }
    auto *supply = new QAreaSeries(high, low);
    supply->setName(QStringLiteral("Напряжение питания"));
    supply->setColor(QColor(40, 90, 200, 120));
    supply->setBorderColor(QColor(40, 90, 200));
    attach(supply, fVoltageAxis);
    // One lane per output: low when open, high when closed (any time in the bucket).
    for (int n = 1; n <= 20; ++n) {
        auto *lane = new QLineSeries;
        const quint32 bit = 1u << (n - 1);
        std::optional<bool> last;
        for (const TzJournalBucket &bucket : fBuckets) {
            const bool on = bucket.OutputsAnyOn & bit;
            const double y = (n - 1) + (on ? 0.7 : 0.1);
            if (last && *last != on)
                lane->append(double(bucket.FromMs), (n - 1) + (*last ? 0.7 : 0.1));
            lane->append(double(bucket.FromMs), y);
            lane->append(double(bucket.ToMs), y);
            last = on;
        }
        lane->setName(QStringLiteral("Выход %1").arg(n));
        attach(lane, fLaneAxis);
    }
    // The legend names the supply and the alarm; the lanes are told by the right axis.
    const QList<QLegendMarker *> markers = fChart->legend()->markers();
    for (QLegendMarker *marker : markers)
        marker->setVisible(!marker->series()->name().startsWith(QStringLiteral("Выход")));
}

QString TfrmJournal::HintAt(qint64 aTimeMs) const
{
    const auto bucket = std::find_if(fBuckets.begin(), fBuckets.end(), [aTimeMs](const TzJournalBucket &aBucket) {
        return aBucket.FromMs <= aTimeMs && aTimeMs < aBucket.ToMs;
    });
    const QString time = QDateTime::fromMSecsSinceEpoch(aTimeMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    if (bucket == fBuckets.end())
        return time + QStringLiteral("\nнет данных");
    QStringList on;
    for (int n = 1; n <= 20; ++n)
        if (bucket->OutputsLast & (1u << (n - 1)))
            on << QString::number(n);
    return QStringLiteral("%1\nНапряжение: %2 … %3\nПитание: %4%5\nВключены: %6")
        .arg(time, VoltageText(bucket->SupplyMin), VoltageText(bucket->SupplyMax))
        .arg(bucket->PowerStatusLast)
        .arg(bucket->PowerAlarmAny ? QStringLiteral(" (тревога)") : QString())
        .arg(on.isEmpty() ? QStringLiteral("нет") : on.join(QStringLiteral(", ")));
}

void TfrmJournal::SaveClicked()
{
    QString filter;
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить журнал"),
                                                          QStringLiteral("journal.csv"),
                                                          QStringLiteral("Таблица CSV (*.csv);;Рисунок PNG (*.png)"),
                                                          &filter);
    if (fileName.isEmpty())
        return;
    QString error;
    if (!SaveTo(fileName, &error))
        fStatus->setText(QStringLiteral("Не сохранено: %1").arg(error));
    else
        fStatus->setText(QStringLiteral("Сохранено: %1").arg(fileName));
}

bool TfrmJournal::SaveTo(const QString &aFileName, QString *aError)
{
    if (aFileName.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
        if (fChartView->grab().save(aFileName, "PNG"))
            return true;
        if (aError)
            *aError = QStringLiteral("рисунок не записан");
        return false;
    }
    QSaveFile file(aFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (aError)
            *aError = file.errorString();
        return false;
    }
    QTextStream out(&file);
    auto quoted = [](QString aText) { return u'"' + aText.replace(u'"', QStringLiteral("\"\"")) + u'"'; };
    out << "record;time;kind;output;old;new;source;text\n";
    for (int row = 0; row < fEvents->rowCount(); ++row) {
        const TzJournalEvent &event = fEvents->Event(row);
        out << "event;" << QDateTime::fromMSecsSinceEpoch(event.TimeMs).toString(Qt::ISODateWithMs) << ';' << event.Kind
            << ';' << (event.Output > 0 ? QString::number(event.Output) : QString()) << ';'
            << (event.Old ? QString::number(*event.Old) : QString()) << ';'
            << (event.New ? QString::number(*event.New) : QString()) << ';' << event.Source << ';' << quoted(event.Text)
            << '\n';
    }
    out << "record;from;to;supply_min_mv;supply_max_mv;power_status_last;power_alarm;outputs_last;outputs_any_on\n";
    for (const TzJournalBucket &bucket : fBuckets)
        out << "sample;" << QDateTime::fromMSecsSinceEpoch(bucket.FromMs).toString(Qt::ISODateWithMs) << ';'
            << QDateTime::fromMSecsSinceEpoch(bucket.ToMs).toString(Qt::ISODateWithMs) << ';' << bucket.SupplyMin << ';'
            << bucket.SupplyMax << ';' << bucket.PowerStatusLast << ';' << (bucket.PowerAlarmAny ? 1 : 0) << ';'
            << bucket.OutputsLast << ';' << bucket.OutputsAnyOn << '\n';
    out.flush();
    if (file.commit())
        return true;
    if (aError)
        *aError = file.errorString();
    return false;
}
