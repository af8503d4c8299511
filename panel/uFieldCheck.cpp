#include "panel/uFieldCheck.h"

#include "common/uUtils.h"
#include "panel/uBlinker.h"

#include <QLineEdit>

bool CheckFieldInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
{
    if (!aEdit)
        return false;
    int number = 0;
    if (!TryStrToInt(aEdit->text(), number)) {
        BlinkEdit(aEdit);
        return false;
    }
    const bool belowMin = aMin != FieldNoLimit && number < aMin;
    const bool aboveMax = aMax != FieldNoLimit && number > aMax;
    if (belowMin || aboveMax) {
        aEdit->setText(QString::number(belowMin ? aMin : aMax));
        BlinkEdit(aEdit);
        return false;
    }
    aValue = number;
    return true;
}
