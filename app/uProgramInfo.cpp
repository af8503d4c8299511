#include "app/uProgramInfo.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#ifndef QUADREL_VERSION
#define QUADREL_VERSION "0.0.0"
#endif

QString ProgramName()
{
    return QStringLiteral("quadrel-panel");
}

QString ProgramDisplayName()
{
    return QStringLiteral("Панель управления Quadrel");
}

QString ProgramVersion()
{
    return QStringLiteral(QUADREL_VERSION);
}

QIcon ProgramIcon()
{
    // Drawn from the SVG at the usual icon sizes, so no image-format plug-in is needed.
    QIcon icon;
    QSvgRenderer renderer(QStringLiteral(":/quadrel-panel.svg"));
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void ApplyProgramIdentity()
{
    QCoreApplication::setApplicationName(ProgramName());
    QCoreApplication::setApplicationVersion(ProgramVersion());
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QGuiApplication::setApplicationDisplayName(ProgramDisplayName());
        QGuiApplication::setDesktopFileName(ProgramName());
        QGuiApplication::setWindowIcon(ProgramIcon());
    }
}
