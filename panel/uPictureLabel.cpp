#include "panel/uPictureLabel.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QIconEngine>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

namespace {

QString PictureFile(const QString &aName)
{
    return QStringLiteral(":/pictures/%1.svg").arg(aName);
}

QPixmap RenderPicture(const QString &aName, const QSize &aPixels, QIcon::Mode aMode)
{
    const QString key =
        QStringLiteral("quadrel:%1:%2x%3:%4").arg(aName).arg(aPixels.width()).arg(aPixels.height()).arg(int(aMode));
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    pixmap = QPixmap(aPixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(PictureFile(aName));
    if (renderer.isValid() && !aPixels.isEmpty()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    if (aMode == QIcon::Disabled) {
        QStyleOption option;
        pixmap = QApplication::style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
    }
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

// Renders the SVG afresh for every size and ratio asked for, instead of scaling one bitmap.
class TzSvgIconEngine : public QIconEngine
{
public:
    explicit TzSvgIconEngine(const QString &aName) : fName(aName) {}

    QPixmap pixmap(const QSize &aSize, QIcon::Mode aMode, QIcon::State) override
    {
        return RenderPicture(fName, aSize, aMode);
    }

    void paint(QPainter *aPainter, const QRect &aRect, QIcon::Mode aMode, QIcon::State aState) override
    {
        // The engine's device is where the pixels land (the window's backing store, or the image
        // a widget is rendered into); its ratio is the one that matters.
        const QPaintDevice *target = aPainter->paintEngine() ? aPainter->paintEngine()->paintDevice() : nullptr;
        if (!target)
            target = aPainter->device();
        const qreal ratio = target ? target->devicePixelRatioF() : 1.0;
        QPixmap picture = pixmap((QSizeF(aRect.size()) * ratio).toSize(), aMode, aState);
        picture.setDevicePixelRatio(ratio);
        aPainter->drawPixmap(aRect.topLeft(), picture);
    }

    QSize actualSize(const QSize &aSize, QIcon::Mode, QIcon::State) override { return aSize; }
    QIconEngine *clone() const override { return new TzSvgIconEngine(fName); }
    QString key() const override { return QStringLiteral("TzSvgIconEngine"); }

private:
    QString fName;
};

// A picture button seen by assistive technology: role button, named by its hint, with a press
// action; a picture with a context menu also offers that menu.
class TzPictureAccessible : public QAccessibleWidget
{
public:
    explicit TzPictureAccessible(TzPictureLabel *aPicture) : QAccessibleWidget(aPicture, QAccessible::Graphic) {}

    // Asked each time: the interface may exist before the picture is made a button.
    QAccessible::Role role() const override
    {
        return Picture()->IsButton() ? QAccessible::Button : QAccessible::Graphic;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (!widget()->isEnabled())
            return names;
        if (Picture()->IsButton())
            names << pressAction();
        if (widget()->contextMenuPolicy() == Qt::ActionsContextMenu
            || widget()->contextMenuPolicy() == Qt::DefaultContextMenu)
            if (!widget()->actions().isEmpty())
                names << showMenuAction();
        return names;
    }

    void doAction(const QString &aAction) override
    {
        if (!widget()->isEnabled())
            return;
        if (aAction == pressAction() && Picture()->IsButton()) {
            Picture()->Click();
        } else if (aAction == showMenuAction()) {
            const QPoint centre = widget()->rect().center();
            QContextMenuEvent event(QContextMenuEvent::Keyboard, centre, widget()->mapToGlobal(centre));
            QCoreApplication::sendEvent(widget(), &event);
        }
    }

    QStringList keyBindingsForAction(const QString &aAction) const override
    {
        if (aAction == pressAction())
            return {QStringLiteral("Space"), QStringLiteral("Return")};
        if (aAction == showMenuAction())
            return {QStringLiteral("Menu"), QStringLiteral("Shift+F10")};
        return {};
    }

private:
    TzPictureLabel *Picture() const { return static_cast<TzPictureLabel *>(widget()); }
};

const char *const ValueCaptionProperty = "valueCaption";

// A label that shows a value: its caption names it, the value follows, so a screen reader says
// "Идентификатор: 01-02-03-0A-0B-0C" where it would otherwise say one of the two.
class TzValueLabelAccessible : public QAccessibleWidget
{
public:
    explicit TzValueLabelAccessible(QLabel *aLabel) : QAccessibleWidget(aLabel, QAccessible::StaticText) {}

    QString text(QAccessible::Text aText) const override
    {
        const auto *label = static_cast<const QLabel *>(widget());
        switch (aText) {
        case QAccessible::Name:
            return QStringLiteral("%1: %2").arg(label->property(ValueCaptionProperty).toString(), label->text());
        case QAccessible::Value: return label->text();
        default: return QAccessibleWidget::text(aText);
        }
    }
};

QAccessibleInterface *PictureAccessibleFactory(const QString &aClassName, QObject *aObject)
{
    if (!aObject || !aObject->isWidgetType())
        return nullptr;
    if (aClassName == QLatin1String("TzPictureLabel"))
        return new TzPictureAccessible(static_cast<TzPictureLabel *>(aObject));
    if (aClassName == QLatin1String("QLabel") && aObject->property(ValueCaptionProperty).isValid())
        return new TzValueLabelAccessible(static_cast<QLabel *>(aObject));
    return nullptr;
}

} // namespace

QIcon PanelIcon(const QString &aName)
{
    return QIcon(new TzSvgIconEngine(aName));
}

QPixmap PanelPicture(const QString &aName, const QSize &aSize, qreal aDevicePixelRatio)
{
    QPixmap pixmap = RenderPicture(aName, (QSizeF(aSize) * aDevicePixelRatio).toSize(), QIcon::Normal);
    pixmap.setDevicePixelRatio(aDevicePixelRatio);
    return pixmap;
}

void InstallPictureAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    QAccessible::installFactory(PictureAccessibleFactory);
    installed = true;
}

void MarkValueLabel(QLabel *aLabel, const QString &aCaption)
{
    if (!aLabel)
        return;
    aLabel->setProperty(ValueCaptionProperty, aCaption);
    // A label without a name of its own announces each new text as a change of its name.
    aLabel->setAccessibleName(QString());
    // With assistive technology running, the label may have been asked for before: that answer
    // goes, so the next question gets the caption and the value.
    QAccessibleInterface *known = QAccessible::queryAccessibleInterface(aLabel);
    if (known && !dynamic_cast<TzValueLabelAccessible *>(known))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
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
    fPicture = aPicture;
    QSvgRenderer renderer(PictureFile(aPicture));
    setFixedSize(renderer.isValid() ? renderer.defaultSize() : QSize(16, 16));
    update();
}

void TzPictureLabel::SetButton(bool aButton)
{
    fButton = aButton;
    setFocusPolicy(aButton ? Qt::StrongFocus : Qt::NoFocus);
    setCursor(aButton ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TzPictureLabel::Click()
{
    emit clicked();
}

QSize TzPictureLabel::sizeHint() const
{
    return size();
}

void TzPictureLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Drawn from the vectors at the label's own size and the screen's pixel ratio.
    PanelIcon(fPicture).paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TzPictureLabel::mousePressEvent(QMouseEvent *aEvent)
{
    if (aEvent->button() == Qt::LeftButton) {
        // The press belongs to the picture: it must not travel on to the frame, where a press on
        // the bare surface closes the pop-up panels.
        aEvent->accept();
        emit clicked();
        return;
    }
    QLabel::mousePressEvent(aEvent);
}

void TzPictureLabel::keyPressEvent(QKeyEvent *aEvent)
{
    const int key = aEvent->key();
    if (fButton && !aEvent->isAutoRepeat() && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        aEvent->accept();
        Click();
        return;
    }
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && aEvent->modifiers() == Qt::ShiftModifier)) {
        if (contextMenuPolicy() != Qt::NoContextMenu && contextMenuPolicy() != Qt::PreventContextMenu) {
            aEvent->accept();
            const QPoint centre = rect().center();
            QContextMenuEvent event(QContextMenuEvent::Keyboard, centre, mapToGlobal(centre));
            QCoreApplication::sendEvent(this, &event);
            return;
        }
    }
    QLabel::keyPressEvent(aEvent);
}
