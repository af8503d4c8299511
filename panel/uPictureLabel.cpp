#include "panel/uPictureLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

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
