// Register access through the link.

#include "panel/uQuadrel.h"

#include "link/uQuadrelLink.h"

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
