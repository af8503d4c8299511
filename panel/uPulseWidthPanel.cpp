// The pulse-width panel: parameters read back into the outputs' model, the selector row, the
// three parameter fields with their check and apply, the factory values, the safe state, and the
// duration panel beside it.

#include "panel/uPulseWidthPanel.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "model/uShimCalc.h"
#include "panel/uBlinker.h"
#include "panel/uControlBuilders.h"
#include "panel/uFieldCheck.h"
#include "panel/uOutputsModel.h"
#include "panel/uPanelHost.h"
#include "panel/uPictureLabel.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

using PanelControls::DigitsEdit;
using PanelControls::PopupFrame;

const char *const ZeroDuration = "00:00:00.000";

const QString ScaleHint = QStringLiteral(
    "Единица счёта ШИМ:\r\nДиапазон: 1..240\r\n\r\n(соответствует значениям единицы счёта 0,01 - 2,4 с)\r\n");
const QString PeriodHint = QStringLiteral(
    "Период генератора ШИМ \r\nДиапазон: 50..36000\r\n\r\n(соответствует значениям периода 0,5 с - 24 ч \r\nв "
    "зависимости от значения единицы счёта ШИМ).\r\n");
const QString KoefHint = QStringLiteral(
    "Коэффициент заполнения ШИМ: k = Ton / T\r\nДиапазон: 0..1000\r\nЗадаётся в десятых долях процента\r\n\r\n"
    "Прямая установка состояния выхода (0 или 1) \r\nтакже изменяет и значение коэффициента заполнения ШИМ\r\n"
    "(делая его равным 0% или 100% соответственно)\r\n\r\nЗапись значения коэффициента\r\nзаполнения ШИМ не "
    "прерывает\r\nвыполнение текущего цикла ШИМ.");
const QString SafeHint = QStringLiteral(
    "Безопасное состояние выхода\r\n(выставляется сразу после включения или перезагрузки)");
const QString OnHint = QStringLiteral(
    "Длительность замкнутого состояния реле \r\n\r\nФормат ввода:\r\n(ЧЧ:ММ:СС.м)\r\nЧасы:Минуты:Секунды."
    "Миллисекунды\r\n\r\nМаксимум: \r\nвкл + выкл = 24 часа\r\n(т.е. 240 * 36000 в десятых долях секунды)\r\n");
const QString OffHint = QStringLiteral(
    "Длительность разомкнутого состояния реле\r\n\r\nФормат ввода:\r\n(ЧЧ:ММ:СС.м)\r\nЧасы:Минуты:Секунды."
    "Миллисекунды\r\n\r\nМаксимум: \r\nвкл + выкл = 24 часа\r\n(т.е. 240 * 36000 в десятых долях секунды)\r\n");
const QString ButtonsHint = QStringLiteral(
    "«Применить»:\r\n Настройки будут применены сразу\r\n (только для текущего Реле)\r\n\r\n«По умолчанию»:\r\n"
    " Сбрасывает настройки текущего Реле до заводских\r\n (после сброса нажмите «Применить», чтобы записать их)");

// A label with its field: the label's text is the field's accessible name, and Alt plus the
// label's marked letter takes the focus to the field.
QLabel *FieldLabel(QWidget *aParent, const QString &aText, QWidget *aBuddy, const QRect &aGeometry)
{
    auto *label = new QLabel(aText, aParent);
    label->setGeometry(aGeometry);
    label->setBuddy(aBuddy);
    QString plain = aText;
    aBuddy->setAccessibleName(plain.remove(u'&'));
    return label;
}

QLineEdit *NumberEdit(QWidget *aParent, const char *aName, const QString &aText, int aMaxLength, const QRect &aGeometry)
{
    QLineEdit *edit = DigitsEdit(aParent, aName, aText, QString(), aMaxLength);
    edit->setGeometry(aGeometry);
    return edit;
}

QLineEdit *DurationEdit(QWidget *aParent, const char *aName, const QRect &aGeometry)
{
    auto *edit = new QLineEdit(aParent);
    edit->setObjectName(QString::fromLatin1(aName));
    // Every place a digit; unfilled places show as blanks and read as zeros.
    edit->setInputMask(QStringLiteral("99:99:99.999; "));
    edit->setGeometry(aGeometry);
    return edit;
}

void Hint(QWidget *aParent, const char *aName, const QString &aHint, const QPoint &aPosition)
{
    auto *picture = new TzPictureLabel(QString::fromLatin1(aName), QStringLiteral("info"), aHint, aParent);
    picture->move(aPosition);
}

} // namespace

TzPulseWidthPanel::TzPulseWidthPanel(TzPanelHost &aHost, TzOutputsModel &aOutputs, QWidget *aFrame)
    : QObject(aFrame), fHost(aHost), fOutputs(aOutputs)
{
    fPanel = PopupFrame(aFrame, "panDOUT", QSize(330, 300));
    // Wide enough for "#20" beside its picture; five in a row still fit the panel.
    fSelectors[1] = new QPushButton(QStringLiteral("#1"), fPanel);
    fSelectors[1]->setObjectName(QStringLiteral("btnDOUT1Pan"));
    fSelectors[1]->setGeometry(8, 8, 58, 26);
    fCalculator = PopupFrame(aFrame, "panShim", QSize(250, 200));

    fPanel->resize(330, 312);
    auto *title = new QLabel(QStringLiteral("Широтно-импульсная модуляция"), fPanel);
    title->setObjectName(QStringLiteral("labDOUTTitle"));
    title->setGeometry(8, 4, 314, 18);
    fSelectors[1]->move(8, 26);

    const int left = 8, field = 184, hint = 272;
    fScale = NumberEdit(fPanel, "txtShimScale", QStringLiteral("1"), 3, QRect(field, 160, 80, 22));
    FieldLabel(fPanel, QStringLiteral("&Единица счёта ШИМ"), fScale, QRect(left, 160, 170, 22));
    Hint(fPanel, "imgShimScaleHint", ScaleHint, QPoint(hint, 163));
    fPeriod = NumberEdit(fPanel, "txtShimPeriod", QStringLiteral("50"), 5, QRect(field, 188, 80, 22));
    FieldLabel(fPanel, QStringLiteral("Значение &периода ШИМ"), fPeriod, QRect(left, 188, 170, 22));
    Hint(fPanel, "imgShimPeriodHint", PeriodHint, QPoint(hint, 191));
    fFill = NumberEdit(fPanel, "txtShimKoef", QStringLiteral("0"), 4, QRect(field, 216, 80, 22));
    FieldLabel(fPanel, QStringLiteral("&Коэф-т заполнения ШИМ"), fFill, QRect(left, 216, 170, 22));
    Hint(fPanel, "imgShimKoefHint", KoefHint, QPoint(hint, 219));
    fSafe = new QCheckBox(QStringLiteral("Замкнуто при &включении"), fPanel);
    fSafe->setObjectName(QStringLiteral("chkShimSecure"));
    fSafe->setAccessibleName(QStringLiteral("Замкнуто при включении"));
    fSafe->setGeometry(left, 244, 250, 22);
    Hint(fPanel, "imgShimSafeHint", SafeHint, QPoint(hint, 247));
    fApply = new QPushButton(QStringLiteral("Применить #1"), fPanel);
    fApply->setObjectName(QStringLiteral("btnDOUT_Apply"));
    fApply->setGeometry(left, 276, 140, 26);
    fDefault = new QPushButton(QStringLiteral("По умолчанию"), fPanel);
    fDefault->setObjectName(QStringLiteral("btnDOUT_Default"));
    fDefault->setGeometry(152, 276, 112, 26);
    Hint(fPanel, "imgShimButtonsHint", ButtonsHint, QPoint(hint, 281));

    fCalculator->resize(250, 150);
    auto *shimTitle = new QLabel(QStringLiteral("Расчёт ШИМ"), fCalculator);
    shimTitle->setObjectName(QStringLiteral("labShimTitle"));
    shimTitle->setGeometry(8, 4, 234, 18);
    fOn = DurationEdit(fCalculator, "txtShimOn", QRect(104, 28, 110, 22));
    FieldLabel(fCalculator, QStringLiteral("&Замкнуто"), fOn, QRect(8, 28, 92, 22));
    Hint(fCalculator, "imgShimOnHint", OnHint, QPoint(220, 31));
    fOff = DurationEdit(fCalculator, "txtShimOff", QRect(104, 56, 110, 22));
    FieldLabel(fCalculator, QStringLiteral("&Разомкнуто"), fOff, QRect(8, 56, 92, 22));
    Hint(fCalculator, "imgShimOffHint", OffHint, QPoint(220, 59));
    auto *format = new QLabel(QStringLiteral("Формат: Часы:Мин:Сек.мсек"), fCalculator);
    format->setObjectName(QStringLiteral("labShimFormat"));
    format->setGeometry(8, 84, 234, 18);
    fSet = new QPushButton(QStringLiteral("Установить"), fCalculator);
    fSet->setObjectName(QStringLiteral("btnShimSet"));
    fSet->setToolTip(QStringLiteral("Подобрать единицу счёта, период и коэффициент заполнения\r\n"
                                    "по длительностям (в модуль записывается только по «Применить»)"));
    fSet->setGeometry(8, 110, 120, 26);

    for (QLineEdit *edit : {fScale, fPeriod, fFill}) {
        connect(edit, &QLineEdit::textChanged, this, &TzPulseWidthPanel::ShowDurations);
        // Enter in a parameter field applies, as the button beside them would.
        connect(edit, &QLineEdit::returnPressed, this, &TzPulseWidthPanel::Apply);
    }
    for (QLineEdit *edit : {fOn, fOff})
        connect(edit, &QLineEdit::returnPressed, this, &TzPulseWidthPanel::FitDurations);
    connect(fApply, &QPushButton::clicked, this, &TzPulseWidthPanel::Apply);
    connect(fDefault, &QPushButton::clicked, this, &TzPulseWidthPanel::Defaults);
    connect(fSet, &QPushButton::clicked, this, &TzPulseWidthPanel::FitDurations);
    ShowDurations();
    CreateSelectorRow();
}

void TzPulseWidthPanel::CreateSelectorRow()
{
    QPushButton *first = fSelectors[1];
    first->setCheckable(true);
    first->setProperty("tag", 1);
    const QSize size = first->size();
    QPushButton *left = first;
    for (int n = 2; n <= 20; ++n) {
        auto *button = new QPushButton(QStringLiteral("#%1").arg(n), fPanel);
        button->setObjectName(QStringLiteral("btnDOUT%1Pan").arg(n));
        button->setCheckable(true);
        button->setEnabled(first->isEnabled());
        button->resize(size);
        button->setProperty("tag", n);
        if ((n - 1) % 5 == 0) {
            const int row = (n - 1) / 5;
            button->move(first->x(), first->y() + row * (size.height() + 6));
        } else {
            // Only #2 stands a little further off, from the selected-looking #1.
            const int gap = n == 2 ? 8 : 6;
            button->move(left->x() + left->width() + gap, left->y());
        }
        fSelectors[size_t(n)] = button;
        left = button;
    }
    for (int n = 1; n <= 20; ++n) {
        QPushButton *button = fSelectors[size_t(n)];
        connect(button, &QPushButton::clicked, this, [this, n] { Select(n); });
        button->setIcon(PanelIcon(n == 1 ? QStringLiteral("shim_on") : QStringLiteral("shim_off")));
        button->setIconSize(QSize(12, 12));
        button->setEnabled(true);
    }
    first->setChecked(true);
}

void TzPulseWidthPanel::Open(QWidget *aTarget)
{
    fHost.PopupPanel(aTarget, fPanel, alRight);
    Select(fCurrent);
    fCalculator->move(fPanel->x() + fPanel->width() - 1, fPanel->y() + 248);
}

void TzPulseWidthPanel::Select(int aIndex)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    fCurrent = aIndex;
    for (int n = 1; n <= 20; ++n) {
        QPushButton *button = fSelectors[size_t(n)];
        button->setChecked(n == aIndex);
        button->setIcon(PanelIcon(n == aIndex ? QStringLiteral("shim_on") : QStringLiteral("shim_off")));
    }
    const TzDiscretOutParams &output = fOutputs.Output(aIndex);
    fScale->setText(QString::number(output.ShimScale));
    fPeriod->setText(QString::number(output.ShimPeriod));
    fFill->setText(QString::number(output.ShimKoef));
    fSafe->setChecked(output.ShimSafe != 0);
    fApply->setText(QStringLiteral("Применить #%1").arg(aIndex));
}

void TzPulseWidthPanel::Apply()
{
    const int n = fCurrent;
    int scale = 0, period = 0, koef = 0;
    if (!CheckBlinkEditInt(fScale, scale, ShimCalc::MinScale, ShimCalc::MaxScale)
        || !CheckBlinkEditInt(fPeriod, period, ShimCalc::MinPeriod, ShimCalc::MaxPeriod)
        || !CheckBlinkEditInt(fFill, koef, ShimCalc::MinKoef, ShimCalc::MaxKoef))
        return;
    const int safe = fSafe->isChecked() ? 1 : 0;
    fOutputs.SetPulseWidth(n, scale, period, koef);
    fOutputs.SetSafe(n, safe);
    TzQuadrelLink &link = fHost.HostLink();
    const int base = QuadrelMap::OutputCoil(n);
    link.SetRegInOrder(base + QuadrelMap::OffsetScale, scale);
    link.SetRegInOrder(base + QuadrelMap::OffsetPeriod, period);
    link.SetRegInOrder(base + QuadrelMap::OffsetFill, koef);
    link.SetRegInOrder(base + QuadrelMap::OffsetSafe, safe);
}

void TzPulseWidthPanel::Defaults()
{
    fScale->setText(QStringLiteral("1"));
    fPeriod->setText(QStringLiteral("50"));
    fFill->setText(QStringLiteral("0"));
    fSafe->setChecked(false);
}

void TzPulseWidthPanel::ShowDurations()
{
    fOn->setText(QString::fromLatin1(ZeroDuration));
    fOff->setText(QString::fromLatin1(ZeroDuration));
    ShimCalc::TzShimParams params;
    if (!TryStrToInt(fScale->text(), params.Scale) || !TryStrToInt(fPeriod->text(), params.Period)
        || !TryStrToInt(fFill->text(), params.Koef))
        return;
    if (params.Koef == 0 || !ShimCalc::ParamsValid(params))
        return;
    const ShimCalc::TzShimDurations durations = ShimCalc::Durations(params);
    fOn->setText(DurationToStr(durations.OnMs));
    fOff->setText(DurationToStr(durations.OffMs));
}

void TzPulseWidthPanel::FitDurations()
{
    ShimCalc::TzShimDurations wanted;
    if (!ShimCalc::ParseDuration(fOn->displayText(), wanted.OnMs)) {
        BlinkEdit(fOn);
        return;
    }
    if (!ShimCalc::ParseDuration(fOff->displayText(), wanted.OffMs)) {
        BlinkEdit(fOff);
        return;
    }
    const ShimCalc::TzShimFit fit = ShimCalc::FitDurations(wanted);
    fScale->setText(QString::number(fit.Params.Scale));
    fPeriod->setText(QString::number(fit.Params.Period));
    fFill->setText(QString::number(fit.Params.Koef));
    // The parameters' own durations now stand in the fields; a fill factor of 0 leaves them blank
    // in the display, so the open time it gives is shown here.
    if (fit.Params.Koef == 0) {
        fOn->setText(DurationToStr(fit.Got.OnMs));
        fOff->setText(DurationToStr(fit.Got.OffMs));
    }
    if (!fit.OnExact)
        BlinkEdit(fOn);
    else if (!fit.OffExact)
        BlinkEdit(fOff);
}
