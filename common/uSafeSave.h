#pragma once
// Replacing a settings file without ever leaving half of it behind: the new contents go to a
// temporary file in the same folder, which is flushed to disk and then renamed over the old file.
// A crash, a kill or a full disk during the save leaves the previous file as it was. The
// temporary file has a name no person would choose (".Options.xml.quadrel-save-<pid>-<random>.tmp"),
// so that one such a save left behind can be told apart from the operator's own files: a later
// save of that file removes it once it is a minute old, and never removes anything else.

#include <QByteArray>
#include <QString>

enum class TzFileAccess { Shared, OwnerOnly };

// What a settings path names on disk. A link counts as what it leads to; a link that leads
// nowhere is NotAFile. A path that cannot be looked at counts as File: reading or writing it then
// fails with its own reason.
enum class TzPathKind { Missing, File, NotAFile };

// aWhat receives, for NotAFile, what is there instead, in Russian ("папка", "устройство",
// "ссылка на папку", ...).
TzPathKind PathKindOf(const QString &aPath, QString *aWhat = nullptr);

class QFile;

// Opens aFile (named already) for reading when it is a regular file (a link to one is followed);
// false and the reason, in Russian, otherwise. Never waits on a pipe or a device.
bool OpenRegularForReading(QFile &aFile, QString *aReason = nullptr);

// Writes aContents to aFileName; false and the reason in aError (never the contents) when the file
// could not be replaced. OwnerOnly creates the file readable and writable by its owner alone, also
// when it replaces a file that others could read. Only a regular file is replaced; a link to one
// is followed and the file it leads to is replaced; anything else (a folder, a device, a pipe, a
// link to one of those or to nothing) is left alone and the save fails.
bool SaveFileReplacing(const QString &aFileName, const QByteArray &aContents, TzFileAccess aAccess,
                       QString *aError = nullptr);

// Whether aName is the name of a temporary file a save of aTargetName makes.
bool IsSaveTemporaryName(const QString &aName, const QString &aTargetName);

// Moves a file the panel cannot use out of the way, beside it, under a name that says why:
// "<name>.<aMark>-YYYYMMDD-HHMMSS" ("-2", "-3", ... added when that name is taken). The new path,
// or an empty string and the reason in aError.
QString SetFileAside(const QString &aFileName, const QString &aMark, QString *aError = nullptr);

#ifndef Q_OS_WIN
// The operator's words for a failed system call's errno ("нет прав доступа", ...).
QString SystemErrorText(int aErrno);
#endif

// A path as the operator reads it in a message: in guillemets, with the platform's separators.
QString QuotedPath(const QString &aPath);
