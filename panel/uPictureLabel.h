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
    // Makes the picture a button for the keyboard and assistive technology: Tab reaches it, Space
    // or Enter presses it, its focus is drawn, and it offers the accessible press action.
    void MakeKeyboardButton();
    bool IsKeyboardButton() const { return fKeyboardButton; }
    // What a click, a key or the accessible action does.
    void Press() { emit clicked(); }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *aEvent) override;
    void keyPressEvent(QKeyEvent *aEvent) override;
    void paintEvent(QPaintEvent *aEvent) override;

private:
    bool fKeyboardButton = false;
};

// Renders one of the built-in SVG pictures (":/pictures/<name>.svg") at the given size.
QPixmap PanelPicture(const QString &aName, const QSize &aSize);
