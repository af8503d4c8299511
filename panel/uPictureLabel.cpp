#include "panel/uPictureLabel.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QSvgRenderer>

namespace {

// A picture as assistive technology sees it: a graphic, or a button with the press action once it
// acts as one. The interface is made when the picture is built (setting its name announces it), so
// it looks at the picture's kind each time it is asked.
class TzPictureAccessible : public QAccessibleWidget
{
public:
    explicit TzPictureAccessible(TzPictureLabel *aPicture) : QAccessibleWidget(aPicture, QAccessible::Graphic) {}

    QAccessible::Role role() const override { return IsButton() ? QAccessible::Button : QAccessible::Graphic; }
    QStringList actionNames() const override { return IsButton() ? QStringList{pressAction()} : QStringList(); }
    void doAction(const QString &aAction) override
    {
        if (IsButton() && aAction == pressAction() && widget()->isEnabled())
            Picture()->Press();
    }

private:
    TzPictureLabel *Picture() const { return static_cast<TzPictureLabel *>(widget()); }
    bool IsButton() const { return Picture()->IsKeyboardButton(); }
};

QAccessibleInterface *PictureFactory(const QString &aClassName, QObject *aObject)
{
    if (aClassName == QLatin1String("TzPictureLabel"))
        if (auto *picture = qobject_cast<TzPictureLabel *>(aObject))
            return new TzPictureAccessible(picture);
    return nullptr;
}

const bool PictureFactoryInstalled = [] {
    QAccessible::installFactory(&PictureFactory);
    return true;
}();

} // namespace

QPixmap PanelPicture(const QString &aName, const QSize &aSize)
{
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(aName));
    QPixmap pixmap(aSize);
    pixmap.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    return pixmap;
}

TzPictureLabel::TzPictureLabel(const QString &aName, const QString &aPicture, const QString &aHint, QWidget *aParent)
    : QLabel(aParent)
{
    setObjectName(aName);
    setToolTip(aHint);
    setAccessibleName(aHint);
    SetPicture(aPicture);
}

void TzPictureLabel::SetPicture(const QString &aPicture)
{
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(aPicture));
    const QSize size = renderer.isValid() ? renderer.defaultSize() : QSize(16, 16);
    setFixedSize(size);
    setPixmap(PanelPicture(aPicture, size));
}

void TzPictureLabel::MakeKeyboardButton()
{
    Q_UNUSED(PictureFactoryInstalled);
    fKeyboardButton = true;
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void TzPictureLabel::mousePressEvent(QMouseEvent *aEvent)
{
    if (aEvent->button() == Qt::LeftButton) {
        // Taken here: passed on, the press would reach the frame, which closes its pop-up panels,
        // and with them the panel this picture sits on.
        aEvent->accept();
        emit clicked();
        return;
    }
    QLabel::mousePressEvent(aEvent);
}

void TzPictureLabel::keyPressEvent(QKeyEvent *aEvent)
{
    if (fKeyboardButton && (aEvent->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier
        && (aEvent->key() == Qt::Key_Space || aEvent->key() == Qt::Key_Return || aEvent->key() == Qt::Key_Enter)) {
        aEvent->accept();
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(aEvent);
}

void TzPictureLabel::paintEvent(QPaintEvent *aEvent)
{
    QLabel::paintEvent(aEvent);
    if (!fKeyboardButton || !hasFocus())
        return;
    QPainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect();
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}
