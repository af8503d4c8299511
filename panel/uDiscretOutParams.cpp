#include "panel/uDiscretOutParams.h"

#include <QAbstractButton>

void TzDiscretOutParams::SetEnabled(bool aValue)
{
    fEnabled = aValue;
    if (Btn)
        Btn->setEnabled(aValue);
}
