// The web-bridge settings in the options file: replaced by the options file code. Until then the
// settings live for the session, and a missing access key is made on first need.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"

#include <QLineEdit>

void TfrQuadrel::SaveHTTPOptions()
{
}

void TfrQuadrel::LoadHTTPOptions()
{
    if (txtAuthKey->text().isEmpty())
        txtAuthKey->setText(GenerateAccessKey(6));
}
