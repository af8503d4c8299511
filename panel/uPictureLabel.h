#pragma once
// The panel's pictures: SVG drawn at the size they are laid out at and at the screen's device
// pixel ratio, so they stay sharp at any scaling. A TzPictureLabel is a picture on the frame; one
// made a button takes keyboard focus, acts on Space and Enter and offers a press action to
// assistive technology, as a push button does.

#include <QIcon>
#include <QLabel>

class TzPictureLabel : public QLabel
{
    Q_OBJECT

public:
    // aHint is shown as tool tip and read out as the accessible name.
    TzPictureLabel(const QString &aName, const QString &aPicture, const QString &aHint, QWidget *aParent);
    void SetPicture(const QString &aPicture);
    QString Picture() const { return fPicture; }

    // Makes the picture a button: focusable, Space and Enter click it, role "button" with a press
    // action for assistive technology.
    void SetButton(bool aButton);
    bool IsButton() const { return fButton; }
    // Runs the click, as the mouse, the keyboard and the accessible press action do.
    void Click();

    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *aEvent) override;
    void mousePressEvent(QMouseEvent *aEvent) override;
    void keyPressEvent(QKeyEvent *aEvent) override;

private:
    QString fPicture;
    bool fButton = false;
};

// One of the built-in SVG pictures (":/pictures/<name>.svg") as an icon that renders the vector
// drawing at whatever size and device pixel ratio it is asked for; the disabled mode is greyed.
QIcon PanelIcon(const QString &aName);

// The picture rendered at the given size in device-independent pixels and the given device pixel
// ratio (the pixmap carries that ratio).
QPixmap PanelPicture(const QString &aName, const QSize &aSize, qreal aDevicePixelRatio = 1.0);

// Makes assistive technology see picture buttons as buttons with a press action (and pictures with
// a context menu as offering it), and value labels by their caption and value. Installed once;
// the frame calls it on construction.
void InstallPictureAccessibility();

// Makes a label that shows a value read out with its caption: assistive technology reads
// "<caption>: <text>" as its name and the text as its value, and hears of every change of the
// text. The label's own accessible name is cleared, since it would replace the text.
void MarkValueLabel(QLabel *aLabel, const QString &aCaption);
