#include "common/uSafeSave.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString SaveMark = QStringLiteral(".quadrel-save-");
const QString SaveSuffix = QStringLiteral(".tmp");
constexpr int RandomLength = 6;

bool IsAlphanumeric(QChar aChar)
{
    return (aChar >= u'a' && aChar <= u'z') || (aChar >= u'A' && aChar <= u'Z') || (aChar >= u'0' && aChar <= u'9');
}

#ifndef Q_OS_WIN

QString RandomPart()
{
    static const char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString text;
    for (int i = 0; i < RandomLength; ++i)
        text += QLatin1Char(Alphabet[QRandomGenerator::global()->bounded(int(sizeof(Alphabet) - 1))]);
    return text;
}

QString TemporaryNameFor(const QString &aTargetName)
{
    return u'.' + aTargetName + SaveMark + QString::number(QCoreApplication::applicationPid()) + u'-' + RandomPart()
           + SaveSuffix;
}

// A save killed midway (a power cut, kill -9) leaves its temporary file beside the settings file.
// Each save of the file removes those of its own name pattern that are older than a minute;
// younger ones may be a save of another panel running at the same time. Nothing else is touched.
void RemoveLeftoversOfKilledSaves(const QString &aFolder, const QString &aTargetName)
{
    const QDateTime settled = QDateTime::currentDateTimeUtc().addSecs(-60);
    // Matched by hand: a name filter would compile a pattern on every save.
    QDirIterator entries(aFolder, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (entries.hasNext()) {
        entries.next();
        if (IsSaveTemporaryName(entries.fileName(), aTargetName) && entries.fileInfo().lastModified().toUTC() < settled)
            QFile::remove(entries.filePath());
    }
}

// The operator's words for what went wrong in a system call.
QString SystemReason(int aError)
{
    switch (aError) {
    case EACCES:
    case EPERM: return QStringLiteral("нет прав доступа");
    case EROFS: return QStringLiteral("диск открыт только для чтения");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("нет места на диске");
    case ENOENT: return QStringLiteral("папка не найдена");
    case ENOTDIR: return QStringLiteral("часть пути не является папкой");
    case EISDIR: return QStringLiteral("на месте файла папка");
    case EIO: return QStringLiteral("ошибка ввода-вывода");
    case EMFILE:
    case ENFILE: return QStringLiteral("открыто слишком много файлов");
    case ENAMETOOLONG: return QStringLiteral("слишком длинное имя");
    case EBUSY: return QStringLiteral("файл занят");
    default: return QStringLiteral("системная ошибка %1").arg(aError);
    }
}

QByteArray Native(const QString &aPath)
{
    return QFile::encodeName(aPath);
}

// Writes the new file, flushes it to disk and renames it over aTarget; the reason on failure.
QString WriteAndReplace(const QString &aTarget, const QByteArray &aContents, TzFileAccess aAccess)
{
    const QFileInfo target(aTarget);
    const QString folder = target.absolutePath();
    // A shared file keeps the permissions it had; a new one gets the usual ones (less the umask).
    mode_t mode = aAccess == TzFileAccess::OwnerOnly ? 0600 : 0666;
    bool keepMode = false;
    struct stat existing{};
    if (aAccess == TzFileAccess::Shared && ::stat(Native(aTarget).constData(), &existing) == 0) {
        mode = existing.st_mode & 0777;
        keepMode = true;
    }

    QString temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temporary = folder + u'/' + TemporaryNameFor(target.fileName());
        fd = ::open(Native(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return QStringLiteral("не удалось создать новый файл в папке %1 (%2)")
            .arg(QuotedPath(folder), SystemReason(errno));

    auto fail = [&](const QString &aStep) {
        const int error = errno;
        ::close(fd);
        ::unlink(Native(temporary).constData());
        return QStringLiteral("%1 (%2)").arg(aStep, SystemReason(error));
    };
    // The new file gets its final permissions before any byte is written into it.
    if ((keepMode || aAccess == TzFileAccess::OwnerOnly) && ::fchmod(fd, mode) != 0)
        return fail(QStringLiteral("не удалось задать права нового файла"));
    const char *data = aContents.constData();
    qsizetype left = aContents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return fail(QStringLiteral("не удалось записать новый файл"));
        }
        data += written;
        left -= written;
    }
    if (::fsync(fd) != 0)
        return fail(QStringLiteral("не удалось записать новый файл на диск"));
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(Native(temporary).constData());
        return QStringLiteral("не удалось записать новый файл (%1)").arg(SystemReason(error));
    }
    if (::rename(Native(temporary).constData(), Native(aTarget).constData()) != 0) {
        const int error = errno;
        ::unlink(Native(temporary).constData());
        return QStringLiteral("не удалось заменить файл (%1)").arg(SystemReason(error));
    }
    // The rename itself reaches the disk with the folder.
    const int folderFd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return QString();
}

#else

QString FileErrorReason(QFileDevice::FileError aError)
{
    switch (aError) {
    case QFileDevice::PermissionsError: return QStringLiteral("нет прав доступа");
    case QFileDevice::ResourceError: return QStringLiteral("нет места на диске");
    case QFileDevice::OpenError: return QStringLiteral("файл не открывается");
    case QFileDevice::WriteError: return QStringLiteral("ошибка записи");
    case QFileDevice::RenameError: return QStringLiteral("файл не переименовывается");
    default: return QStringLiteral("ошибка файла %1").arg(int(aError));
    }
}

// Windows renames over an existing file only through its own call; QSaveFile makes it. Its
// temporary name cannot be told from an operator's file, so nothing is ever removed here.
QString WriteAndReplace(const QString &aTarget, const QByteArray &aContents, TzFileAccess aAccess)
{
    QSaveFile file(aTarget);
    file.setDirectWriteFallback(false);
    auto fail = [&](const QString &aStep) {
        const QString reason = FileErrorReason(file.error());
        file.cancelWriting();
        return QStringLiteral("%1 (%2)").arg(aStep, reason);
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("не удалось создать новый файл в папке %1")
                        .arg(QuotedPath(QFileInfo(aTarget).absolutePath())));
    if (aAccess == TzFileAccess::OwnerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(QStringLiteral("не удалось задать права нового файла"));
    if (file.write(aContents) != aContents.size())
        return fail(QStringLiteral("не удалось записать новый файл"));
    if (!file.commit())
        return QStringLiteral("не удалось заменить файл (%1)").arg(FileErrorReason(file.error()));
    return QString();
}

#endif

} // namespace

QString QuotedPath(const QString &aPath)
{
    return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(aPath));
}

#ifndef Q_OS_WIN
QString SystemErrorText(int aErrno)
{
    return SystemReason(aErrno);
}
#endif

TzPathKind PathKindOf(const QString &aPath, QString *aWhat)
{
    auto notAFile = [aWhat](const QString &aText) {
        if (aWhat)
            *aWhat = aText;
        return TzPathKind::NotAFile;
    };
#ifndef Q_OS_WIN
    struct stat link{};
    // A path that cannot be looked at (a folder on the way without access) counts as a file: what
    // is then done with it fails with a reason of its own.
    if (::lstat(Native(aPath).constData(), &link) != 0)
        return errno == ENOENT || errno == ENOTDIR ? TzPathKind::Missing : TzPathKind::File;
    const bool isLink = S_ISLNK(link.st_mode);
    struct stat target = link;
    if (isLink && ::stat(Native(aPath).constData(), &target) != 0)
        return errno == ENOENT || errno == ENOTDIR ? notAFile(QStringLiteral("ссылка на несуществующий файл"))
                                                   : TzPathKind::File;
    if (S_ISREG(target.st_mode))
        return TzPathKind::File;
    if (S_ISDIR(target.st_mode))
        return notAFile(isLink ? QStringLiteral("ссылка на папку") : QStringLiteral("папка"));
    if (S_ISCHR(target.st_mode) || S_ISBLK(target.st_mode))
        return notAFile(isLink ? QStringLiteral("ссылка на устройство") : QStringLiteral("устройство"));
    if (S_ISFIFO(target.st_mode))
        return notAFile(isLink ? QStringLiteral("ссылка на именованный канал") : QStringLiteral("именованный канал"));
    return notAFile(isLink ? QStringLiteral("ссылка на особый файл") : QStringLiteral("особый файл"));
#else
    const QFileInfo info(aPath);
    if (!info.exists())
        return info.isSymLink() ? notAFile(QStringLiteral("ссылка на несуществующий файл")) : TzPathKind::Missing;
    if (info.isFile())
        return TzPathKind::File;
    return notAFile(info.isDir() ? QStringLiteral("папка") : QStringLiteral("особый файл"));
#endif
}

bool OpenRegularForReading(QFile &aFile, QString *aReason)
{
    auto fail = [aReason](const QString &aText) {
        if (aReason)
            *aReason = aText;
        return false;
    };
#ifndef Q_OS_WIN
    // Opened without waiting (a pipe put in its place meanwhile), and checked once open.
    const int fd = ::open(Native(aFile.fileName()).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fail(QStringLiteral("файл не читается (%1)").arg(SystemReason(errno)));
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(QStringLiteral("это не обычный файл"));
    }
    if (!aFile.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(QStringLiteral("файл не читается"));
    }
    return true;
#else
    return aFile.open(QIODevice::ReadOnly) || fail(QStringLiteral("файл не читается"));
#endif
}

bool IsSaveTemporaryName(const QString &aName, const QString &aTargetName)
{
    // "." + target + ".quadrel-save-" + digits + "-" + six letters or digits + ".tmp"
    const qsizetype head = 1 + aTargetName.size() + SaveMark.size();
    if (aName.size() < head + 2 + RandomLength + SaveSuffix.size() || !aName.startsWith(u'.')
        || !QStringView(aName).mid(1).startsWith(aTargetName)
        || !QStringView(aName).mid(1 + aTargetName.size()).startsWith(SaveMark) || !aName.endsWith(SaveSuffix))
        return false;
    const QStringView middle = QStringView(aName).mid(head, aName.size() - head - SaveSuffix.size());
    const qsizetype dash = middle.size() - RandomLength - 1;
    if (dash < 1 || middle[dash] != u'-')
        return false;
    for (qsizetype i = 0; i < middle.size(); ++i) {
        const bool ok = i < dash ? middle[i].isDigit() && middle[i].unicode() < 128
                                 : i == dash || IsAlphanumeric(middle[i]);
        if (!ok)
            return false;
    }
    return true;
}

bool SaveFileReplacing(const QString &aFileName, const QByteArray &aContents, TzFileAccess aAccess, QString *aError)
{
    auto fail = [&](const QString &aReason) {
        if (aError)
            *aError = QStringLiteral("%1: %2").arg(QuotedPath(aFileName), aReason);
        return false;
    };
    QString what;
    QString target = aFileName;
    switch (PathKindOf(aFileName, &what)) {
    case TzPathKind::NotAFile:
        // A save never puts a file in the place of a folder, a device or a pipe.
        return fail(QStringLiteral("на этом месте %1, а не файл; файл не заменён").arg(what));
    case TzPathKind::File:
        // A link to a regular file stays a link: the file it leads to is replaced.
        if (QFileInfo(aFileName).isSymLink()) {
            target = QFileInfo(aFileName).canonicalFilePath();
            if (target.isEmpty())
                return fail(QStringLiteral("ссылка ведёт в никуда; файл не заменён"));
        }
        break;
    case TzPathKind::Missing: break;
    }
    const QFileInfo info(target);
#ifndef Q_OS_WIN
    RemoveLeftoversOfKilledSaves(info.absolutePath(), info.fileName());
#endif
    const QString reason = WriteAndReplace(info.absoluteFilePath(), aContents, aAccess);
    return reason.isEmpty() || fail(reason);
}

QString SetFileAside(const QString &aFileName, const QString &aMark, QString *aError)
{
    const QString base = aFileName + u'.' + aMark + u'-'
                         + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo(aside).exists() || QFileInfo(aside).isSymLink(); ++n)
        aside = base + u'-' + QString::number(n);
#ifndef Q_OS_WIN
    // A plain rename: the file (or the link) moves as it is, nothing is copied.
    if (::rename(Native(aFileName).constData(), Native(aside).constData()) != 0) {
        if (aError)
            *aError = SystemReason(errno);
        return QString();
    }
#else
    if (!QFile::rename(aFileName, aside)) {
        if (aError)
            *aError = QStringLiteral("файл не переименовывается");
        return QString();
    }
#endif
    return aside;
}
