#include "common/uSafeSave.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

// A save killed midway (a power cut, kill -9) leaves its temporary file beside the settings file:
// "<name>.XXXXXX", six letters or digits. Each save of the file removes those older than a minute;
// younger ones may be a save of another panel running at the same time.
void RemoveLeftoversOfKilledSaves(const QString &aFileName)
{
    const QFileInfo target(aFileName);
    const QString prefix = target.fileName() + u'.';
    const QDateTime settled = QDateTime::currentDateTimeUtc().addSecs(-60);
    // Matched by hand: a name filter would compile a pattern on every save.
    QDirIterator entries(target.absolutePath(), QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
            continue;
        const QString suffix = name.right(6);
        const bool temporaryName = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        });
        if (temporaryName && entries.fileInfo().lastModified().toUTC() < settled)
            QFile::remove(entries.filePath());
    }
}

} // namespace

bool SaveFileReplacing(const QString &aFileName, const QByteArray &aContents, TzFileAccess aAccess, QString *aError)
{
    RemoveLeftoversOfKilledSaves(aFileName);
    QSaveFile file(aFileName);
    // Writing in place would defeat the purpose: a folder without room for the temporary file fails.
    file.setDirectWriteFallback(false);
    auto fail = [&](const QString &aReason) {
        if (aError)
            *aError = QStringLiteral("%1: %2").arg(QFileInfo(aFileName).fileName(), aReason);
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // The temporary file gets its final permissions before any byte is written into it.
    if (aAccess == TzFileAccess::OwnerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(file.errorString());
    if (file.write(aContents) != aContents.size())
        return fail(file.errorString());
    if (!file.commit()) {
        if (aError)
            *aError = QStringLiteral("%1: %2").arg(QFileInfo(aFileName).fileName(), file.errorString());
        return false;
    }
    return true;
}
