#pragma once
// Replacing a settings file without ever leaving half of it behind: the new contents go to a
// temporary file in the same folder, which is flushed to disk and then renamed over the old file.
// A crash, a kill or a full disk during the save leaves the previous file as it was; the temporary
// file such a save left behind is removed by a later save of that file.

#include <QByteArray>
#include <QString>

enum class TzFileAccess { Shared, OwnerOnly };

// Writes aContents to aFileName; false and the reason in aError (never the contents) when the file
// could not be replaced. OwnerOnly creates the file readable and writable by its owner alone, also
// when it replaces a file that others could read.
bool SaveFileReplacing(const QString &aFileName, const QByteArray &aContents, TzFileAccess aAccess,
                       QString *aError = nullptr);
