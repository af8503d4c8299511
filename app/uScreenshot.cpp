#include "app/uScreenshot.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QPixmap>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// Why nothing can be written into aFolder, or an empty text when it can.
QString FolderRefusal(const QString &aFolder)
{
    const QString shown = QDir::toNativeSeparators(aFolder);
    const QFileInfo folder(aFolder);
    if (!folder.exists())
        return QStringLiteral("папки «%1» нет").arg(shown);
    if (!folder.isDir())
        return QStringLiteral("«%1» не папка").arg(shown);
#ifdef Q_OS_WIN
    if (!folder.isWritable())
        return QStringLiteral("нет права записи в папку «%1»").arg(shown);
#else
    if (::access(QFile::encodeName(aFolder).constData(), W_OK | X_OK) != 0) {
        if (errno == EROFS)
            return QStringLiteral("папка «%1» на носителе только для чтения").arg(shown);
        return QStringLiteral("нет права записи в папку «%1»").arg(shown);
    }
#endif
    return {};
}

} // namespace

bool SaveScreenshot(const QPixmap &aPicture, const QString &aFileName, QString *aReason)
{
    const auto fail = [aReason](const QString &aWhy) {
        if (aReason)
            *aReason = aWhy;
        return false;
    };
    const QFileInfo target(aFileName);
    if (target.isDir())
        return fail(QStringLiteral("по этому пути находится папка"));
    const QByteArray format = target.suffix().toLower().toLatin1();
    if (format.isEmpty())
        return fail(QStringLiteral("формат не указан: имя файла должно оканчиваться его расширением, например .png"));
    if (!QImageWriter::supportedImageFormats().contains(format))
        return fail(QStringLiteral("формат «%1» не поддерживается").arg(QString::fromLatin1(format)));
    if (const QString refusal = FolderRefusal(target.absolutePath()); !refusal.isEmpty())
        return fail(refusal);

    QSaveFile file(aFileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("файл не создаётся: %1").arg(file.errorString()));
    QImageWriter writer(&file, format);
    if (!writer.write(aPicture.toImage())) {
        file.cancelWriting();
        return fail(QStringLiteral("изображение не записано: %1").arg(writer.errorString()));
    }
    if (!file.commit())
        return fail(QStringLiteral("файл не записан: %1").arg(file.errorString()));
    return true;
}
