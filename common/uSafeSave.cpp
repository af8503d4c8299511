#include "common/uSafeSave.h"

#include <QFileInfo>
#include <QSaveFile>

bool SaveFileReplacing(const QString &aFileName, const QByteArray &aContents, TzFileAccess aAccess, QString *aError)
{
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
