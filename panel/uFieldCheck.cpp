#include "panel/uFieldCheck.h"

#include "common/uUtils.h"
#include "panel/uBlinker.h"

#include <QLineEdit>

#include <optional>

namespace {

// Reads an integer from the field; text that is not one flashes the field.
bool ReadEditInt(QLineEdit *aEdit, int &aNumber)
{
    if (!aEdit)
        return false;
    if (TryStrToInt(aEdit->text(), aNumber))
        return true;
    BlinkEdit(aEdit);
    return false;
}

// The limit the number breaks (the minimum or the maximum), if any.
std::optional<int> BrokenLimit(int aNumber, int aMin, int aMax)
{
    if (aMin != NoLimit && aNumber < aMin)
        return aMin;
    if (aMax != NoLimit && aNumber > aMax)
        return aMax;
    return std::nullopt;
}

} // namespace

bool CheckBlinkEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
{
    int number = 0;
    if (!ReadEditInt(aEdit, number))
        return false;
    if (const std::optional<int> limit = BrokenLimit(number, aMin, aMax)) {
        aEdit->setText(QString::number(*limit));
        BlinkEdit(aEdit);
        return false;
    }
    aValue = number;
    return true;
}

bool CheckEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
{
    int number = 0;
    if (!ReadEditInt(aEdit, number) || BrokenLimit(number, aMin, aMax))
        return false;
    aValue = number;
    return true;
}
