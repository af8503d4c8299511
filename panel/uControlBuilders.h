#pragma once
// The panel's controls as the window and the features' panels build them: each with the object
// name by which assistive technology and the tests find it.

#include <QString>
#include <QStringList>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRect;
class QSize;
class QWidget;

namespace PanelControls {

QPushButton *Button(QWidget *aParent, const char *aName, const QString &aCaption, const QRect &aGeometry,
                    bool aCheckable = false);
QLabel *Label(QWidget *aParent, const char *aName, const QString &aText, const QRect &aGeometry);
// A field that takes digits only.
QLineEdit *DigitsEdit(QWidget *aParent, const char *aName, const QString &aText, const QString &aAccessibleName,
                      int aMaxLength = 6);
QComboBox *Combo(QWidget *aParent, const char *aName, const QStringList &aItems, int aSelected,
                 const QString &aAccessibleName);
// A pop-up panel: hidden until its button opens it.
QFrame *PopupFrame(QWidget *aParent, const char *aName, const QSize &aSize);

} // namespace PanelControls
