#pragma once
// Where the panel keeps Options.xml and the Projects folder: beside the program when the
// program's folder is writable (a portable copy, the build folder), otherwise in the user's
// configuration folder, as for a program installed under /usr. QUADREL_SETTINGS_DIR, when set,
// names the folder outright (a second set of settings, or a test's own folder).

#include <QString>

// The rule itself: aProgramDir when writable, else aUserConfigHome + "quadrel-panel/". Both
// folders and the result end with a separator.
QString SettingsFolderFor(const QString &aProgramDir, bool aProgramDirWritable, const QString &aUserConfigHome);

// The folder for this process, with a trailing separator.
QString SettingsFolder();
QString OptionsFileName();
QString ProjectFolder();
