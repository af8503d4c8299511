// The connection panel's fields as the features are given them.

#include "panel/uConnectionPage.h"

#include "common/uUtils.h"

#include <QComboBox>
#include <QTabWidget>

bool TzConnectionPage::IsEthernet() const
{
    return Pager->currentWidget() == EthernetPage;
}

QString TzConnectionPage::PortCaption() const
{
    const QString name = Port->currentText();
    int number = 0;
    if (name.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive) && ExtractDigitsToInt(name, number))
        return QStringLiteral("COM%1").arg(number);
    return name;
}
