#include "app/uProgramInfo.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>

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
    return QIcon(QStringLiteral(":/quadrel-panel.svg"));
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
