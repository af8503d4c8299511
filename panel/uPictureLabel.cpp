#include "panel/uPictureLabel.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QSvgRenderer>

namespace {

// A picture button as assistive technology sees it: a button with the press action.
class TzPictureButtonAccessible : public QAccessibleWidget
{
public:
    explicit TzPictureButtonAccessible(TzPictureLabel *aPicture) : QAccessibleWidget(aPicture, QAccessible::Button) {}

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &aAction) override
    {
        if (aAction == pressAction() && widget()->isEnabled())
            static_cast<TzPictureLabel *>(widget())->Press();
    }
};

QAccessibleInterface *PictureButtonFactory(const QString &aClassName, QObject *aObject)
{
    if (aClassName == QLatin1String("TzPictureLabel"))
        if (auto *picture = qobject_cast<TzPictureLabel *>(aObject); picture && picture->IsKeyboardButton())
            return new TzPictureButtonAccessible(picture);
    return nullptr;
}

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
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&PictureButtonFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    fKeyboardButton = true;
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void TzPictureLabel::mousePressEvent(QMouseEvent *aEvent)
{
    if (aEvent->button() == Qt::LeftButton)
        emit clicked();
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
