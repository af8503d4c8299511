#include "settings/uSettingsPlace.h"

#include "VelorCommonUtils/PathUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

bool FolderIsWritable(const QString &aFolder)
{
#ifdef Q_OS_WIN
    return QFileInfo(aFolder).isWritable();
#else
    return ::access(QFile::encodeName(aFolder).constData(), W_OK | X_OK) == 0;
#endif
}

} // namespace

QString SettingsFolderFor(const QString &aProgramDir, bool aProgramDirWritable, const QString &aUserConfigHome)
{
    const QChar separator = NativePathSeparator();
    if (aProgramDirWritable)
        return WithTrailingSeparator(aProgramDir, separator);
    return WithTrailingSeparator(aUserConfigHome, separator) + QStringLiteral("quadrel-panel") + separator;
}

QString SettingsFolder()
{
    const QChar separator = NativePathSeparator();
    const QString chosen = qEnvironmentVariable("QUADREL_SETTINGS_DIR");
    if (!chosen.isEmpty())
        return WithTrailingSeparator(QDir::toNativeSeparators(chosen), separator);
    const QString programDir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    return SettingsFolderFor(programDir, FolderIsWritable(programDir), UserConfigHome());
}

QString OptionsFileName()
{
    return SettingsFolder() + QStringLiteral("Options.xml");
}

QString ProjectFolder()
{
    return SettingsFolder() + QStringLiteral("Projects") + NativePathSeparator();
}
