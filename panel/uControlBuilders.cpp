#include "panel/uControlBuilders.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace PanelControls {

QPushButton *Button(QWidget *aParent, const char *aName, const QString &aCaption, const QRect &aGeometry,
                    bool aCheckable)
{
    auto *button = new QPushButton(aCaption, aParent);
    button->setObjectName(QString::fromLatin1(aName));
    button->setGeometry(aGeometry);
    button->setCheckable(aCheckable);
    return button;
}

QLabel *Label(QWidget *aParent, const char *aName, const QString &aText, const QRect &aGeometry)
{
    auto *label = new QLabel(aText, aParent);
    label->setObjectName(QString::fromLatin1(aName));
    label->setGeometry(aGeometry);
    return label;
}

QLineEdit *DigitsEdit(QWidget *aParent, const char *aName, const QString &aText, const QString &aAccessibleName,
                      int aMaxLength)
{
    auto *edit = new QLineEdit(aText, aParent);
    edit->setObjectName(QString::fromLatin1(aName));
    if (!aAccessibleName.isEmpty())
        edit->setAccessibleName(aAccessibleName);
    edit->setMaxLength(aMaxLength);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), edit));
    return edit;
}

QComboBox *Combo(QWidget *aParent, const char *aName, const QStringList &aItems, int aSelected,
                 const QString &aAccessibleName)
{
    auto *combo = new QComboBox(aParent);
    combo->setObjectName(QString::fromLatin1(aName));
    combo->addItems(aItems);
    combo->setCurrentIndex(aSelected);
    combo->setAccessibleName(aAccessibleName);
    return combo;
}

QFrame *PopupFrame(QWidget *aParent, const char *aName, const QSize &aSize)
{
    auto *panel = new QFrame(aParent);
    panel->setObjectName(QString::fromLatin1(aName));
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    panel->resize(aSize);
    panel->hide();
    return panel;
}

} // namespace PanelControls
