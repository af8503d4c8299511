// The pulse-width panel: parameters read back from the two block registers, the selector row, the
// three parameter fields with their validation and apply, the factory values, the safe state, and
// the duration panel beside it, which shows the closed and open durations and can turn entered
// durations back into parameters.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"
#include "model/uQuadrelMap.h"
#include "panel/uBlinker.h"
#include "panel/uOutputsModel.h"
#include "panel/uPictureLabel.h"
#include "panel/uShimCalc.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace {

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
    auto *edit = new QLineEdit(aText, aParent);
    edit->setObjectName(QString::fromLatin1(aName));
    edit->setMaxLength(aMaxLength);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), edit));
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

void TfrQuadrel::CreateShimControls()
{
    panDOUT->resize(330, 312);
    auto *title = new QLabel(QStringLiteral("Широтно-импульсная модуляция"), panDOUT);
    title->setObjectName(QStringLiteral("labDOUTTitle"));
    title->setGeometry(8, 4, 314, 18);
    btnDOUT1Pan->move(8, 26);

    const int left = 8, field = 184, hint = 272;
    txtShimScale = NumberEdit(panDOUT, "txtShimScale", QStringLiteral("1"), 3, QRect(field, 160, 80, 22));
    FieldLabel(panDOUT, QStringLiteral("&Единица счёта ШИМ"), txtShimScale, QRect(left, 160, 170, 22));
    Hint(panDOUT, "imgShimScaleHint", ScaleHint, QPoint(hint, 163));
    txtShimPeriod = NumberEdit(panDOUT, "txtShimPeriod", QStringLiteral("50"), 5, QRect(field, 188, 80, 22));
    FieldLabel(panDOUT, QStringLiteral("Значение &периода ШИМ"), txtShimPeriod, QRect(left, 188, 170, 22));
    Hint(panDOUT, "imgShimPeriodHint", PeriodHint, QPoint(hint, 191));
    txtShimKoef = NumberEdit(panDOUT, "txtShimKoef", QStringLiteral("0"), 4, QRect(field, 216, 80, 22));
    FieldLabel(panDOUT, QStringLiteral("&Коэф-т заполнения ШИМ"), txtShimKoef, QRect(left, 216, 170, 22));
    Hint(panDOUT, "imgShimKoefHint", KoefHint, QPoint(hint, 219));
    chkShimSecure = new QCheckBox(QStringLiteral("Замкнуто при &включении"), panDOUT);
    chkShimSecure->setObjectName(QStringLiteral("chkShimSecure"));
    chkShimSecure->setAccessibleName(QStringLiteral("Замкнуто при включении"));
    chkShimSecure->setGeometry(left, 244, 250, 22);
    Hint(panDOUT, "imgShimSafeHint", SafeHint, QPoint(hint, 247));
    btnDOUT_Apply = new QPushButton(QStringLiteral("Применить #1"), panDOUT);
    btnDOUT_Apply->setObjectName(QStringLiteral("btnDOUT_Apply"));
    btnDOUT_Apply->setGeometry(left, 276, 140, 26);
    btnDOUT_Default = new QPushButton(QStringLiteral("По умолчанию"), panDOUT);
    btnDOUT_Default->setObjectName(QStringLiteral("btnDOUT_Default"));
    btnDOUT_Default->setGeometry(152, 276, 112, 26);
    Hint(panDOUT, "imgShimButtonsHint", ButtonsHint, QPoint(hint, 281));

    panShim->resize(250, 150);
    auto *shimTitle = new QLabel(QStringLiteral("Расчёт ШИМ"), panShim);
    shimTitle->setObjectName(QStringLiteral("labShimTitle"));
    shimTitle->setGeometry(8, 4, 234, 18);
    txtShimOn = DurationEdit(panShim, "txtShimOn", QRect(104, 28, 110, 22));
    FieldLabel(panShim, QStringLiteral("&Замкнуто"), txtShimOn, QRect(8, 28, 92, 22));
    Hint(panShim, "imgShimOnHint", OnHint, QPoint(220, 31));
    txtShimOff = DurationEdit(panShim, "txtShimOff", QRect(104, 56, 110, 22));
    FieldLabel(panShim, QStringLiteral("&Разомкнуто"), txtShimOff, QRect(8, 56, 92, 22));
    Hint(panShim, "imgShimOffHint", OffHint, QPoint(220, 59));
    auto *format = new QLabel(QStringLiteral("Формат: Часы:Мин:Сек.мсек"), panShim);
    format->setObjectName(QStringLiteral("labShimFormat"));
    format->setGeometry(8, 84, 234, 18);
    btnShimSet = new QPushButton(QStringLiteral("Установить"), panShim);
    btnShimSet->setObjectName(QStringLiteral("btnShimSet"));
    btnShimSet->setToolTip(QStringLiteral("Подобрать единицу счёта, период и коэффициент заполнения\r\n"
                                          "по длительностям (в модуль записывается только по «Применить»)"));
    btnShimSet->setGeometry(8, 110, 120, 26);

    for (QLineEdit *edit : {txtShimScale, txtShimPeriod, txtShimKoef}) {
        connect(edit, &QLineEdit::textChanged, this, &TfrQuadrel::txtShimScaleChange);
        // Enter in a parameter field applies, as the button beside them would.
        connect(edit, &QLineEdit::returnPressed, this, &TfrQuadrel::btnDOUT_ApplyClick);
    }
    for (QLineEdit *edit : {txtShimOn, txtShimOff})
        connect(edit, &QLineEdit::returnPressed, this, &TfrQuadrel::btnShimSetClick);
    connect(btnDOUT_Apply, &QPushButton::clicked, this, &TfrQuadrel::btnDOUT_ApplyClick);
    connect(btnDOUT_Default, &QPushButton::clicked, this, &TfrQuadrel::btnDOUT_DefaultClick);
    connect(btnShimSet, &QPushButton::clicked, this, &TfrQuadrel::btnShimSetClick);
    txtShimScaleChange();
}

void TfrQuadrel::btnDOUT1PanClick(int aIndex)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    CurrDoutIndx = aIndex;
    for (int n = 1; n <= 20; ++n) {
        QAbstractButton *button = fShimButtons[size_t(n)];
        if (!button)
            continue;
        button->setChecked(n == aIndex);
        button->setIcon(PanelIcon(n == aIndex ? QStringLiteral("shim_on") : QStringLiteral("shim_off")));
    }
    const TzDiscretOutParams &output = fOutputs->Output(aIndex);
    txtShimScale->setText(QString::number(output.ShimScale));
    txtShimPeriod->setText(QString::number(output.ShimPeriod));
    txtShimKoef->setText(QString::number(output.ShimKoef));
    chkShimSecure->setChecked(output.ShimSafe != 0);
    btnDOUT_Apply->setText(QStringLiteral("Применить #%1").arg(aIndex));
}

void TfrQuadrel::btnDOUT_ApplyClick()
{
    const int n = CurrDoutIndx;
    if (n < 1 || n > 20)
        return;
    int scale = 0, period = 0, koef = 0;
    if (!CheckBlinkEditInt(txtShimScale, scale, ShimCalc::MinScale, ShimCalc::MaxScale)
        || !CheckBlinkEditInt(txtShimPeriod, period, ShimCalc::MinPeriod, ShimCalc::MaxPeriod)
        || !CheckBlinkEditInt(txtShimKoef, koef, ShimCalc::MinKoef, ShimCalc::MaxKoef))
        return;
    const int safe = chkShimSecure->isChecked() ? 1 : 0;
    fOutputs->SetPulseWidth(n, scale, period, koef);
    fOutputs->SetSafe(n, safe);
    const int base = QuadrelMap::OutputCoil(n);
    SetRegInOrder(base + QuadrelMap::OffsetScale, scale);
    SetRegInOrder(base + QuadrelMap::OffsetPeriod, period);
    SetRegInOrder(base + QuadrelMap::OffsetFill, koef);
    SetRegInOrder(base + QuadrelMap::OffsetSafe, safe);
}

void TfrQuadrel::btnDOUT_DefaultClick()
{
    txtShimScale->setText(QStringLiteral("1"));
    txtShimPeriod->setText(QStringLiteral("50"));
    txtShimKoef->setText(QStringLiteral("0"));
    chkShimSecure->setChecked(false);
}

void TfrQuadrel::txtShimScaleChange()
{
    txtShimOn->setText(QString::fromLatin1(ZeroDuration));
    txtShimOff->setText(QString::fromLatin1(ZeroDuration));
    ShimCalc::TzShimParams params;
    if (!TryStrToInt(txtShimScale->text(), params.Scale) || !TryStrToInt(txtShimPeriod->text(), params.Period)
        || !TryStrToInt(txtShimKoef->text(), params.Koef))
        return;
    if (params.Koef == 0 || !ShimCalc::ParamsValid(params))
        return;
    const ShimCalc::TzShimDurations durations = ShimCalc::Durations(params);
    txtShimOn->setText(DurationToStr(durations.OnMs));
    txtShimOff->setText(DurationToStr(durations.OffMs));
}

void TfrQuadrel::btnShimSetClick()
{
    ShimCalc::TzShimDurations wanted;
    if (!ShimCalc::ParseDuration(txtShimOn->displayText(), wanted.OnMs)) {
        BlinkEdit(txtShimOn);
        return;
    }
    if (!ShimCalc::ParseDuration(txtShimOff->displayText(), wanted.OffMs)) {
        BlinkEdit(txtShimOff);
        return;
    }
    const ShimCalc::TzShimFit fit = ShimCalc::FitDurations(wanted);
    txtShimScale->setText(QString::number(fit.Params.Scale));
    txtShimPeriod->setText(QString::number(fit.Params.Period));
    txtShimKoef->setText(QString::number(fit.Params.Koef));
    // The parameters' own durations now stand in the fields; a fill factor of 0 leaves them blank
    // in the display, so the open time it gives is shown here.
    if (fit.Params.Koef == 0) {
        txtShimOn->setText(DurationToStr(fit.Got.OnMs));
        txtShimOff->setText(DurationToStr(fit.Got.OffMs));
    }
    if (!fit.OnExact)
        BlinkEdit(txtShimOn);
    else if (!fit.OffExact)
        BlinkEdit(txtShimOff);
}
