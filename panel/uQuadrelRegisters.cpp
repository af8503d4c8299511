// Register access through the link, and validation of integer fields.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "panel/uBlinker.h"

#include <QLineEdit>

#include <optional>

namespace {

constexpr int NoLimit = 2147483647;

} // namespace

bool TfrQuadrel::TemplateLoaded() const
{
    return fLink->TemplateLoaded();
}

void TfrQuadrel::SetRegByID(int aID, double aValue, bool aForced)
{
    fLink->SetRegByID(aID, aValue, aForced);
}

void TfrQuadrel::SetRegInOrder(int aID, double aValue)
{
    fLink->SetRegInOrder(aID, aValue);
}

bool TfrQuadrel::TryValueByID(int aID, double &aValue) const
{
    return fLink->TryValueByID(aID, aValue);
}

bool TfrQuadrel::TryValueByID(int aID, int &aValue) const
{
    return fLink->TryValueByID(aID, aValue);
}

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

bool TfrQuadrel::CheckBlinkEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
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

bool TfrQuadrel::CheckEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax)
{
    int number = 0;
    if (!ReadEditInt(aEdit, number) || BrokenLimit(number, aMin, aMax))
        return false;
    aValue = number;
    return true;
}
