#pragma once
// --screenshot: the window's picture written to a file, or the reason it could not be, in words
// an operator can act on (the folder is missing, not writable, the path is a folder, ...).

#include <QString>

class QPixmap;

// Writes aPicture to aFileName in the format its extension names, replacing the file only once the
// new one is complete. On failure aReason (when given) says why, in Russian, without the path.
bool SaveScreenshot(const QPixmap &aPicture, const QString &aFileName, QString *aReason);
