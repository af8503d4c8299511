#include "panel/uAutorun.h"

#include "VelorCommonUtils/PathUtils.h"
#include "common/uSafeSave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "panel/uAutorun_win.h"
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace {

const QString Argument = QStringLiteral(" /autorun");

QString ProgramPath()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

#ifdef Q_OS_WIN
const wchar_t *const RunValueName = L"Panel Quadrel";

class TzRunKeyRegistration : public IzAutorunRegistration
{
public:
    QString Command() const override { return QString::fromStdWString(ReadRunValueWin(RunValueName)); }
    bool Write(const QString &aCommand, QString *aError) override
    {
        if (WriteRunValueWin(RunValueName, aCommand.toStdWString()))
            return true;
        if (aError)
            *aError = QStringLiteral("запись автозапуска в реестр не удалась");
        return false;
    }
    bool Delete(QString *aError) override
    {
        if (DeleteRunValueWin(RunValueName))
            return true;
        if (aError)
            *aError = QStringLiteral("удаление автозапуска из реестра не удалось");
        return false;
    }
};
#else
// The autostart entry's Exec value holds the command; the rest of the entry is fixed.
class TzDesktopEntryRegistration : public IzAutorunRegistration
{
public:
    QString Command() const override
    {
        QFile file(AutostartEntryFileName());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QString text = QString::fromUtf8(line).trimmed();
            if (text.startsWith(QStringLiteral("Exec=")))
                return text;
        }
        return QString();
    }
    bool Write(const QString &aCommand, QString *aError) override
    {
        const QString fileName = AutostartEntryFileName();
        if (!QDir().mkpath(QFileInfo(fileName).absolutePath())) {
            if (aError)
                *aError = QStringLiteral("%1: папка не создаётся").arg(QFileInfo(fileName).absolutePath());
            return false;
        }
        const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Панель управления Quadrel\n")
                              + aCommand + QStringLiteral("\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
        return SaveFileReplacing(fileName, entry.toUtf8(), TzFileAccess::Shared, aError);
    }
    bool Delete(QString *aError) override
    {
        const QString fileName = AutostartEntryFileName();
        if (::unlink(QFile::encodeName(fileName).constData()) == 0 || errno == ENOENT)
            return true;
        if (aError)
            *aError = QStringLiteral("%1: запись автозапуска не удаляется (%2)")
                          .arg(QuotedPath(fileName), SystemErrorText(errno));
        return false;
    }
};
#endif

// What the registration holds for this program.
QString ExpectedCommand()
{
#ifdef Q_OS_WIN
    return AutorunCommand(ProgramPath());
#else
    return DesktopExecLine(ProgramPath());
#endif
}

} // namespace

std::unique_ptr<IzAutorunRegistration> NewAutorunRegistration()
{
#ifdef Q_OS_WIN
    return std::make_unique<TzRunKeyRegistration>();
#else
    return std::make_unique<TzDesktopEntryRegistration>();
#endif
}

QString AutorunCommand(const QString &aProgramPath)
{
    // Quoted, so a folder with a space in its name cannot start another program.
    return u'"' + aProgramPath + u'"' + Argument;
}

QString AutostartEntryFileName()
{
    return UserConfigHome() + QStringLiteral("autostart/panel-quadrel.desktop");
}

QString DesktopExecLine(const QString &aProgramPath)
{
    // Inside the quotes of an Exec value ", `, $ and \ are escaped, and the value as a whole
    // doubles its backslashes; % stands for field codes and is doubled.
    QString quoted;
    for (const QChar c : aProgramPath) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return QStringLiteral("Exec=\"") + quoted + u'"' + Argument;
}

bool RunKeyValueMatches()
{
    const QString registered = NewAutorunRegistration()->Command();
#ifdef Q_OS_WIN
    // A registration written before the path was quoted still counts.
    if (registered == ProgramPath() + Argument)
        return true;
#endif
    return !registered.isEmpty() && registered == ExpectedCommand();
}

bool RunKeyWrite(QString *aError)
{
    return NewAutorunRegistration()->Write(ExpectedCommand(), aError);
}

bool RunKeyDelete(QString *aError)
{
    return NewAutorunRegistration()->Delete(aError);
}
