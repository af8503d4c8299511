#include "diagnostics/uVerInfo.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

struct VersionNotes
{
    const char *heading;
    const char *notes;
};

// Change notes, newest first.
const VersionNotes History[] = {
    {" ver 0.7 alpha", "- Подключение через преобразователь Lanvey-Ethernet.\n"
                       "- Поиск модулей на шине по адресам 1..247.\n"
                       "- Описания выходов сохраняются в файле проекта.\n"
                       "- Окно наблюдения за обменом по линии."},
    {" ver 0.6 alpha", "- Безопасное состояние выходов после включения и перезагрузки.\n"
                       "- Калькулятор времени включения и выключения ШИМ."},
    {" ver 0.5.2 alpha", "- Исправлено зависание при отключении во время опроса.\n"
                         "- Счётчики ошибок Modbus в окне лога."},
    {" ver 0.4.3 alpha", "- Таблица выходов: переключение щелчком, перетаскиванием и по заголовку.\n"
                         "- Индикация напряжения питания и статуса питания."},
    {" ver 0.3 alpha", "- Настройки сети RS-485 и перезагрузка модуля."},
    {" ver 0.2 alpha", "- Периодический опрос состояния выходов."},
    {" ver 0.1 alpha", "- Первая версия: подключение к модулю и чтение регистров."},
};

TfrmVerInfo *gVerInfo = nullptr;

} // namespace

TfrmVerInfo *VerInfoWindow()
{
    return gVerInfo;
}

TfrmVerInfo::TfrmVerInfo(QWidget *aParent)
    : QWidget(aParent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmVerInfo"));
    gVerInfo = this;
    setWindowTitle(QStringLiteral("История версий"));
    setFixedSize(505, 457);

    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setWidgetResizable(true);
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    bool newest = true;
    for (const VersionNotes &version : History) {
        auto *panel = new QFrame(content);
        panel->setFrameShape(QFrame::StyledPanel);
        auto *panelLayout = new QVBoxLayout(panel);
        auto *heading = new QLabel(QString::fromUtf8(version.heading), panel);
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        panelLayout->addWidget(heading);
        if (newest) {
            labWorking = new QLabel(panel);
            labWorking->setObjectName(QStringLiteral("labWorking"));
            labWorking->setAlignment(Qt::AlignCenter);
            panelLayout->addWidget(labWorking);
            newest = false;
        }
        auto *notes = new QLabel(QString::fromUtf8(version.notes), panel);
        notes->setWordWrap(true);
        panelLayout->addWidget(notes);
        column->addWidget(panel);
    }
    column->addStretch();
    ScrollBox->setWidget(content);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ScrollBox);

    // The "in development" banner moves only while the window is open.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(250);
    connect(Timer1, &QTimer::timeout, this, &TfrmVerInfo::Timer1Timer);
    Timer1Timer();
}

TfrmVerInfo::~TfrmVerInfo()
{
    if (gVerInfo == this)
        gVerInfo = nullptr;
}

void TfrmVerInfo::Timer1Timer()
{
    const QString frame(WorkingCount, u'=');
    labWorking->setText(frame + QStringLiteral(" Идёт разработка ") + frame);
    WorkingCount = WorkingCount >= 8 ? 0 : WorkingCount + 1;
}

void TfrmVerInfo::showEvent(QShowEvent *aEvent)
{
    if (const QWidget *main = parentWidget() ? parentWidget()->window() : QApplication::activeWindow())
        if (main != this)
            move(main->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    QWidget::showEvent(aEvent);
    Timer1->start();
}

void TfrmVerInfo::hideEvent(QHideEvent *aEvent)
{
    Timer1->stop();
    QWidget::hideEvent(aEvent);
}

void TfrmVerInfo::wheelEvent(QWheelEvent *aEvent)
{
    QScrollBar *bar = ScrollBox->verticalScrollBar();
    bar->setValue(bar->value() - aEvent->angleDelta().y());
    aEvent->accept();
}
