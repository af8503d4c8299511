#pragma once
// Path arithmetic of the suite's configuration layer. The separator is a parameter, so the Windows
// form ("C:\A\B\", "\\server\share\") and the POSIX form ("/opt/a/") follow the same rules and are
// both tested on any platform.

#include <QChar>
#include <QString>

// The separator of the platform's own paths.
QChar NativePathSeparator();

// Applies aPath to aBase: an absolute aPath replaces the base, "." and empty parts are skipped,
// ".." drops the last kept folder but never climbs above a root (a drive "C:", a UNC share
// "\\server\share", or "/"). A result keeps a trailing separator exactly when aPath had one.
QString CombinePath(const QString &aBase, const QString &aPath, QChar aSeparator);
QString CombinePath(const QString &aBase, const QString &aPath);

// Expands $NAME, ${NAME} and %NAME% from the environment; a variable that is not set stays as
// written, as the Windows expansion leaves it.
QString ExpandEnvironment(const QString &aText);

// The user's configuration folder with a trailing separator: %APPDATA% on Windows, otherwise
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
QString UserConfigHome();

// aPath with exactly one trailing separator.
QString WithTrailingSeparator(const QString &aPath, QChar aSeparator);
