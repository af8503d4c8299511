// How the panel starts and looks: the autorun panel, the autostart timer and the style list.

#include "panel/uAutorunPanel.h"

#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "panel/uAutorun.h"
#include "panel/uControlBuilders.h"
#include "panel/uPanelHost.h"
#include "panel/uStyles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QCheckBox *CheckBox(QWidget *aParent, const char *aName, const QString &aCaption)
{
    auto *box = new QCheckBox(aCaption, aParent);
    box->setObjectName(QString::fromLatin1(aName));
    return box;
}

void SetChecked(QCheckBox *aBox, bool aChecked)
{
    const QSignalBlocker quiet(aBox);
    aBox->setChecked(aChecked);
}

int DelaySecondsOf(const QString &aText)
{
    int seconds = 0;
    return TryStrToInt(aText, seconds) ? seconds : 0;
}

} // namespace

bool StartedByAutorun()
{
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.size() > 1 && arguments[1] == QStringLiteral("/autorun");
}

TzAutorunPanel::TzAutorunPanel(TzPanelHost &aHost, QPushButton *aButton, QComboBox *aStyles, QWidget *aFrame)
    : QObject(aFrame), fHost(aHost), fButton(aButton), fStyles(aStyles)
{
    setObjectName(QStringLiteral("AutorunPanel"));
    CreateControls(aFrame);

    connect(fButton, &QPushButton::clicked, this, [this] {
        fHost.PopupPanel(fButton, fPanel, alBottom);
        fButton->setChecked(fPanel->isVisible());
    });
    for (QCheckBox *box : {fRegistered, fAutostart, fDelayOn, fMini})
        connect(box, &QCheckBox::clicked, this, [this, box] { BoxChanged(box); });
    connect(fDelay, &QLineEdit::textChanged, this, [this] { BoxChanged(fDelay); });
    connect(fAutostartTimer, &QTimer::timeout, this, [this] {
        emit AutostartDue();
        fAutostartTimer->stop();
    });

    connect(fStyles, &QComboBox::currentIndexChanged, this, [this](int aIndex) { fStyler->SetStyle(aIndex); });
    connect(fStyler, &TzFormStyler::Changed, this, &TzAutorunPanel::StyleChanged);
}

void TzAutorunPanel::CreateControls(QWidget *aFrame)
{
    // The autorun panel opens under its button.
    fButton->setText(QStringLiteral(" Автозагрузка"));
    fButton->show();
    fPanel = PanelControls::PopupFrame(aFrame, "panAutorun", QSize(340, 130));
    auto *column = new QVBoxLayout(fPanel);
#ifdef Q_OS_WIN
    fRegistered = CheckBox(fPanel, "chkAutorun", QStringLiteral("Запускать автоматически вместе с Windows"));
#else
    fRegistered = CheckBox(fPanel, "chkAutorun", QStringLiteral("Запускать автоматически при входе в систему"));
#endif
    fAutostart = CheckBox(fPanel, "chkAutoStart", QStringLiteral("Начинать опрос при автозапуске"));
    fDelayOn = CheckBox(fPanel, "chkAutoStartDelay", QStringLiteral("Отложить опрос на"));
    fDelay = new QLineEdit(fPanel);
    fDelay->setObjectName(QStringLiteral("txtAutostartDelay"));
    fDelay->setAccessibleName(QStringLiteral("Отложить опрос на, сек"));
    fDelay->setText(QStringLiteral("10"));
    fDelay->setMaxLength(4);
    fDelay->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), fDelay));
    fDelay->setMaximumWidth(60);
    auto *delayRow = new QHBoxLayout;
    delayRow->addWidget(fDelayOn);
    delayRow->addWidget(fDelay);
    delayRow->addWidget(new QLabel(QStringLiteral("сек"), fPanel));
    delayRow->addStretch(1);
    fMini = CheckBox(fPanel, "chkAutorunMini", QStringLiteral("Запускать свёрнутым (при автозапуске)"));
    column->addWidget(fRegistered);
    column->addWidget(fAutostart);
    column->addLayout(delayRow);
    column->addWidget(fMini);

    fAutostartTimer = new QTimer(this);
    fAutostartTimer->setObjectName(QStringLiteral("AutostartTimer"));
    fAutostartTimer->setInterval(1000);
    fAutostartTimer->setSingleShot(true);

    // The style list and the styler; a fresh panel wears the design style.
    {
        const QSignalBlocker quiet(fStyles);
        fStyles->clear();
        fStyles->addItems(StyleNames());
        fStyles->setCurrentIndex(DefaultStyleIndex);
    }
    fStyler = new TzFormStyler(this);
    fStyler->setObjectName(QStringLiteral("AdvFormStyler1"));
    fStyler->SetStyle(DefaultStyleIndex);
}

TzAutorunSettings TzAutorunPanel::Shown() const
{
    TzAutorunSettings shown;
    shown.Mini = fMini->isChecked();
    shown.Autostart = fAutostart->isChecked();
    shown.DelayOn = fDelayOn->isChecked();
    shown.DelayValue = DelaySecondsOf(fDelay->text());
    return shown;
}

void TzAutorunPanel::Restore(const TzAutorunSettings &aStored)
{
    fSettings = aStored;
    {
        const QSignalBlocker quiet(fDelay);
        fDelay->setText(QString::number(fSettings.DelayValue));
    }
    SetChecked(fMini, fSettings.Mini);
    SetChecked(fAutostart, fSettings.Autostart);
    SetChecked(fDelayOn, fSettings.DelayOn);
    if (fSettings.DelayOn)
        fAutostartTimer->setInterval(fSettings.DelayValue * 1000);
    if (StartedByAutorun()) {
        fSilentStart = true;
        if (fSettings.Autostart)
            fAutostartTimer->start();
    }
}

void TzAutorunPanel::RefreshRegistration()
{
    SetChecked(fRegistered, RunKeyValueMatches());
}

void TzAutorunPanel::BoxChanged(QObject *aSender)
{
    if (aSender == fRegistered) {
        QString error;
        const bool done = fRegistered->isChecked() ? RunKeyWrite(&error) : RunKeyDelete(&error);
        if (!done) {
            TempLogAdd(QStringLiteral("Ошибка: ") + error, LogNavy);
            RefreshRegistration();
        }
        return;
    }
    fSettings = Shown();
    emit Changed();
}

int TzAutorunPanel::Style() const
{
    return fStyler->Style();
}

void TzAutorunPanel::RestoreStyle(int aIndex)
{
    if (fStyler->SetStyle(aIndex)) {
        const QSignalBlocker quiet(fStyles);
        fStyles->setCurrentIndex(fStyler->Style());
    }
}

void TzAutorunPanel::StyleChanged()
{
    if (fStyles->currentIndex() != fStyler->Style()) {
        const QSignalBlocker quiet(fStyles);
        fStyles->setCurrentIndex(fStyler->Style());
    }
    emit Changed();
}
