#pragma once
// The settings folder of a test program (see TestSettingsIsolation.cpp): emptied between test
// functions, so what one test saved never changes how the next one's panel starts.

#include <QDir>
#include <QString>

inline QString TestSettingsFolder()
{
    return qEnvironmentVariable("QUADREL_SETTINGS_DIR");
}

inline void ClearTestSettings()
{
    const QString folder = TestSettingsFolder();
    if (folder.isEmpty())
        return;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}
