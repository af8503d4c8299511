#pragma once
// A picture that acts as a button: an SVG drawn at its size, a hint, and a click signal.

#include <QLabel>

class TzPictureLabel : public QLabel
{
    Q_OBJECT

public:
    // aHint is shown as tool tip and read out as the accessible name.
    TzPictureLabel(const QString &aName, const QString &aPicture, const QString &aHint, QWidget *aParent);
    void SetPicture(const QString &aPicture);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *aEvent) override;
};

// Renders one of the built-in SVG pictures (":/pictures/<name>.svg") at the given size.
QPixmap PanelPicture(const QString &aName, const QSize &aSize);
